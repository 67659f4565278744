// How a call of the emulated handheld runs against its image: the lock, one
// transaction per call, fault counting and the error a failure leaves. The
// calls themselves are in handheld_rapi.cc and handheld_admin.cc; the SQL in
// handheld_image.cc.

#include "emulator/emulated_handheld.h"

#include <algorithm>
#include <utility>

#include "base/text.h"
#include "emulator/handheld_impl.h"

namespace hhsync {
namespace {

std::string JoinKeyPath(const std::string& parent, const std::string& sub) {
  std::string s = NormalizeKeyPath(sub);
  if (parent.empty()) return s;
  if (s.empty()) return parent;
  return parent + "\\" + s;
}

}  // namespace

int32_t HResultOf(uint32_t error) {
  if (error == 0) return static_cast<int32_t>(0x80004005u);  // E_FAIL
  return static_cast<int32_t>(0x80070000u | (error & 0xFFFFu));
}

std::string NormalizeKeyPath(std::string path) {
  std::size_t b = path.find_first_not_of('\\');
  if (b == std::string::npos) return "";
  std::size_t e = path.find_last_not_of('\\');
  return path.substr(b, e - b + 1);
}

std::string LibraryBaseName(const std::string& library) {
  std::string name = library;
  std::size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  if (name.size() > 4 && EqualsNoCase(name.substr(name.size() - 4), ".dll")) {
    name.resize(name.size() - 4);
  }
  return name;
}

bool IsCompanionLibrary(const std::string& baseName) { return EqualsNoCase(baseName, "zvdll"); }

bool KnownType(CEPROPID id) {
  uint16_t t = PropType(id);
  return t == CEVT_UI4 || t == CEVT_LPWSTR || t == CEVT_BLOB;
}

EmulatedHandheld::EmulatedHandheld(std::string imagePath, Clock& clock)
    : impl_(std::make_unique<Impl>(std::move(imagePath), clock)) {}

EmulatedHandheld::~EmulatedHandheld() = default;

Outcome EmulatedHandheld::Impl::Run(const char* op, Access access,
                                    const std::function<Outcome()>& work) {
  std::lock_guard<std::mutex> lock(mu);
  Outcome out;
  // What failed on the desktop's side (the image file, not the handheld it
  // stands for) is said in the desktop's error text.
  std::string desktop;
  if (!image.Open()) {
    out = Fail(kNotConnectedError);
    desktop = image.openError();
  } else {
    try {
      // Whether a fault is armed on op is known only inside a transaction;
      // counting a call writes, so a read starts over as a write then.
      std::optional<HandheldImage::Transaction> t;
      t.emplace(image, access);
      if (access == Access::kRead && image.FaultArmed(op)) {
        t.reset();
        t.emplace(image, Access::kWrite);
      }
      const bool armed = image.FaultArmed(op);
      bool keep = true;
      if (std::optional<uint32_t> fault = armed ? image.CountCall(op) : std::nullopt) {
        out = Fail(*fault);
      } else if (!session || !image.Connected()) {
        out = Fail(kNotConnectedError);
      } else if (armed) {
        // The count stays even when the work is undone.
        image.Mark();
        out = work();
        if (out.failed) image.Undo();
        image.Unmark();
      } else {
        out = work();
        keep = !out.failed;  // a failed call changes nothing
      }
      if (keep) t->Commit();
    } catch (const SqlError& e) {
      if (e.damaged()) {
        out = Fail(kErrorGenFailure);
        desktop = "the handheld image " + image.path() + " is damaged: " + e.what();
      } else {
        // The image could not be read or written (full, read-only, locked):
        // the connection failed, not the handheld, which has no code for it.
        out = Fail(0);
        desktop = "the handheld image " + image.path() + " could not be used: " + e.what();
      }
    } catch (const std::exception& e) {  // a damaged record
      out = Fail(kErrorGenFailure);
      desktop = "the handheld image " + image.path() + " is damaged: " + e.what();
    }
  }
  lastError = out.error;
  if (!desktop.empty()) {
    desktopError = desktop;
    if (trouble.empty()) trouble = desktop;
  } else {
    desktopError = out.failed && out.error == 0 ? kConnectionLostText : "";
  }
  return out;
}

std::optional<uint32_t> EmulatedHandheld::Impl::CountAlone(const char* op, bool* connected) {
  if (connected) *connected = false;
  if (!image.Open()) return std::nullopt;
  try {
    HandheldImage::Transaction read(image, Access::kRead);
    if (!image.FaultArmed(op)) {
      if (connected) *connected = image.Connected();
      read.Commit();
      return std::nullopt;
    }
    read.Commit();
    HandheldImage::Transaction write(image, Access::kWrite);
    std::optional<uint32_t> fault = image.FaultArmed(op) ? image.CountCall(op) : std::nullopt;
    bool marked = image.Connected();
    write.Commit();
    if (connected) *connected = marked;
    return fault;
  } catch (const SqlError&) {
    return std::nullopt;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

bool EmulatedHandheld::Impl::Admin(std::string* err,
                                   const std::function<bool(std::string* why)>& work,
                                   Access access) {
  std::lock_guard<std::mutex> lock(mu);
  if (!image.Open()) {
    if (err) *err = image.openError();
    return false;
  }
  try {
    HandheldImage::Transaction transaction(image, access);
    std::string why;
    if (!work(&why)) {
      if (err) *err = why;
      return false;
    }
    transaction.Commit();
    return true;
  } catch (const SqlError& e) {
    if (err) *err = "handheld image " + image.path() + ": " + e.what();
    return false;
  } catch (const std::exception& e) {
    if (err) *err = "handheld image " + image.path() + " is damaged: " + e.what();
    return false;
  }
}

int64_t EmulatedHandheld::Impl::MountedVolume(const CeGuid& guid) const {
  if (guid.IsZero()) return 0;
  for (const Mount& m : mounts) {
    if (std::equal(std::begin(m.guid.data), std::end(m.guid.data), std::begin(guid.data))) {
      return m.volume;
    }
  }
  return 0;
}

EmulatedHandheld::Impl::OpenDb* EmulatedHandheld::Impl::Handle(CeDbHandle h) {
  auto it = handles.find(h);
  if (it == handles.end() || !image.DatabaseExists(it->second.oid)) return nullptr;
  return &it->second;
}

bool EmulatedHandheld::Impl::ResolveKey(CeHKey root, const std::u16string& subKey,
                                        std::string* keyPath) const {
  std::string parent;
  if (root != kHKeyLocalMachine) {
    auto it = keys.find(root);
    if (it == keys.end()) return false;
    parent = it->second;
  }
  *keyPath = JoinKeyPath(parent, WideToUtf8(subKey));
  return true;
}

}  // namespace hhsync
