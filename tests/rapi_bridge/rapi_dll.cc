// rapi.dll for tests: the desktop's remote device library as a Windows
// program loads it, with every call forwarded over a loopback connection to
// hhsync_rapi_bridge, which answers it from an emulated handheld image on
// the Linux side. HHSYNC_RAPI_BRIDGE names the bridge's port on 127.0.0.1.
// Without the variable, or when the bridge cannot be reached, the library
// behaves as device software with no handheld attached: connecting never
// completes. A test fixture only; it is never shipped.

#include <winsock2.h>
//
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/win32/rapi_abi.h"
#include "rapi_wire.h"

using namespace hhsync;
using hhsync::rapi_abi::CEDBASEINFO;
using hhsync::rapi_abi::CEGUID;
using hhsync::rapi_abi::CEOIDINFO;
using hhsync::rapi_abi::CEPROPVAL;
using hhsync::rapi_abi::FromAbi;
using hhsync::rapi_abi::FromWide;
using hhsync::rapi_abi::kMaxDbaseNameLength;
using hhsync::rapi_abi::kMaxSortOrders;
using hhsync::rapi_abi::kObjTypeDatabase;
using hhsync::rapi_abi::RAPIINIT;
using hhsync::rapi_abi::ToAbi;

namespace {

// The error a call reports when its request never got an answer.
constexpr uint32_t kBridgeDown = 1064;  // ERROR_EXCEPTION_IN_SERVICE

std::mutex bridgeMutex;
SOCKET bridge = INVALID_SOCKET;  // one connection per process, made on the first call
bool lost = false;               // the last call could not reach the handheld at all

bool Connect() {
  const char* port = std::getenv("HHSYNC_RAPI_BRIDGE");
  WSADATA data;
  if (!port || !*port || WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  bridge = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(std::atoi(port)));
  return bridge != INVALID_SOCKET &&
         connect(bridge, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool Exchange(const rapi_wire::Message& request, rapi_wire::Message* reply) {
  std::lock_guard<std::mutex> lock(bridgeMutex);
  auto send = [](const uint8_t* p, std::size_t n) {
    return ::send(bridge, reinterpret_cast<const char*>(p), static_cast<int>(n), 0);
  };
  auto receive = [](uint8_t* p, std::size_t n) {
    return recv(bridge, reinterpret_cast<char*>(p), static_cast<int>(n), 0);
  };
  lost = (bridge == INVALID_SOCKET && !Connect()) || !rapi_wire::SendFrame(send, request) ||
         !rapi_wire::ReceiveFrame(receive, reply);
  if (lost && bridge != INVALID_SOCKET) {
    closesocket(bridge);
    bridge = INVALID_SOCKET;
  }
  return !lost;
}

// The call method on the handheld; fail when it could not be made.
template <auto method, class... A>
rapi_wire::ResultOf<method> Remote(rapi_wire::ResultOf<method> fail, A&&... args) {
  return rapi_wire::Call<method>(Exchange, fail, std::forward<A>(args)...);
}

// The handheld's key numbers travel as HKEY values; its root is the
// desktop's HKEY_LOCAL_MACHINE constant.
CeHKey KeyOf(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return kHKeyLocalMachine;
  return static_cast<CeHKey>(reinterpret_cast<uintptr_t>(key));
}

HKEY HandleOf(CeHKey key) { return reinterpret_cast<HKEY>(static_cast<uintptr_t>(key)); }

HANDLE initEvent = nullptr;

// A block whose ownership crossed the library's boundary, with its bytes.
struct Block {
  void* at;
  std::string bytes;
};
std::vector<Block> handedOut, takenIn;

// Whether the block is still there, as it was.
bool Alive(const Block& b) {
  return HeapValidate(GetProcessHeap(), 0, b.at) && LocalSize(b.at) >= b.bytes.size() &&
         std::memcmp(b.at, b.bytes.data(), b.bytes.size()) == 0;
}

// How long the library takes to complete a connection, on a thread of its
// own, after CeRapiInitEx returned: long enough that a caller that reads
// the record's result before the event reads nothing.
constexpr DWORD kCompletionDelayMs = 100;

// A connection being completed: the caller's record, written only now.
struct Completion {
  RAPIINIT* record;
  HANDLE event;
  HRESULT result;  // what the connection comes to; S_FALSE: it never completes
};

DWORD WINAPI Complete(void* arg) {
  Completion* c = static_cast<Completion*>(arg);
  Sleep(kCompletionDelayMs);
  if (c->result != S_FALSE) {
    c->record->hrRapiInit = c->result;
    SetEvent(c->event);
  }
  delete c;
  return 0;
}

}  // namespace

#define RAPI_EXPORT extern "C" __declspec(dllexport)

// As the device software does it: the call returns at once, and a thread
// of the library fills in the caller's record and then signals its event.
// An unanswered bridge is a handheld that never answers. HHSYNC_RAPI_INIT=fail
// makes a connection that completes with a failure, whatever the handheld
// says.
RAPI_EXPORT HRESULT WINAPI CeRapiInitEx(RAPIINIT* init) {
  if (!init) return E_INVALIDARG;
  if (!initEvent) initEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ResetEvent(initEvent);
  init->heRapiInit = initEvent;
  RapiInit remote;
  const int32_t hr = Remote<&Rapi::CeRapiInitEx>(-1, &remote);
  if (hr < 0) return hr;
  HRESULT result = S_FALSE;
  char mode[8] = "";
  if (GetEnvironmentVariableA("HHSYNC_RAPI_INIT", mode, sizeof mode) &&
      !std::strcmp(mode, "fail")) {
    result = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
  } else if (Remote<&Rapi::WaitForInit>(kWaitTimeout, &remote, 0) == kWaitObject0) {
    result = remote.result;
  }
  HANDLE thread =
      CreateThread(nullptr, 0, Complete, new Completion{init, initEvent, result}, 0, nullptr);
  if (thread) CloseHandle(thread);
  return S_OK;
}

// Ends the connection, and checks that the caller kept the blocks' contract:
// it freed every record block it was given, and left CeRapiInvoke's input
// blocks alone once it handed them over (the library frees them only now,
// so that a caller that frees or reuses one too is seen).
RAPI_EXPORT HRESULT WINAPI CeRapiUninit() {
  bool kept = true;
  for (const Block& b : handedOut) {
    if (Alive(b)) std::fprintf(stderr, "rapi.dll: a record block was never freed\n");
    kept &= !Alive(b);
  }
  for (const Block& b : takenIn) {
    if (!Alive(b)) std::fprintf(stderr, "rapi.dll: the caller freed or changed an input block\n");
    kept &= Alive(b) && LocalFree(b.at) == nullptr;
  }
  handedOut.clear();
  takenIn.clear();
  const HRESULT hr = Remote<&Rapi::CeRapiUninit>(-1);
  return kept ? hr : E_FAIL;
}

RAPI_EXPORT DWORD WINAPI CeGetLastError() {
  return lost ? kBridgeDown : Remote<&Rapi::CeGetLastError>(kBridgeDown);
}

// The library's own failure, apart from the handheld's error codes: the
// connection to the handheld could not be used.
RAPI_EXPORT HRESULT WINAPI CeRapiGetError() {
  return lost || !Remote<&Rapi::DesktopErrorText>("").empty()
             ? HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)
             : S_OK;
}

RAPI_EXPORT BOOL WINAPI CeMountDBVol(CEGUID* guid, LPWSTR volume, DWORD flags) {
  CeGuid g = FromAbi(guid);
  const bool ok = Remote<&Rapi::CeMountDBVol>(false, &g, FromWide(volume), flags);
  if (guid) *guid = ToAbi(g);
  return ok;
}

RAPI_EXPORT BOOL WINAPI CeUnmountDBVol(CEGUID* guid) {
  CeGuid g = FromAbi(guid);
  return Remote<&Rapi::CeUnmountDBVol>(false, &g);
}

RAPI_EXPORT HANDLE WINAPI CeOpenDatabaseEx(CEGUID* guid, rapi_abi::CEOID* oid, LPWSTR name,
                                           rapi_abi::CEPROPID sort, DWORD flags, void*) {
  hhsync::CEOID id = oid ? *oid : 0;
  const CeDbHandle db = Remote<&Rapi::CeOpenDatabaseEx>(kInvalidHandle, FromAbi(guid), &id,
                                                        FromWide(name), sort, flags);
  if (oid) *oid = id;
  return reinterpret_cast<HANDLE>(db);
}

RAPI_EXPORT rapi_abi::CEOID WINAPI CeCreateDatabaseEx(CEGUID* guid, CEDBASEINFO* info) {
  if (!info) return 0;
  CeDbaseInfo dbInfo;
  dbInfo.flags = info->dwFlags;
  WCHAR name[kMaxDbaseNameLength + 1] = {};
  std::memcpy(name, info->szDbaseName, sizeof info->szDbaseName);
  dbInfo.name = FromWide(name);
  for (int i = 0; i < info->wNumSortOrder && i < kMaxSortOrders; ++i) {
    dbInfo.sorts.push_back(CeSortOrder{info->rgSortSpecs[i].propid, info->rgSortSpecs[i].dwFlags});
  }
  return Remote<&Rapi::CeCreateDatabaseEx>(0, FromAbi(guid), dbInfo);
}

RAPI_EXPORT BOOL WINAPI CeOidGetInfoEx(CEGUID* guid, rapi_abi::CEOID oid, CEOIDINFO* info) {
  if (!info) return FALSE;
  CeOidInfo got;
  if (!Remote<&Rapi::CeOidGetInfoEx>(false, FromAbi(guid), oid, &got)) return FALSE;
  std::memset(info, 0, sizeof *info);
  info->wObjType = kObjTypeDatabase;
  info->infDatabase.wNumRecords = got.recordCount;
  for (std::size_t i = 0; i < got.name.size() && i + 1 < kMaxDbaseNameLength; ++i) {
    info->infDatabase.szDbaseName[i] = got.name[i];
  }
  return TRUE;
}

RAPI_EXPORT BOOL WINAPI CeDeleteDatabaseEx(CEGUID* guid, rapi_abi::CEOID oid) {
  return Remote<&Rapi::CeDeleteDatabaseEx>(false, FromAbi(guid), oid);
}

// The record comes back in one LocalAlloc block: the value records first,
// then the texts and byte blocks they point into.
RAPI_EXPORT rapi_abi::CEOID WINAPI CeReadRecordProps(HANDLE db, DWORD flags, WORD* count,
                                                     rapi_abi::CEPROPID* ids, BYTE** buffer,
                                                     DWORD* size) {
  if (!count || !buffer) return 0;
  std::vector<CEPROPID> wanted(ids, ids ? ids + *count : ids);
  std::vector<CePropVal> values;
  const CEOID oid =
      Remote<&Rapi::CeReadRecordProps>(0, reinterpret_cast<CeDbHandle>(db), flags, wanted, &values);
  if (oid == 0) return 0;
  std::size_t bytes = values.size() * sizeof(CEPROPVAL);
  for (const CePropVal& v : values) {
    bytes += (v.lpwsz.size() + 1) * sizeof(WCHAR) + v.blob.size() + sizeof(void*);
  }
  if (*buffer) LocalFree(*buffer);
  BYTE* block = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, bytes));
  if (!block) return 0;
  auto* props = reinterpret_cast<CEPROPVAL*>(block);
  BYTE* tail = block + values.size() * sizeof(CEPROPVAL);
  for (std::size_t i = 0; i < values.size(); ++i) {
    const CePropVal& v = values[i];
    CEPROPVAL& p = props[i];
    p.propid = v.propid;
    p.wFlags = v.flags;
    if (v.flags & CEDB_PROPNOTFOUND) continue;
    const uint16_t type = PropType(v.propid);
    if (type == CEVT_UI4) p.val.ulVal = v.ulVal;
    if (type == CEVT_LPWSTR) {  // zero-terminated: the block starts zeroed
      p.val.lpwstr = reinterpret_cast<WCHAR*>(tail);
      std::copy(v.lpwsz.begin(), v.lpwsz.end(), p.val.lpwstr);
      tail += (v.lpwsz.size() + 1) * sizeof(WCHAR);
    }
    if (type == CEVT_BLOB) {
      p.val.blob = rapi_abi::CEBLOB{static_cast<DWORD>(v.blob.size()), tail};
      tail = std::copy(v.blob.begin(), v.blob.end(), tail);
    }
  }
  *buffer = block;
  handedOut.push_back(Block{block, std::string(reinterpret_cast<char*>(block), bytes)});
  *count = static_cast<WORD>(values.size());
  if (size) *size = static_cast<DWORD>(bytes);
  return oid;
}

RAPI_EXPORT rapi_abi::CEOID WINAPI CeWriteRecordProps(HANDLE db, rapi_abi::CEOID oid, WORD count,
                                                      CEPROPVAL* props) {
  std::vector<CePropVal> values;
  for (WORD i = 0; i < count; ++i) values.push_back(FromAbi(props[i]));
  return Remote<&Rapi::CeWriteRecordProps>(0, reinterpret_cast<CeDbHandle>(db), oid, values);
}

RAPI_EXPORT BOOL WINAPI CeDeleteRecord(HANDLE db, rapi_abi::CEOID oid) {
  return Remote<&Rapi::CeDeleteRecord>(false, reinterpret_cast<CeDbHandle>(db), oid);
}

RAPI_EXPORT BOOL WINAPI CeCloseHandle(HANDLE db) {
  return Remote<&Rapi::CeCloseHandle>(false, reinterpret_cast<CeDbHandle>(db));
}

RAPI_EXPORT LONG WINAPI CeRegOpenKeyEx(HKEY root, LPCWSTR sub, DWORD, REGSAM, HKEY* key) {
  CeHKey opened = 0;
  const int32_t rc =
      Remote<&Rapi::CeRegOpenKeyEx>(kBridgeDown, KeyOf(root), FromWide(sub), &opened);
  if (rc == 0 && key) *key = HandleOf(opened);
  return rc;
}

RAPI_EXPORT LONG WINAPI CeRegQueryValueEx(HKEY key, LPCWSTR name, DWORD*, DWORD* type, BYTE* data,
                                          DWORD* size) {
  std::vector<uint8_t> bytes;
  uint32_t t = 0;
  const uint32_t capacity = size ? *size : 0;
  const int32_t rc = Remote<&Rapi::CeRegQueryValueEx>(kBridgeDown, KeyOf(key), FromWide(name), &t,
                                                      &bytes, capacity);
  if (type) *type = t;
  if (rc == 0) {
    if (data && !bytes.empty())
      std::memcpy(data, bytes.data(), std::min<std::size_t>(bytes.size(), capacity));
    if (size) *size = static_cast<DWORD>(bytes.size());
  }
  return rc;
}

RAPI_EXPORT LONG WINAPI CeRegCreateKeyEx(HKEY root, LPCWSTR sub, DWORD, LPWSTR, DWORD, REGSAM,
                                         SECURITY_ATTRIBUTES*, HKEY* key, DWORD* disposition) {
  CeHKey created = 0;
  const int32_t rc =
      Remote<&Rapi::CeRegCreateKeyEx>(kBridgeDown, KeyOf(root), FromWide(sub), &created);
  if (rc == 0 && key) *key = HandleOf(created);
  if (disposition) *disposition = 0;
  return rc;
}

RAPI_EXPORT LONG WINAPI CeRegSetValueEx(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data,
                                        DWORD size) {
  std::vector<uint8_t> bytes(data, data ? data + size : data);
  return Remote<&Rapi::CeRegSetValueEx>(kBridgeDown, KeyOf(key), FromWide(name), type, bytes);
}

RAPI_EXPORT LONG WINAPI CeRegCloseKey(HKEY key) {
  return Remote<&Rapi::CeRegCloseKey>(kBridgeDown, KeyOf(key));
}

RAPI_EXPORT HRESULT WINAPI CeRapiInvoke(LPCWSTR library, LPCWSTR function, DWORD inputSize,
                                        BYTE* input, DWORD* outputSize, BYTE** output, void**,
                                        DWORD) {
  // The input block is the library's to free, and so must come from
  // LocalAlloc; anything else would corrupt the caller's heap.
  std::string in;
  if (input) {
    if (!HeapValidate(GetProcessHeap(), 0, input) || LocalSize(input) < inputSize) {
      std::fprintf(stderr, "rapi.dll: CeRapiInvoke's input is not a LocalAlloc block\n");
      return E_INVALIDARG;
    }
    in.assign(reinterpret_cast<const char*>(input), inputSize);
    takenIn.push_back(Block{input, in});  // freed when the connection ends
  }
  uint32_t outSize = outputSize ? *outputSize : 0;
  std::vector<uint8_t> out;
  const int32_t hr =
      Remote<&Rapi::CeRapiInvoke>(-1, FromWide(library), FromWide(function), in, &outSize, &out);
  if (outputSize) *outputSize = outSize;
  if (output) {
    *output = nullptr;
    if (!out.empty()) {
      *output = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, out.size()));
      if (*output) std::memcpy(*output, out.data(), out.size());
    }
  }
  return hr;
}
