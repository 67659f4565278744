#pragma once
// The remote device API: the handheld operations the program uses, with the
// handheld's own result and error conventions. Text crossing this port is
// UTF-16; callers convert from 8-bit text right before each call.
//
// Thread safety: one instance is used by the thread that runs a sync; it is
// not safe for concurrent use.

#include <cstdint>
#include <string>
#include <vector>

namespace hhsync {

using CEOID = uint32_t;
using CEPROPID = uint32_t;
using CeDbHandle = std::intptr_t;
inline constexpr CeDbHandle kInvalidHandle = -1;  // INVALID_HANDLE_VALUE
using CeHKey = uint32_t;
inline constexpr CeHKey kHKeyLocalMachine = 0x80000002u;

// Property value types (low 16 bits of a property identifier).
inline constexpr uint16_t CEVT_UI4 = 19;
inline constexpr uint16_t CEVT_LPWSTR = 31;
inline constexpr uint16_t CEVT_BLOB = 65;

inline constexpr uint16_t CEDB_PROPNOTFOUND = 0x100;
inline constexpr uint32_t CEDB_ALLOWREALLOC = 1;
inline constexpr uint32_t CEDB_AUTOINCREMENT = 1;
inline constexpr uint32_t CEDB_VALIDNAME = 1;
inline constexpr uint32_t CEDB_SORT_CASEINSENSITIVE = 2;
inline constexpr uint32_t kOpenExisting = 3;  // OPEN_EXISTING
inline constexpr uint32_t kRegSz = 1;         // REG_SZ
inline constexpr uint32_t kWaitObject0 = 0;
inline constexpr uint32_t kWaitTimeout = 258;
inline constexpr std::size_t kMaxDbNameChars = 31;

// The handheld's error codes that the program tells apart.
namespace ce_error {
inline constexpr uint32_t kSuccess = 0;
inline constexpr uint32_t kFileNotFound = 2;
inline constexpr uint32_t kNotEnoughMemory = 8;
inline constexpr uint32_t kDupName = 52;
inline constexpr uint32_t kInvalidParameter = 87;
inline constexpr uint32_t kDiskFull = 112;
inline constexpr uint32_t kCallNotImplemented = 120;
inline constexpr uint32_t kAlreadyExists = 183;
inline constexpr uint32_t kMoreData = 234;
inline constexpr uint32_t kNoMoreItems = 259;
inline constexpr uint32_t kExceptionInService = 1064;
}  // namespace ce_error

constexpr CEPROPID MakePropId(uint16_t number, uint16_t type) {
  return (static_cast<uint32_t>(number) << 16) | type;
}
constexpr uint16_t PropType(CEPROPID id) { return static_cast<uint16_t>(id & 0xFFFF); }

// CEGUID: names a mounted volume.
struct CeGuid {
  uint32_t data[4] = {0, 0, 0, 0};
  bool IsZero() const { return (data[0] | data[1] | data[2] | data[3]) == 0; }
};

// CEPROPVAL: one typed property of a record. Only the member of the value's
// type is meaningful.
struct CePropVal {
  CEPROPID propid = 0;
  uint16_t flags = 0;  // CEDB_PROPNOTFOUND on a read of a missing property
  uint32_t ulVal = 0;
  std::u16string lpwsz;
  std::vector<uint8_t> blob;

  static CePropVal Ui4(CEPROPID id, uint32_t v) {
    CePropVal p;
    p.propid = id;
    p.ulVal = v;
    return p;
  }
  static CePropVal Text(CEPROPID id, std::u16string v) {
    CePropVal p;
    p.propid = id;
    p.lpwsz = std::move(v);
    return p;
  }
  static CePropVal Blob(CEPROPID id, std::vector<uint8_t> v) {
    CePropVal p;
    p.propid = id;
    p.blob = std::move(v);
    return p;
  }
};

struct CeSortOrder {
  CEPROPID propid = 0;
  uint32_t flags = 0;
};

// CEDBASEINFO as the program fills it: flags, name and 0 to 2 sort orders.
struct CeDbaseInfo {
  uint32_t flags = 0;
  std::u16string name;
  std::vector<CeSortOrder> sorts;
};

// The part of CEOIDINFO the program reads.
struct CeOidInfo {
  uint16_t recordCount = 0;
  std::u16string name;
};

// RAPIINIT: given to CeRapiInitEx, which may complete it later, from another
// thread; WaitForInit awaits its event and then reads its result.
struct RapiInit {
  uint32_t cbSize = 12;
  int64_t event = 0;
  int32_t result = 0;  // HRESULT; negative is a failure
};

class Rapi {
 public:
  Rapi() = default;
  virtual ~Rapi() = default;
  Rapi(const Rapi&) = delete;
  Rapi& operator=(const Rapi&) = delete;

  // Connection. CeRapiInitEx starts connecting; WaitForInit waits at most
  // timeoutMs for the record's event and returns kWaitObject0 when it was
  // signalled, with init->result then the connection's outcome (negative:
  // it failed), kWaitTimeout otherwise. The record must stay where it is
  // from CeRapiInitEx until the wait is over.
  virtual int32_t CeRapiInitEx(RapiInit* init) = 0;
  virtual uint32_t WaitForInit(RapiInit* init, uint32_t timeoutMs) = 0;
  virtual int32_t CeRapiUninit() = 0;
  virtual uint32_t CeGetLastError() = 0;
  // When the last call failed on the desktop's side of the connection (the
  // handheld could report no code, or could not be reached): the system's
  // message text for it; empty otherwise.
  virtual std::string DesktopErrorText() = 0;
  // The first such failure since CeRapiInitEx, kept for saying what kept a
  // run from its work; empty when there was none, or where the device
  // library cannot tell.
  virtual std::string DesktopTrouble() { return {}; }
  // Why the last WaitForInit ran out, where the device library can tell (no
  // handheld attached, one switched off); empty otherwise.
  virtual std::string NoAnswerText() { return {}; }

  // Database volumes. The guid is filled in by a mount (also by one that
  // fails with kAlreadyExists for a volume that is mounted already).
  virtual bool CeMountDBVol(CeGuid* guid, const std::u16string& volume, uint32_t flags) = 0;
  virtual bool CeUnmountDBVol(CeGuid* guid) = 0;

  // Databases. *oid of 0 opens by name and receives the database's id.
  virtual CeDbHandle CeOpenDatabaseEx(const CeGuid& guid, CEOID* oid, const std::u16string& name,
                                      CEPROPID sortProp, uint32_t flags) = 0;
  virtual CEOID CeCreateDatabaseEx(const CeGuid& guid, const CeDbaseInfo& info) = 0;
  virtual bool CeOidGetInfoEx(const CeGuid& guid, CEOID oid, CeOidInfo* info) = 0;
  virtual bool CeDeleteDatabaseEx(const CeGuid& guid, CEOID oid) = 0;

  // Records. A read returns the next record's id (0 at the end or on failure)
  // and one value per wanted property, in the order asked; a property the
  // record lacks comes back flagged CEDB_PROPNOTFOUND. A write with oid 0
  // adds a new record and returns its id, 0 on failure.
  virtual CEOID CeReadRecordProps(CeDbHandle db, uint32_t flags,
                                  const std::vector<CEPROPID>& wanted,
                                  std::vector<CePropVal>* values) = 0;
  virtual CEOID CeWriteRecordProps(CeDbHandle db, CEOID oid,
                                   const std::vector<CePropVal>& values) = 0;
  virtual bool CeDeleteRecord(CeDbHandle db, CEOID oid) = 0;
  virtual bool CeCloseHandle(CeDbHandle db) = 0;

  // Registry under HKEY_LOCAL_MACHINE of the handheld. Results are Win32
  // error codes (0: success). An empty value name is the key's default value.
  virtual int32_t CeRegOpenKeyEx(CeHKey root, const std::u16string& subKey, CeHKey* key) = 0;
  virtual int32_t CeRegQueryValueEx(CeHKey key, const std::u16string& valueName, uint32_t* type,
                                    std::vector<uint8_t>* data, uint32_t maxBytes) = 0;
  virtual int32_t CeRegCreateKeyEx(CeHKey root, const std::u16string& subKey, CeHKey* key) = 0;
  virtual int32_t CeRegSetValueEx(CeHKey key, const std::u16string& valueName, uint32_t type,
                                  const std::vector<uint8_t>& data) = 0;
  virtual int32_t CeRegCloseKey(CeHKey key) = 0;

  // Remote call of a function of a library installed on the handheld.
  // *outSize is preset by the caller and receives the output's length.
  virtual int32_t CeRapiInvoke(const std::u16string& library, const std::u16string& function,
                               const std::string& input, uint32_t* outSize,
                               std::vector<uint8_t>* output) = 0;
};

}  // namespace hhsync
