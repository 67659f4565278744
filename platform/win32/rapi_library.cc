#include "platform/win32/rapi_library.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "platform/win32/rapi_abi.h"

namespace hhsync {

using rapi_abi::CEDBASEINFO;
using rapi_abi::CEGUID;
using rapi_abi::CEOIDINFO;
using rapi_abi::CEPROPVAL;
using rapi_abi::FromAbi;
using rapi_abi::FromWide;
using rapi_abi::kMaxDbaseNameLength;
using rapi_abi::kMaxSortOrders;
using rapi_abi::kObjTypeDatabase;
using rapi_abi::RAPIINIT;
using rapi_abi::ToAbi;

struct RapiLibrary::Api {
  rapi_abi::CeRapiInitExFn initEx;
  rapi_abi::CeRapiUninitFn uninit;
  rapi_abi::CeGetLastErrorFn getLastError;
  rapi_abi::CeRapiGetErrorFn rapiGetError;  // optional: the desktop side's own failure
  rapi_abi::CeMountDBVolFn mountDbVol;
  rapi_abi::CeUnmountDBVolFn unmountDbVol;
  rapi_abi::CeOpenDatabaseExFn openDatabaseEx;
  rapi_abi::CeCreateDatabaseExFn createDatabaseEx;
  rapi_abi::CeOidGetInfoExFn oidGetInfoEx;
  rapi_abi::CeDeleteDatabaseExFn deleteDatabaseEx;
  rapi_abi::CeReadRecordPropsFn readRecordProps;
  rapi_abi::CeWriteRecordPropsFn writeRecordProps;
  rapi_abi::CeDeleteRecordFn deleteRecord;
  rapi_abi::CeCloseHandleFn closeHandle;
  rapi_abi::CeRegOpenKeyExFn regOpenKeyEx;
  rapi_abi::CeRegQueryValueExFn regQueryValueEx;
  rapi_abi::CeRegCreateKeyExFn regCreateKeyEx;
  rapi_abi::CeRegSetValueExFn regSetValueEx;
  rapi_abi::CeRegCloseKeyFn regCloseKey;
  rapi_abi::CeRapiInvokeFn rapiInvoke;
};

namespace {

static_assert(sizeof(WCHAR) == sizeof(char16_t), "UTF-16 units are WCHARs");

// The port's UTF-16 text as the library's zero-terminated wide string.
std::wstring Wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

HANDLE ToHandle(CeDbHandle db) { return reinterpret_cast<HANDLE>(db); }

// Looks an entry point up by name into fn; false when it is missing.
template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn* fn) {
  *fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return *fn != nullptr;
}

}  // namespace

RapiLibrary::RapiLibrary(const std::string& library) {
  HMODULE module = LoadLibraryA(library.c_str());
  if (!module) {
    missingError_ = GetLastError();
    return;
  }
  auto api = std::make_unique<Api>();
  bool complete = Resolve(module, "CeRapiInitEx", &api->initEx) &&
                  Resolve(module, "CeRapiUninit", &api->uninit) &&
                  Resolve(module, "CeGetLastError", &api->getLastError) &&
                  Resolve(module, "CeMountDBVol", &api->mountDbVol) &&
                  Resolve(module, "CeUnmountDBVol", &api->unmountDbVol) &&
                  Resolve(module, "CeOpenDatabaseEx", &api->openDatabaseEx) &&
                  Resolve(module, "CeCreateDatabaseEx", &api->createDatabaseEx) &&
                  Resolve(module, "CeOidGetInfoEx", &api->oidGetInfoEx) &&
                  Resolve(module, "CeDeleteDatabaseEx", &api->deleteDatabaseEx) &&
                  Resolve(module, "CeReadRecordProps", &api->readRecordProps) &&
                  Resolve(module, "CeWriteRecordProps", &api->writeRecordProps) &&
                  Resolve(module, "CeDeleteRecord", &api->deleteRecord) &&
                  Resolve(module, "CeCloseHandle", &api->closeHandle) &&
                  Resolve(module, "CeRegOpenKeyEx", &api->regOpenKeyEx) &&
                  Resolve(module, "CeRegQueryValueEx", &api->regQueryValueEx) &&
                  Resolve(module, "CeRegCreateKeyEx", &api->regCreateKeyEx) &&
                  Resolve(module, "CeRegSetValueEx", &api->regSetValueEx) &&
                  Resolve(module, "CeRegCloseKey", &api->regCloseKey) &&
                  Resolve(module, "CeRapiInvoke", &api->rapiInvoke);
  if (!complete) {
    missingError_ = ERROR_PROC_NOT_FOUND;
    FreeLibrary(module);
    return;
  }
  Resolve(module, "CeRapiGetError", &api->rapiGetError);
  module_ = module;
  api_ = std::move(api);
}

RapiLibrary::~RapiLibrary() {
  if (module_) FreeLibrary(static_cast<HMODULE>(module_));
}

// --- Connection ------------------------------------------------------------

int32_t RapiLibrary::CeRapiInitEx(RapiInit* init) {
  init->cbSize = 12;
  init->event = 0;
  if (!api_) {
    // Nothing can connect: the wait that follows ends at once, unsignalled.
    init->result = HRESULT_FROM_WIN32(missingError_);
    return init->result;
  }
  // The library keeps the record and completes it from a thread of its own
  // before it signals the event, maybe long after this call returned: the
  // record lives as long as the library does.
  auto raw = std::make_unique<RAPIINIT>();
  raw->cbSize = sizeof(RAPIINIT);
  const HRESULT hr = api_->initEx(raw.get());
  init->event = reinterpret_cast<intptr_t>(raw->heRapiInit);
  init->result = hr;  // the connection's own result comes with the event
  initRecords_.push_back(std::move(raw));
  return hr;
}

uint32_t RapiLibrary::WaitForInit(RapiInit* init, uint32_t timeoutMs) {
  if (!api_ || init->event == 0) return kWaitTimeout;
  HANDLE event = reinterpret_cast<HANDLE>(static_cast<intptr_t>(init->event));
  if (WaitForSingleObject(event, timeoutMs) != WAIT_OBJECT_0) return kWaitTimeout;
  // The library filled the result in before it signalled the event.
  for (const auto& record : initRecords_) {
    if (record->heRapiInit == event) init->result = record->hrRapiInit;
  }
  return kWaitObject0;
}

int32_t RapiLibrary::CeRapiUninit() {
  if (!api_) return HRESULT_FROM_WIN32(missingError_);
  // The handheld's keys are gone with the connection.
  keys_.clear();
  return api_->uninit();
}

uint32_t RapiLibrary::CeGetLastError() { return api_ ? api_->getLastError() : missingError_; }

std::string RapiLibrary::DesktopErrorText() {
  if (!api_ || !api_->rapiGetError) return "";
  const HRESULT hr = api_->rapiGetError();
  if (SUCCEEDED(hr)) return "";
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out = n > 0 && text ? std::string(text, n) : "error " + std::to_string(hr);
  if (text) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) {
    out.pop_back();
  }
  return out;
}

// --- Volumes and databases ---------------------------------------------------

bool RapiLibrary::CeMountDBVol(CeGuid* guid, const std::u16string& volume, uint32_t flags) {
  if (!api_) return false;
  CEGUID raw = ToAbi(*guid);
  std::wstring name = Wide(volume);
  const BOOL ok = api_->mountDbVol(&raw, name.data(), flags);
  *guid = FromAbi(&raw);
  return ok != FALSE;
}

bool RapiLibrary::CeUnmountDBVol(CeGuid* guid) {
  if (!api_) return false;
  CEGUID raw = ToAbi(*guid);
  return api_->unmountDbVol(&raw) != FALSE;
}

CeDbHandle RapiLibrary::CeOpenDatabaseEx(const CeGuid& guid, CEOID* oid, const std::u16string& name,
                                         CEPROPID sortProp, uint32_t flags) {
  if (!api_) return kInvalidHandle;
  CEGUID raw = ToAbi(guid);
  std::wstring wide = Wide(name);
  rapi_abi::CEOID id = *oid;
  HANDLE db = api_->openDatabaseEx(&raw, &id, wide.data(), sortProp, flags, nullptr);
  *oid = id;
  return reinterpret_cast<CeDbHandle>(db);
}

CEOID RapiLibrary::CeCreateDatabaseEx(const CeGuid& guid, const CeDbaseInfo& info) {
  if (!api_) return 0;
  CEGUID raw = ToAbi(guid);
  CEDBASEINFO dbInfo{};
  dbInfo.dwFlags = info.flags;
  const std::size_t chars = std::min<std::size_t>(info.name.size(), kMaxDbaseNameLength - 1);
  for (std::size_t i = 0; i < chars; ++i) dbInfo.szDbaseName[i] = info.name[i];
  const std::size_t sorts = std::min<std::size_t>(info.sorts.size(), kMaxSortOrders);
  dbInfo.wNumSortOrder = static_cast<WORD>(sorts);
  for (std::size_t i = 0; i < sorts; ++i) {
    dbInfo.rgSortSpecs[i].propid = info.sorts[i].propid;
    dbInfo.rgSortSpecs[i].dwFlags = info.sorts[i].flags;
  }
  return api_->createDatabaseEx(&raw, &dbInfo);
}

bool RapiLibrary::CeOidGetInfoEx(const CeGuid& guid, CEOID oid, CeOidInfo* info) {
  if (!api_) return false;
  CEGUID raw = ToAbi(guid);
  CEOIDINFO oidInfo{};
  if (!api_->oidGetInfoEx(&raw, oid, &oidInfo)) return false;
  if (oidInfo.wObjType == kObjTypeDatabase) {
    info->recordCount = oidInfo.infDatabase.wNumRecords;
    WCHAR name[kMaxDbaseNameLength + 1] = {};
    std::memcpy(name, oidInfo.infDatabase.szDbaseName, sizeof oidInfo.infDatabase.szDbaseName);
    info->name = FromWide(name);
  }
  return true;
}

bool RapiLibrary::CeDeleteDatabaseEx(const CeGuid& guid, CEOID oid) {
  if (!api_) return false;
  CEGUID raw = ToAbi(guid);
  return api_->deleteDatabaseEx(&raw, oid) != FALSE;
}

// --- Records -----------------------------------------------------------------

CEOID RapiLibrary::CeReadRecordProps(CeDbHandle db, uint32_t flags,
                                     const std::vector<CEPROPID>& wanted,
                                     std::vector<CePropVal>* values) {
  values->clear();
  if (!api_) return 0;
  std::vector<rapi_abi::CEPROPID> ids(wanted.begin(), wanted.end());
  WORD count = static_cast<WORD>(ids.size());
  BYTE* buffer = nullptr;  // allocated by the library with LocalAlloc
  DWORD size = 0;
  const CEOID oid = api_->readRecordProps(ToHandle(db), flags, &count,
                                          ids.empty() ? nullptr : ids.data(), &buffer, &size);
  if (oid != 0 && buffer) {
    const CEPROPVAL* props = reinterpret_cast<const CEPROPVAL*>(buffer);
    for (WORD i = 0; i < count; ++i) values->push_back(FromAbi(props[i]));
  }
  if (buffer) LocalFree(buffer);
  return oid;
}

CEOID RapiLibrary::CeWriteRecordProps(CeDbHandle db, CEOID oid,
                                      const std::vector<CePropVal>& values) {
  if (!api_) return 0;
  // The texts and blocks the records point into live until the call returns.
  std::vector<std::wstring> texts;
  texts.reserve(values.size());
  std::vector<CEPROPVAL> props(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    const CePropVal& v = values[i];
    CEPROPVAL& p = props[i];
    p.propid = v.propid;
    p.wFlags = v.flags;
    switch (PropType(v.propid)) {
      case CEVT_UI4:
        p.val.ulVal = v.ulVal;
        break;
      case CEVT_LPWSTR:
        texts.push_back(Wide(v.lpwsz));
        p.val.lpwstr = texts.back().data();
        break;
      case CEVT_BLOB:
        p.val.blob.dwCount = static_cast<DWORD>(v.blob.size());
        p.val.blob.lpb = const_cast<BYTE*>(v.blob.data());
        break;
      default:
        break;
    }
  }
  return api_->writeRecordProps(ToHandle(db), oid, static_cast<WORD>(props.size()),
                                props.empty() ? nullptr : props.data());
}

bool RapiLibrary::CeDeleteRecord(CeDbHandle db, CEOID oid) {
  return api_ && api_->deleteRecord(ToHandle(db), oid) != FALSE;
}

bool RapiLibrary::CeCloseHandle(CeDbHandle db) {
  return api_ && api_->closeHandle(ToHandle(db)) != FALSE;
}

// --- Registry ------------------------------------------------------------------

void* RapiLibrary::KeyHandle(CeHKey key) const {
  if (key == kHKeyLocalMachine) return HKEY_LOCAL_MACHINE;
  auto it = keys_.find(key);
  return it == keys_.end() ? nullptr : it->second;
}

CeHKey RapiLibrary::KeepKey(void* handle) {
  while (nextKey_ == 0 || nextKey_ == kHKeyLocalMachine || keys_.count(nextKey_)) ++nextKey_;
  const CeHKey key = nextKey_++;
  keys_[key] = handle;
  return key;
}

int32_t RapiLibrary::CeRegOpenKeyEx(CeHKey root, const std::u16string& subKey, CeHKey* key) {
  if (!api_) return static_cast<int32_t>(missingError_);
  HKEY parent = static_cast<HKEY>(KeyHandle(root));
  if (!parent) return ERROR_INVALID_HANDLE;
  const std::wstring sub = Wide(subKey);
  HKEY opened = nullptr;
  const LONG rc = api_->regOpenKeyEx(parent, sub.c_str(), 0, 0, &opened);
  if (rc == ERROR_SUCCESS) *key = KeepKey(opened);
  return rc;
}

int32_t RapiLibrary::CeRegQueryValueEx(CeHKey key, const std::u16string& valueName, uint32_t* type,
                                       std::vector<uint8_t>* data, uint32_t maxBytes) {
  if (!api_) return static_cast<int32_t>(missingError_);
  HKEY handle = static_cast<HKEY>(KeyHandle(key));
  if (!handle) return ERROR_INVALID_HANDLE;
  const std::wstring name = Wide(valueName);
  data->assign(maxBytes, 0);
  DWORD valueType = 0;
  DWORD size = maxBytes;
  const LONG rc =
      api_->regQueryValueEx(handle, name.c_str(), nullptr, &valueType, data->data(), &size);
  if (type) *type = valueType;
  data->resize(rc == ERROR_SUCCESS ? std::min<DWORD>(size, maxBytes) : 0);
  return rc;
}

int32_t RapiLibrary::CeRegCreateKeyEx(CeHKey root, const std::u16string& subKey, CeHKey* key) {
  if (!api_) return static_cast<int32_t>(missingError_);
  HKEY parent = static_cast<HKEY>(KeyHandle(root));
  if (!parent) return ERROR_INVALID_HANDLE;
  const std::wstring sub = Wide(subKey);
  HKEY created = nullptr;
  DWORD disposition = 0;
  const LONG rc = api_->regCreateKeyEx(parent, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                       &created, &disposition);
  if (rc == ERROR_SUCCESS) *key = KeepKey(created);
  return rc;
}

int32_t RapiLibrary::CeRegSetValueEx(CeHKey key, const std::u16string& valueName, uint32_t type,
                                     const std::vector<uint8_t>& data) {
  if (!api_) return static_cast<int32_t>(missingError_);
  HKEY handle = static_cast<HKEY>(KeyHandle(key));
  if (!handle) return ERROR_INVALID_HANDLE;
  const std::wstring name = Wide(valueName);
  return api_->regSetValueEx(handle, name.c_str(), 0, type, data.data(),
                             static_cast<DWORD>(data.size()));
}

int32_t RapiLibrary::CeRegCloseKey(CeHKey key) {
  if (!api_) return static_cast<int32_t>(missingError_);
  auto it = keys_.find(key);
  if (it == keys_.end()) return ERROR_INVALID_HANDLE;
  const LONG rc = api_->regCloseKey(static_cast<HKEY>(it->second));
  keys_.erase(it);
  return rc;
}

// --- Remote calls ----------------------------------------------------------------

int32_t RapiLibrary::CeRapiInvoke(const std::u16string& library, const std::u16string& function,
                                  const std::string& input, uint32_t* outSize,
                                  std::vector<uint8_t>* output) {
  output->clear();
  if (!api_) return HRESULT_FROM_WIN32(missingError_);
  const std::wstring lib = Wide(library);
  const std::wstring fn = Wide(function);
  // The input block is the library's once it is passed: it frees it with
  // LocalFree, so it must come from LocalAlloc.
  BYTE* in = nullptr;
  if (!input.empty()) {
    in = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, input.size()));
    if (!in) return E_OUTOFMEMORY;
    std::memcpy(in, input.data(), input.size());
  }
  DWORD size = *outSize;
  BYTE* out = nullptr;  // allocated by the library with LocalAlloc
  const HRESULT hr = api_->rapiInvoke(lib.c_str(), fn.c_str(), static_cast<DWORD>(input.size()), in,
                                      &size, &out, nullptr, 0);
  *outSize = size;
  if (out) {
    output->assign(out, out + size);
    LocalFree(out);
  }
  return hr;
}

}  // namespace hhsync
