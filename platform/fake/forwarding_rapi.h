#pragma once
// A Rapi that forwards every call to another one. Tests derive from it and
// override the one call they want to watch or break.

#include "platform/rapi.h"

namespace hhsync {

class ForwardingRapi : public Rapi {
 public:
  explicit ForwardingRapi(Rapi& target) : t_(target) {}

  int32_t CeRapiInitEx(RapiInit* init) override { return t_.CeRapiInitEx(init); }
  uint32_t WaitForInit(RapiInit* init, uint32_t ms) override { return t_.WaitForInit(init, ms); }
  int32_t CeRapiUninit() override { return t_.CeRapiUninit(); }
  uint32_t CeGetLastError() override { return t_.CeGetLastError(); }
  std::string DesktopErrorText() override { return t_.DesktopErrorText(); }
  std::string DesktopTrouble() override { return t_.DesktopTrouble(); }
  std::string NoAnswerText() override { return t_.NoAnswerText(); }
  bool CeMountDBVol(CeGuid* g, const std::u16string& v, uint32_t f) override {
    return t_.CeMountDBVol(g, v, f);
  }
  bool CeUnmountDBVol(CeGuid* g) override { return t_.CeUnmountDBVol(g); }
  CeDbHandle CeOpenDatabaseEx(const CeGuid& g, CEOID* oid, const std::u16string& name,
                              CEPROPID sort, uint32_t flags) override {
    return t_.CeOpenDatabaseEx(g, oid, name, sort, flags);
  }
  CEOID CeCreateDatabaseEx(const CeGuid& g, const CeDbaseInfo& info) override {
    return t_.CeCreateDatabaseEx(g, info);
  }
  bool CeOidGetInfoEx(const CeGuid& g, CEOID oid, CeOidInfo* info) override {
    return t_.CeOidGetInfoEx(g, oid, info);
  }
  bool CeDeleteDatabaseEx(const CeGuid& g, CEOID oid) override {
    return t_.CeDeleteDatabaseEx(g, oid);
  }
  CEOID CeReadRecordProps(CeDbHandle db, uint32_t flags, const std::vector<CEPROPID>& wanted,
                          std::vector<CePropVal>* values) override {
    return t_.CeReadRecordProps(db, flags, wanted, values);
  }
  CEOID CeWriteRecordProps(CeDbHandle db, CEOID oid,
                           const std::vector<CePropVal>& values) override {
    return t_.CeWriteRecordProps(db, oid, values);
  }
  bool CeDeleteRecord(CeDbHandle db, CEOID oid) override { return t_.CeDeleteRecord(db, oid); }
  bool CeCloseHandle(CeDbHandle db) override { return t_.CeCloseHandle(db); }
  int32_t CeRegOpenKeyEx(CeHKey root, const std::u16string& sub, CeHKey* key) override {
    return t_.CeRegOpenKeyEx(root, sub, key);
  }
  int32_t CeRegQueryValueEx(CeHKey key, const std::u16string& name, uint32_t* type,
                            std::vector<uint8_t>* data, uint32_t max) override {
    return t_.CeRegQueryValueEx(key, name, type, data, max);
  }
  int32_t CeRegCreateKeyEx(CeHKey root, const std::u16string& sub, CeHKey* key) override {
    return t_.CeRegCreateKeyEx(root, sub, key);
  }
  int32_t CeRegSetValueEx(CeHKey key, const std::u16string& name, uint32_t type,
                          const std::vector<uint8_t>& data) override {
    return t_.CeRegSetValueEx(key, name, type, data);
  }
  int32_t CeRegCloseKey(CeHKey key) override { return t_.CeRegCloseKey(key); }
  int32_t CeRapiInvoke(const std::u16string& lib, const std::u16string& fn, const std::string& in,
                       uint32_t* outSize, std::vector<uint8_t>* out) override {
    return t_.CeRapiInvoke(lib, fn, in, outSize, out);
  }

 protected:
  Rapi& t_;
};

}  // namespace hhsync
