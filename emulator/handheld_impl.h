#pragma once
// What the parts of EmulatedHandheld share (emulated_handheld.cc: how a call
// runs; handheld_rapi.cc: the remote calls; handheld_admin.cc: hhctl's and
// the tests' administration): the image, the session state of one instance,
// and the two ways a call runs against the image. Not for use outside
// emulator/.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "emulator/emulated_handheld.h"
#include "emulator/handheld_image.h"

namespace hhsync {

// Win32 error codes the handheld uses besides those in rapi.h.
inline constexpr uint32_t kErrorGenFailure = 31;
// What the desktop says when a call failed without any code from the
// handheld.
inline constexpr const char* kConnectionLostText = "The connection to the device has been lost.";
inline constexpr uint32_t kErrorFileExists = 80;

// Base values of the per-instance handles; neither collides with
// kInvalidHandle nor with the predefined registry roots.
inline constexpr CeDbHandle kFirstDbHandle = 0x1000;
inline constexpr CeHKey kFirstKeyHandle = 0x100;

// The outcome of a remote operation: success, or failure with the handheld
// error code it leaves behind (which may be 0).
struct Outcome {
  bool failed = false;
  uint32_t error = 0;
};
inline Outcome Ok() { return {}; }
inline Outcome Fail(uint32_t error) { return {true, error}; }

// The HRESULT that carries a handheld error; E_FAIL when there is none.
int32_t HResultOf(uint32_t error);

// Registry paths are kept without leading or trailing backslashes.
std::string NormalizeKeyPath(std::string path);
// The library's name on the handheld: without a folder or a ".dll" ending.
std::string LibraryBaseName(const std::string& library);
// Whether a library (by its base name) is the program's companion library,
// the one that acts as the handheld side of the program.
bool IsCompanionLibrary(const std::string& baseName);
// Whether records may hold properties of this identifier's type.
bool KnownType(CEPROPID id);

struct EmulatedHandheld::Impl {
  Impl(std::string path, Clock& c) : image(std::move(path)), clock(c) {}

  HandheldImage image;
  Clock& clock;
  std::mutex mu;
  uint32_t lastError = 0;
  std::string desktopError;  // text of the last call's desktop-side failure
  std::string trouble;       // the first desktop-side failure since connecting began
  std::string noAnswer;      // why the last wait for the connection ran out
  // The image is there but could not be opened when connecting began.
  bool unusable = false;
  // A connection was made (CeRapiInitEx and a signalled wait) and not yet
  // ended by CeRapiUninit; remote calls fail without one.
  bool session = false;

  // Session state of this instance.
  struct Mount {
    int64_t volume = 0;
    CeGuid guid;
  };
  std::vector<Mount> mounts;
  uint32_t nextMountSerial = 1;
  struct OpenDb {
    CEOID oid = 0;
    CEOID lastRead = 0;  // the id of the last record read through this handle
  };
  std::map<CeDbHandle, OpenDb> handles;
  CeDbHandle nextHandle = kFirstDbHandle;
  std::map<CeHKey, std::string> keys;  // open key -> its path
  CeHKey nextKey = kFirstKeyHandle;

  using Access = HandheldImage::Access;
  // Runs one remote operation in one transaction: counts the call when a
  // fault is armed on it, applies faults, requires a connected handheld,
  // then does the work. The work's changes are undone when it fails; a
  // fault's count stays. A kRead operation must not change the image (it
  // runs without the write lock unless a fault needs counting). Leaves the
  // outcome's error as the last error. Takes the lock.
  Outcome Run(const char* op, Access access, const std::function<Outcome()>& work);
  // Counts a call of op that needs no connection (connecting and ending
  // one). The error of a fault that fires, if any; *connected tells whether
  // the image is marked connected. The caller holds the lock.
  std::optional<uint32_t> CountAlone(const char* op, bool* connected = nullptr);
  // Runs an administration step in one transaction; the work returns false
  // with a reason to undo its changes. Takes the lock.
  bool Admin(std::string* err, const std::function<bool(std::string* why)>& work,
             Access access = Access::kWrite);

  // The volume a guid of this instance names, or 0.
  int64_t MountedVolume(const CeGuid& guid) const;
  // The open database a handle names, when the database still exists.
  OpenDb* Handle(CeDbHandle h);
  // The key a root (HKLM or an open key) and sub-key name; false when the
  // root is neither.
  bool ResolveKey(CeHKey root, const std::u16string& subKey, std::string* keyPath) const;
};

}  // namespace hhsync
