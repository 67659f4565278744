#pragma once
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/rapi.h"

namespace hhsync {

namespace rapi_abi {
struct RAPIINIT;
}

// The Rapi port over the desktop's remote device library, loaded at run time
// with LoadLibraryA and called through GetProcAddress. Without the library
// (no device software installed), or with one that lacks an entry point the
// program uses, connecting fails at once, exactly as when no handheld
// answers; every other call then fails too.
//
// Thread safety: like the library, one thread at a time.
class RapiLibrary final : public Rapi {
 public:
  // library: the file LoadLibraryA is given ("rapi.dll": found by the
  // system's search order, the program's own directory first).
  explicit RapiLibrary(const std::string& library = "rapi.dll");
  ~RapiLibrary() override;

  // Whether the library was loaded with every entry point the program uses.
  bool loaded() const { return api_ != nullptr; }

  int32_t CeRapiInitEx(RapiInit* init) override;
  uint32_t WaitForInit(RapiInit* init, uint32_t timeoutMs) override;
  int32_t CeRapiUninit() override;
  uint32_t CeGetLastError() override;
  std::string DesktopErrorText() override;

  bool CeMountDBVol(CeGuid* guid, const std::u16string& volume, uint32_t flags) override;
  bool CeUnmountDBVol(CeGuid* guid) override;

  CeDbHandle CeOpenDatabaseEx(const CeGuid& guid, CEOID* oid, const std::u16string& name,
                              CEPROPID sortProp, uint32_t flags) override;
  CEOID CeCreateDatabaseEx(const CeGuid& guid, const CeDbaseInfo& info) override;
  bool CeOidGetInfoEx(const CeGuid& guid, CEOID oid, CeOidInfo* info) override;
  bool CeDeleteDatabaseEx(const CeGuid& guid, CEOID oid) override;

  CEOID CeReadRecordProps(CeDbHandle db, uint32_t flags, const std::vector<CEPROPID>& wanted,
                          std::vector<CePropVal>* values) override;
  CEOID CeWriteRecordProps(CeDbHandle db, CEOID oid, const std::vector<CePropVal>& values) override;
  bool CeDeleteRecord(CeDbHandle db, CEOID oid) override;
  bool CeCloseHandle(CeDbHandle db) override;

  int32_t CeRegOpenKeyEx(CeHKey root, const std::u16string& subKey, CeHKey* key) override;
  int32_t CeRegQueryValueEx(CeHKey key, const std::u16string& valueName, uint32_t* type,
                            std::vector<uint8_t>* data, uint32_t maxBytes) override;
  int32_t CeRegCreateKeyEx(CeHKey root, const std::u16string& subKey, CeHKey* key) override;
  int32_t CeRegSetValueEx(CeHKey key, const std::u16string& valueName, uint32_t type,
                          const std::vector<uint8_t>& data) override;
  int32_t CeRegCloseKey(CeHKey key) override;

  int32_t CeRapiInvoke(const std::u16string& library, const std::u16string& function,
                       const std::string& input, uint32_t* outSize,
                       std::vector<uint8_t>* output) override;

 private:
  struct Api;
  // The library's handle for a key of ours; null when there is none.
  void* KeyHandle(CeHKey key) const;
  CeHKey KeepKey(void* handle);

  void* module_ = nullptr;  // HMODULE
  std::unique_ptr<Api> api_;
  // The handheld's key handles are pointers here; the port's are 32-bit
  // numbers, so each open key gets a number of its own.
  std::map<CeHKey, void*> keys_;
  CeHKey nextKey_ = 1;
  // The connection records handed to the library, which may write into
  // them at any time before their events are signalled.
  std::vector<std::unique_ptr<rapi_abi::RAPIINIT>> initRecords_;
  uint32_t missingError_ = 0;  // the error every call reports without the library
};

}  // namespace hhsync
