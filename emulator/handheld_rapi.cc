// The remote calls of the emulated handheld (the Rapi port): what each call
// checks, changes and answers, with the handheld's error codes. Each runs as
// one transaction through Impl::Run.

#include <sys/stat.h>

#include <algorithm>

#include "base/text.h"
#include "emulator/emulated_handheld.h"
#include "emulator/handheld_impl.h"

namespace hhsync {
namespace {

// Creation dispositions a volume may be mounted with.
constexpr uint32_t kCreateNew = 1;
constexpr uint32_t kCreateAlways = 2;
constexpr uint32_t kOpenAlways = 4;

// Tags the volume identifiers this emulator hands out.
constexpr uint32_t kGuidTag = 0x564F4C45;  // "VOLE"

// What the companion library does on the handheld when it is started:
// publish "sd6" under the product's registry path when it is empty there.
void LaunchApp(HandheldImage& image, const std::string& input) {
  std::string regPath = input.substr(0, input.find('|'));
  std::string keyPath = NormalizeKeyPath(WideToUtf8(AnsiToWide(regPath)) + "sd6");
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (image.DefaultValue(keyPath, &type, &data) && !BytesToWide(data).empty()) return;
  image.SetDefaultValue(keyPath, kRegSz, WideToBytes(Utf8ToWide(image.Meta("sd6"))));
}

bool SameGuid(const CeGuid& a, const CeGuid& b) {
  return std::equal(std::begin(a.data), std::end(a.data), std::begin(b.data));
}

}  // namespace

// --- Connection ------------------------------------------------------------

namespace {

// Why the handheld whose image is at path did not answer: no image (or no
// directory for one), or an image marked disconnected.
std::string NoAnswerReason(const std::string& path) {
  if (HandheldImage::FileExists(path)) {
    return "the handheld image " + path + " is disconnected (hhctl device connect)";
  }
  const std::string dir = path.substr(0, path.find_last_of('/') + 1);
  struct stat st {};
  if (!dir.empty() && (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) {
    return "no handheld image at " + path + ": the directory " + dir + " does not exist";
  }
  return "no handheld image at " + path;
}

}  // namespace

int32_t EmulatedHandheld::CeRapiInitEx(RapiInit* init) {
  init->cbSize = 12;
  init->event = 1;
  init->result = 0;
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->lastError = 0;
  impl_->desktopError.clear();
  impl_->trouble.clear();
  impl_->unusable = false;
  // An image that is there but cannot be opened is a connection that failed
  // at once, for the reason the desktop gives; one that is not there is a
  // handheld not attached, whose wait runs out.
  if (HandheldImage::FileExists(impl_->image.path()) && !impl_->image.Open()) {
    impl_->unusable = true;
    impl_->desktopError = impl_->image.openError();
    impl_->trouble = impl_->desktopError;
    init->result = HResultOf(0);
    return init->result;
  }
  // Connecting itself always starts; whether it completes is WaitForInit's
  // business. Only an injected fault makes it fail at once.
  if (std::optional<uint32_t> fault = impl_->CountAlone("CeRapiInitEx")) {
    impl_->lastError = *fault;
    init->result = HResultOf(*fault);
    return init->result;
  }
  return 0;
}

uint32_t EmulatedHandheld::WaitForInit(RapiInit* init, uint32_t timeoutMs) {
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    // The event of a connection that failed at once is signalled at once,
    // with the failure as the connection's result.
    if (impl_->unusable) {
      init->result = HResultOf(0);
      return kWaitObject0;
    }
    bool connected = false;
    std::optional<uint32_t> fault = impl_->CountAlone("WaitForInit", &connected);
    if (!fault && connected) {
      impl_->session = true;
      init->result = 0;
      impl_->noAnswer.clear();
      return kWaitObject0;
    }
    impl_->noAnswer = fault ? "" : NoAnswerReason(impl_->image.path());
  }
  impl_->clock.SleepMs(timeoutMs);
  return kWaitTimeout;
}

int32_t EmulatedHandheld::CeRapiUninit() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->session = false;
  impl_->mounts.clear();
  impl_->handles.clear();
  impl_->keys.clear();
  impl_->lastError = 0;
  if (std::optional<uint32_t> fault = impl_->CountAlone("CeRapiUninit")) {
    impl_->lastError = *fault;
    return HResultOf(*fault);
  }
  return 0;
}

uint32_t EmulatedHandheld::CeGetLastError() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->lastError;
}

std::string EmulatedHandheld::DesktopErrorText() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->desktopError;
}

std::string EmulatedHandheld::NoAnswerText() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->noAnswer;
}

std::string EmulatedHandheld::DesktopTrouble() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->trouble;
}

// --- Volumes -----------------------------------------------------------------

bool EmulatedHandheld::CeMountDBVol(CeGuid* guid, const std::u16string& volume, uint32_t flags) {
  Impl& m = *impl_;
  return !m.Run("CeMountDBVol", Impl::Access::kWrite, [&]() -> Outcome {
             if (volume.empty()) return Fail(ce_error::kInvalidParameter);
             std::string name = WideToUtf8(volume);
             int64_t id = m.image.VolumeByName(name);
             if (id != 0 && flags == kCreateNew) return Fail(kErrorFileExists);
             if (id == 0) {
               if (flags != kCreateNew && flags != kCreateAlways && flags != kOpenAlways) {
                 return Fail(ce_error::kFileNotFound);
               }
               id = m.image.AddVolume(name);
             }
             for (const Impl::Mount& mount : m.mounts) {
               if (mount.volume == id) {
                 *guid = mount.guid;
                 return Fail(ce_error::kAlreadyExists);
               }
             }
             Impl::Mount mount;
             mount.volume = id;
             mount.guid.data[0] = kGuidTag;
             mount.guid.data[1] = static_cast<uint32_t>(id);
             mount.guid.data[2] = m.nextMountSerial++;
             m.mounts.push_back(mount);
             *guid = mount.guid;
             return Ok();
           }).failed;
}

bool EmulatedHandheld::CeUnmountDBVol(CeGuid* guid) {
  Impl& m = *impl_;
  return !m.Run("CeUnmountDBVol", Impl::Access::kRead, [&]() -> Outcome {
             auto it = std::find_if(
                 m.mounts.begin(), m.mounts.end(),
                 [&](const Impl::Mount& mount) { return SameGuid(mount.guid, *guid); });
             if (it == m.mounts.end()) return Fail(ce_error::kInvalidParameter);
             m.mounts.erase(it);
             return Ok();
           }).failed;
}

// --- Databases ---------------------------------------------------------------

CeDbHandle EmulatedHandheld::CeOpenDatabaseEx(const CeGuid& guid, CEOID* oid,
                                              const std::u16string& name, CEPROPID sortProp,
                                              uint32_t /*flags*/) {
  Impl& m = *impl_;
  CeDbHandle result = kInvalidHandle;
  m.Run("CeOpenDatabaseEx", Impl::Access::kRead, [&]() -> Outcome {
    int64_t volume = m.MountedVolume(guid);
    if (volume == 0) return Fail(ce_error::kInvalidParameter);
    CEOID found = 0;
    if (*oid != 0) {
      if (m.image.DatabaseInVolume(volume, *oid)) found = *oid;
    } else {
      if (name.empty() || name.size() > kMaxDbNameChars) return Fail(ce_error::kInvalidParameter);
      found = m.image.DatabaseByName(volume, WideToUtf8(name));
    }
    if (found == 0) return Fail(ce_error::kFileNotFound);
    if (sortProp != 0) {
      // Records are always walked in id order, but a sort property must still
      // be one the database was created with.
      std::vector<CeSortOrder> sorts = m.image.DatabaseSorts(found);
      if (std::none_of(sorts.begin(), sorts.end(),
                       [&](const CeSortOrder& o) { return o.propid == sortProp; })) {
        return Fail(ce_error::kInvalidParameter);
      }
    }
    *oid = found;
    result = m.nextHandle++;
    m.handles[result] = Impl::OpenDb{found, 0};
    return Ok();
  });
  return result;
}

CEOID EmulatedHandheld::CeCreateDatabaseEx(const CeGuid& guid, const CeDbaseInfo& info) {
  Impl& m = *impl_;
  CEOID result = 0;
  m.Run("CeCreateDatabaseEx", Impl::Access::kWrite, [&]() -> Outcome {
    int64_t volume = m.MountedVolume(guid);
    if (volume == 0) return Fail(ce_error::kInvalidParameter);
    if ((info.flags & CEDB_VALIDNAME) == 0 || info.name.empty() ||
        info.name.size() > kMaxDbNameChars || info.sorts.size() > 2) {
      return Fail(ce_error::kInvalidParameter);
    }
    for (const CeSortOrder& s : info.sorts) {
      if (!KnownType(s.propid)) return Fail(ce_error::kInvalidParameter);
    }
    std::string name = WideToUtf8(info.name);
    if (m.image.DatabaseByName(volume, name) != 0) return Fail(ce_error::kDupName);
    result = m.image.CreateDatabase(volume, name, info.sorts);
    return Ok();
  });
  return result;
}

bool EmulatedHandheld::CeOidGetInfoEx(const CeGuid& guid, CEOID oid, CeOidInfo* info) {
  Impl& m = *impl_;
  return !m.Run("CeOidGetInfoEx", Impl::Access::kRead, [&]() -> Outcome {
             int64_t volume = m.MountedVolume(guid);
             if (volume == 0) return Fail(ce_error::kInvalidParameter);
             std::string name;
             int64_t records = 0;
             if (!m.image.DatabaseInfo(volume, oid, &name, &records)) {
               return Fail(ce_error::kFileNotFound);
             }
             info->name = Utf8ToWide(name);
             // The handheld keeps the count in 16 bits.
             info->recordCount = static_cast<uint16_t>(records);
             return Ok();
           }).failed;
}

bool EmulatedHandheld::CeDeleteDatabaseEx(const CeGuid& guid, CEOID oid) {
  Impl& m = *impl_;
  return !m.Run("CeDeleteDatabaseEx", Impl::Access::kWrite, [&]() -> Outcome {
             int64_t volume = m.MountedVolume(guid);
             if (volume == 0) return Fail(ce_error::kInvalidParameter);
             if (!m.image.DatabaseInVolume(volume, oid)) return Fail(ce_error::kFileNotFound);
             m.image.DeleteDatabase(oid);
             return Ok();
           }).failed;
}

// --- Records -----------------------------------------------------------------

CEOID EmulatedHandheld::CeReadRecordProps(CeDbHandle db, uint32_t /*flags*/,
                                          const std::vector<CEPROPID>& wanted,
                                          std::vector<CePropVal>* values) {
  Impl& m = *impl_;
  values->clear();
  CEOID result = 0;
  m.Run("CeReadRecordProps", Impl::Access::kRead, [&]() -> Outcome {
    Impl::OpenDb* open = m.Handle(db);
    if (!open) return Fail(kInvalidHandleError);
    CEOID rec = m.image.NextRecord(open->oid, open->lastRead);
    if (rec == 0) return Fail(ce_error::kNoMoreItems);
    std::vector<CePropVal> out;
    if (wanted.empty()) {
      // No list: every property of the record.
      out = m.image.RecordProps(open->oid, rec);
    } else {
      std::vector<std::optional<CePropVal>> found = m.image.RecordProps(open->oid, rec, wanted);
      for (std::size_t i = 0; i < wanted.size(); ++i) {
        if (found[i]) {
          out.push_back(std::move(*found[i]));
        } else {
          CePropVal missing;
          missing.propid = wanted[i];
          missing.flags = CEDB_PROPNOTFOUND;
          out.push_back(std::move(missing));
        }
      }
    }
    open->lastRead = rec;
    *values = std::move(out);
    result = rec;
    return Ok();
  });
  return result;
}

CEOID EmulatedHandheld::CeWriteRecordProps(CeDbHandle db, CEOID oid,
                                           const std::vector<CePropVal>& values) {
  Impl& m = *impl_;
  CEOID result = 0;
  m.Run("CeWriteRecordProps", Impl::Access::kWrite, [&]() -> Outcome {
    Impl::OpenDb* open = m.Handle(db);
    if (!open) return Fail(kInvalidHandleError);
    // Records are only ever added whole; changing one in place is not offered.
    if (oid != 0 || values.empty()) return Fail(ce_error::kInvalidParameter);
    for (const CePropVal& v : values) {
      if (!KnownType(v.propid)) return Fail(ce_error::kInvalidParameter);
    }
    result = m.image.AddRecord(open->oid, values);
    return Ok();
  });
  return result;
}

bool EmulatedHandheld::CeDeleteRecord(CeDbHandle db, CEOID oid) {
  Impl& m = *impl_;
  return !m.Run("CeDeleteRecord", Impl::Access::kWrite, [&]() -> Outcome {
             Impl::OpenDb* open = m.Handle(db);
             if (!open) return Fail(kInvalidHandleError);
             if (oid == 0) return Fail(ce_error::kInvalidParameter);
             if (!m.image.DeleteRecord(open->oid, oid)) return Fail(ce_error::kFileNotFound);
             return Ok();
           }).failed;
}

bool EmulatedHandheld::CeCloseHandle(CeDbHandle db) {
  Impl& m = *impl_;
  return !m.Run("CeCloseHandle", Impl::Access::kRead, [&]() -> Outcome {
             if (m.handles.erase(db) == 0) return Fail(kInvalidHandleError);
             return Ok();
           }).failed;
}

// --- Registry ----------------------------------------------------------------

int32_t EmulatedHandheld::CeRegOpenKeyEx(CeHKey root, const std::u16string& subKey, CeHKey* key) {
  Impl& m = *impl_;
  Outcome out = m.Run("CeRegOpenKeyEx", Impl::Access::kRead, [&]() -> Outcome {
    std::string keyPath;
    if (!m.ResolveKey(root, subKey, &keyPath)) return Fail(ce_error::kFileNotFound);
    if (!m.image.KeyExists(keyPath)) return Fail(ce_error::kFileNotFound);
    *key = m.nextKey++;
    m.keys[*key] = keyPath;
    return Ok();
  });
  return static_cast<int32_t>(out.error);
}

int32_t EmulatedHandheld::CeRegQueryValueEx(CeHKey key, const std::u16string& valueName,
                                            uint32_t* type, std::vector<uint8_t>* data,
                                            uint32_t maxBytes) {
  Impl& m = *impl_;
  Outcome out = m.Run("CeRegQueryValueEx", Impl::Access::kRead, [&]() -> Outcome {
    auto it = m.keys.find(key);
    if (it == m.keys.end()) return Fail(kInvalidHandleError);
    // Only default values are kept.
    if (!valueName.empty()) return Fail(ce_error::kFileNotFound);
    uint32_t t = 0;
    std::vector<uint8_t> bytes;
    if (!m.image.DefaultValue(it->second, &t, &bytes)) return Fail(ce_error::kFileNotFound);
    if (type) *type = t;
    if (bytes.size() > maxBytes) return Fail(ce_error::kMoreData);
    *data = std::move(bytes);
    return Ok();
  });
  return static_cast<int32_t>(out.error);
}

int32_t EmulatedHandheld::CeRegCreateKeyEx(CeHKey root, const std::u16string& subKey, CeHKey* key) {
  Impl& m = *impl_;
  Outcome out = m.Run("CeRegCreateKeyEx", Impl::Access::kWrite, [&]() -> Outcome {
    std::string keyPath;
    if (!m.ResolveKey(root, subKey, &keyPath)) return Fail(ce_error::kFileNotFound);
    if (keyPath.empty()) return Fail(ce_error::kInvalidParameter);
    m.image.CreateKey(keyPath);
    *key = m.nextKey++;
    m.keys[*key] = keyPath;
    return Ok();
  });
  return static_cast<int32_t>(out.error);
}

int32_t EmulatedHandheld::CeRegSetValueEx(CeHKey key, const std::u16string& valueName,
                                          uint32_t type, const std::vector<uint8_t>& data) {
  Impl& m = *impl_;
  Outcome out = m.Run("CeRegSetValueEx", Impl::Access::kWrite, [&]() -> Outcome {
    auto it = m.keys.find(key);
    if (it == m.keys.end()) return Fail(kInvalidHandleError);
    if (!valueName.empty() || it->second.empty()) return Fail(ce_error::kInvalidParameter);
    m.image.SetDefaultValue(it->second, type, data);
    return Ok();
  });
  return static_cast<int32_t>(out.error);
}

int32_t EmulatedHandheld::CeRegCloseKey(CeHKey key) {
  Impl& m = *impl_;
  Outcome out = m.Run("CeRegCloseKey", Impl::Access::kRead, [&]() -> Outcome {
    if (m.keys.erase(key) == 0) return Fail(kInvalidHandleError);
    return Ok();
  });
  return static_cast<int32_t>(out.error);
}

// --- Remote calls ------------------------------------------------------------

int32_t EmulatedHandheld::CeRapiInvoke(const std::u16string& library,
                                       const std::u16string& function, const std::string& input,
                                       uint32_t* outSize, std::vector<uint8_t>* output) {
  Impl& m = *impl_;
  Outcome out = m.Run("CeRapiInvoke", Impl::Access::kWrite, [&]() -> Outcome {
    std::string lib = LibraryBaseName(WideToUtf8(library));
    if (!m.image.LibraryInstalled(lib)) return Fail(ce_error::kFileNotFound);
    // Only the companion library exports anything; exported names are
    // matched exactly.
    std::string fn = WideToUtf8(function);
    if (!IsCompanionLibrary(lib) || (fn != "RAPIlaunchapp" && fn != "RAPIlaunchafter")) {
      return Fail(ce_error::kCallNotImplemented);
    }
    m.image.LogCall(WideToUtf8(library), fn, AnsiToUtf8(input));
    if (fn == "RAPIlaunchapp") LaunchApp(m.image, input);
    output->clear();
    if (outSize) *outSize = 0;
    return Ok();
  });
  if (!out.failed) return 0;
  return HResultOf(out.error);
}

}  // namespace hhsync
