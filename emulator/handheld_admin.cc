// The administration of the emulated handheld, for hhctl and tests: making
// an image, changing what it holds and dumping it. None of it is a remote
// call: it works whether or not the handheld is connected, is not counted
// and ignores faults. Each step runs as one transaction through Impl::Admin.

#include <algorithm>
#include <cstdio>

#include "base/text.h"
#include "emulator/emulated_handheld.h"
#include "emulator/handheld_impl.h"

namespace hhsync {

bool EmulatedHandheld::Exists(const std::string& path) { return HandheldImage::FileExists(path); }

bool EmulatedHandheld::Init(const std::string& path, std::string* err) {
  return HandheldImage::Create(path, err);
}

const std::vector<std::string>& EmulatedHandheld::FaultableOperations() {
  static const std::vector<std::string> kOps = {
      "CeRapiInitEx",       "WaitForInit",       "CeRapiUninit",       "CeMountDBVol",
      "CeUnmountDBVol",     "CeOpenDatabaseEx",  "CeCreateDatabaseEx", "CeOidGetInfoEx",
      "CeDeleteDatabaseEx", "CeReadRecordProps", "CeWriteRecordProps", "CeDeleteRecord",
      "CeCloseHandle",      "CeRegOpenKeyEx",    "CeRegQueryValueEx",  "CeRegCreateKeyEx",
      "CeRegSetValueEx",    "CeRegCloseKey",     "CeRapiInvoke"};
  return kOps;
}

bool EmulatedHandheld::SetConnected(bool connected, std::string* err) {
  Impl& m = *impl_;
  return m.Admin(err, [&](std::string*) {
    m.image.SetMeta("connected", connected ? "1" : "0");
    return true;
  });
}

bool EmulatedHandheld::InstallLibrary(const std::string& name, std::string* err) {
  Impl& m = *impl_;
  return m.Admin(err, [&](std::string* why) {
    std::string lib = LibraryBaseName(name);
    if (lib.empty()) {
      *why = "empty library name";
      return false;
    }
    m.image.InstallLibrary(lib);
    return true;
  });
}

bool EmulatedHandheld::RemoveLibrary(const std::string& name, std::string* err) {
  Impl& m = *impl_;
  return m.Admin(err, [&](std::string* why) {
    if (!m.image.RemoveLibrary(LibraryBaseName(name))) {
      *why = "library " + name + " is not installed";
      return false;
    }
    return true;
  });
}

bool EmulatedHandheld::CreateVolume(const std::string& name, std::string* err) {
  Impl& m = *impl_;
  return m.Admin(err, [&](std::string* why) {
    if (name.empty()) {
      *why = "empty volume name";
      return false;
    }
    if (m.image.VolumeByName(name) != 0) {
      *why = "volume " + name + " already exists";
      return false;
    }
    m.image.AddVolume(name);
    return true;
  });
}

bool EmulatedHandheld::RegGet(const std::string& path, std::optional<std::string>* value,
                              std::string* err) {
  Impl& m = *impl_;
  return m.Admin(
      err,
      [&](std::string*) {
        uint32_t type = 0;
        std::vector<uint8_t> data;
        if (m.image.DefaultValue(NormalizeKeyPath(path), &type, &data)) {
          *value = RegistryValueText(type, data);
        } else {
          value->reset();
        }
        return true;
      },
      Impl::Access::kRead);
}

bool EmulatedHandheld::RegSet(const std::string& path, const std::string& value, std::string* err) {
  Impl& m = *impl_;
  return m.Admin(err, [&](std::string* why) {
    std::string keyPath = NormalizeKeyPath(path);
    if (keyPath.empty()) {
      *why = "empty registry key";
      return false;
    }
    m.image.SetDefaultValue(keyPath, kRegSz, WideToBytes(Utf8ToWide(value)));
    return true;
  });
}

bool EmulatedHandheld::RegDelete(const std::string& path, std::string* err) {
  Impl& m = *impl_;
  return m.Admin(err, [&](std::string* why) {
    std::string keyPath = NormalizeKeyPath(path);
    bool deleted = m.image.DeleteKeyTree(keyPath);
    if (keyPath.empty() || !deleted) {
      *why = "no registry key " + path;
      return false;
    }
    return true;
  });
}

namespace {

// Why a record cannot be added as given; empty when it can.
std::string RecordProblem(const std::string& database, const std::vector<CePropVal>& props) {
  std::u16string wide = Utf8ToWide(database);
  if (wide.empty() || wide.size() > kMaxDbNameChars) {
    return "database name must have 1 to " + std::to_string(kMaxDbNameChars) + " characters";
  }
  if (props.empty()) return "a record needs at least one property";
  for (const CePropVal& v : props) {
    if (!KnownType(v.propid)) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "0x%08X", v.propid);
      return std::string("property ") + buf + " has an unknown type";
    }
  }
  return "";
}

}  // namespace

bool EmulatedHandheld::AddRecord(const std::string& volume, const std::string& database,
                                 const std::vector<CePropVal>& props, CEOID* id, std::string* err) {
  Impl& m = *impl_;
  return m.Admin(err, [&](std::string* why) {
    int64_t vol = m.image.VolumeByName(volume);
    if (vol == 0) {
      *why = "no volume " + volume;
      return false;
    }
    *why = RecordProblem(database, props);
    if (!why->empty()) return false;
    CEOID dbOid = m.image.DatabaseByName(vol, database);
    if (dbOid == 0) dbOid = m.image.CreateDatabase(vol, database, {});
    CEOID rec = m.image.AddRecord(dbOid, props);
    if (id) *id = rec;
    return true;
  });
}

bool EmulatedHandheld::AddFault(const InjectedFault& fault, std::string* err) {
  Impl& m = *impl_;
  return m.Admin(err, [&](std::string* why) {
    const auto& ops = FaultableOperations();
    if (std::find(ops.begin(), ops.end(), fault.operation) == ops.end()) {
      *why = "unknown operation " + fault.operation;
      return false;
    }
    if (fault.nth == 0) {
      *why = "the failing call is counted from 1";
      return false;
    }
    m.image.AddFault(fault);
    return true;
  });
}

bool EmulatedHandheld::ClearFaults(std::string* err) {
  Impl& m = *impl_;
  return m.Admin(err, [&](std::string*) {
    m.image.ClearFaults();
    return true;
  });
}

std::size_t EmulatedHandheld::OpenDatabaseHandles() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->handles.size();
}

bool EmulatedHandheld::Dump(HandheldDump* out, std::string* err) {
  Impl& m = *impl_;
  return m.Admin(
      err,
      [&](std::string*) {
        HandheldDump d;
        d.connected = m.image.Connected();
        d.sd6 = m.image.Meta("sd6");
        d.registry = m.image.Registry();
        d.libraries = m.image.Libraries();
        d.volumes = m.image.Volumes();
        d.calls = m.image.Calls();
        d.faults = m.image.Faults();
        *out = std::move(d);
        return true;
      },
      Impl::Access::kRead);
}

}  // namespace hhsync
