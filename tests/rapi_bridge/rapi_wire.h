#pragma once
// The remote device calls as messages, so that a test stand-in for the
// desktop's rapi.dll (a Windows program under wine) can have an emulated
// handheld on the Linux side answer them over a loopback connection.
//
// RemoteRapi is the Rapi port on the calling side: each call becomes one
// request, handed to a transport that returns the reply. AnswerRapiCall is
// the answering side: it decodes a request, makes the call on a real Rapi
// (the emulated handheld) and encodes the reply. Both sides build from this
// one file, so the encoding cannot drift apart.
//
// Messages are sequences of little-endian numbers, UTF-16 texts and byte
// blocks, each text and block preceded by its length. A framed message on a
// stream is its 32-bit length followed by the message.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/rapi.h"

namespace hhsync::rapi_wire {

using Message = std::vector<uint8_t>;

// Sends a request and receives its reply; false when the connection failed.
using Transport = std::function<bool(const Message& request, Message* reply)>;

// The error a call reports when its request never got an answer.
inline constexpr uint32_t kBridgeDown = 1064;  // ERROR_EXCEPTION_IN_SERVICE

class RemoteRapi final : public Rapi {
 public:
  explicit RemoteRapi(Transport transport) : transport_(std::move(transport)) {}

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
  // Sends request; false (and the bridge's error remembered) when no
  // complete reply came.
  bool Call(const Message& request, Message* reply);

  Transport transport_;
  bool down_ = false;  // the last call got no answer
};

// Decodes one request, makes the call on rapi and returns the encoded reply;
// an empty reply for a request that cannot be decoded.
Message AnswerRapiCall(Rapi& rapi, const Message& request);

}  // namespace hhsync::rapi_wire
