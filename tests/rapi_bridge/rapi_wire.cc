#include "rapi_wire.h"

namespace hhsync::rapi_wire {
namespace {

enum class Op : uint8_t {
  kInitEx = 1,
  kWaitForInit,
  kUninit,
  kGetLastError,
  kDesktopErrorText,
  kMountDbVol,
  kUnmountDbVol,
  kOpenDatabaseEx,
  kCreateDatabaseEx,
  kOidGetInfoEx,
  kDeleteDatabaseEx,
  kReadRecordProps,
  kWriteRecordProps,
  kDeleteRecord,
  kCloseHandle,
  kRegOpenKeyEx,
  kRegQueryValueEx,
  kRegCreateKeyEx,
  kRegSetValueEx,
  kRegCloseKey,
  kRapiInvoke,
};

class Writer {
 public:
  explicit Writer(Op op) { U8(static_cast<uint8_t>(op)); }
  Writer() = default;
  Writer& U8(uint8_t v) {
    out_.push_back(v);
    return *this;
  }
  Writer& U16(uint16_t v) { return U8(v & 0xFF).U8(v >> 8); }
  Writer& U32(uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
  Writer& I32(int32_t v) { return U32(static_cast<uint32_t>(v)); }
  Writer& I64(int64_t v) {
    const uint64_t u = static_cast<uint64_t>(v);
    return U32(static_cast<uint32_t>(u)).U32(static_cast<uint32_t>(u >> 32));
  }
  Writer& Wide(const std::u16string& text) {
    U32(static_cast<uint32_t>(text.size()));
    for (char16_t c : text) U16(c);
    return *this;
  }
  Writer& Bytes(const std::vector<uint8_t>& bytes) {
    U32(static_cast<uint32_t>(bytes.size()));
    out_.insert(out_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  Writer& Guid(const CeGuid& guid) {
    for (uint32_t d : guid.data) U32(d);
    return *this;
  }
  Writer& Prop(const CePropVal& p) {
    return U32(p.propid).U16(p.flags).U32(p.ulVal).Wide(p.lpwsz).Bytes(p.blob);
  }
  Message Take() { return std::move(out_); }

 private:
  Message out_;
};

// Reads a message front to back; every read past the end fails the reader
// and yields zeros.
class Reader {
 public:
  explicit Reader(const Message& in) : in_(in) {}
  bool ok() const { return ok_; }
  bool AtEnd() const { return at_ == in_.size(); }
  uint8_t U8() {
    if (at_ >= in_.size()) {
      ok_ = false;
      return 0;
    }
    return in_[at_++];
  }
  uint16_t U16() {
    const uint16_t lo = U8();
    return static_cast<uint16_t>(lo | (U8() << 8));
  }
  uint32_t U32() {
    const uint32_t lo = U16();
    return lo | (static_cast<uint32_t>(U16()) << 16);
  }
  int32_t I32() { return static_cast<int32_t>(U32()); }
  int64_t I64() {
    const uint64_t lo = U32();
    return static_cast<int64_t>(lo | (static_cast<uint64_t>(U32()) << 32));
  }
  std::u16string Wide() {
    const uint32_t n = U32();
    std::u16string out;
    if (n > (in_.size() - at_) / 2) {
      ok_ = false;
      return out;
    }
    for (uint32_t i = 0; i < n; ++i) out.push_back(static_cast<char16_t>(U16()));
    return out;
  }
  std::vector<uint8_t> Bytes() {
    const uint32_t n = U32();
    if (n > in_.size() - at_) {
      ok_ = false;
      return {};
    }
    std::vector<uint8_t> out(in_.begin() + at_, in_.begin() + at_ + n);
    at_ += n;
    return out;
  }
  CeGuid Guid() {
    CeGuid guid;
    for (uint32_t& d : guid.data) d = U32();
    return guid;
  }
  CePropVal Prop() {
    CePropVal p;
    p.propid = U32();
    p.flags = U16();
    p.ulVal = U32();
    p.lpwsz = Wide();
    p.blob = Bytes();
    return p;
  }
  // A count of items that each take at least minBytes: one larger than the
  // rest of the message could hold fails the reader.
  uint32_t Count(std::size_t minBytes) {
    const uint32_t n = U32();
    if (n > (in_.size() - at_) / minBytes) {
      ok_ = false;
      return 0;
    }
    return n;
  }

 private:
  const Message& in_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

constexpr std::size_t kMinPropBytes = 4 + 2 + 4 + 4 + 4;

}  // namespace

bool RemoteRapi::Call(const Message& request, Message* reply) {
  reply->clear();
  down_ = !transport_(request, reply) || reply->empty();
  return !down_;
}

int32_t RemoteRapi::CeRapiInitEx(RapiInit* init) {
  Message reply;
  init->cbSize = 12;
  init->event = 1;
  if (!Call(Writer(Op::kInitEx).Take(), &reply)) {
    init->result = -1;
    return -1;
  }
  Reader r(reply);
  const int32_t hr = r.I32();
  init->result = r.I32();
  return hr;
}

uint32_t RemoteRapi::WaitForInit(RapiInit* init, uint32_t timeoutMs) {
  Message reply;
  if (!Call(Writer(Op::kWaitForInit).U32(timeoutMs).Take(), &reply)) return kWaitTimeout;
  Reader r(reply);
  const uint32_t wait = r.U32();
  const int32_t result = r.I32();
  if (wait == kWaitObject0) init->result = result;
  return wait;
}

int32_t RemoteRapi::CeRapiUninit() {
  Message reply;
  if (!Call(Writer(Op::kUninit).Take(), &reply)) return -1;
  return Reader(reply).I32();
}

uint32_t RemoteRapi::CeGetLastError() {
  if (down_) return kBridgeDown;
  Message reply;
  if (!Call(Writer(Op::kGetLastError).Take(), &reply)) return kBridgeDown;
  return Reader(reply).U32();
}

std::string RemoteRapi::DesktopErrorText() {
  if (down_) return "the connection to the handheld broke off";
  Message reply;
  if (!Call(Writer(Op::kDesktopErrorText).Take(), &reply)) return "";
  const std::vector<uint8_t> text = Reader(reply).Bytes();
  return std::string(text.begin(), text.end());
}

bool RemoteRapi::CeMountDBVol(CeGuid* guid, const std::u16string& volume, uint32_t flags) {
  Message reply;
  if (!Call(Writer(Op::kMountDbVol).Guid(*guid).Wide(volume).U32(flags).Take(), &reply)) {
    return false;
  }
  Reader r(reply);
  const bool ok = r.U8() != 0;
  *guid = r.Guid();
  return ok;
}

bool RemoteRapi::CeUnmountDBVol(CeGuid* guid) {
  Message reply;
  if (!Call(Writer(Op::kUnmountDbVol).Guid(*guid).Take(), &reply)) return false;
  return Reader(reply).U8() != 0;
}

CeDbHandle RemoteRapi::CeOpenDatabaseEx(const CeGuid& guid, CEOID* oid, const std::u16string& name,
                                        CEPROPID sortProp, uint32_t flags) {
  Message reply;
  if (!Call(Writer(Op::kOpenDatabaseEx)
                .Guid(guid)
                .U32(*oid)
                .Wide(name)
                .U32(sortProp)
                .U32(flags)
                .Take(),
            &reply)) {
    return kInvalidHandle;
  }
  Reader r(reply);
  const CeDbHandle db = static_cast<CeDbHandle>(r.I64());
  *oid = r.U32();
  return db;
}

CEOID RemoteRapi::CeCreateDatabaseEx(const CeGuid& guid, const CeDbaseInfo& info) {
  Writer w(Op::kCreateDatabaseEx);
  w.Guid(guid).U32(info.flags).Wide(info.name).U32(static_cast<uint32_t>(info.sorts.size()));
  for (const CeSortOrder& s : info.sorts) w.U32(s.propid).U32(s.flags);
  Message reply;
  if (!Call(w.Take(), &reply)) return 0;
  return Reader(reply).U32();
}

bool RemoteRapi::CeOidGetInfoEx(const CeGuid& guid, CEOID oid, CeOidInfo* info) {
  Message reply;
  if (!Call(Writer(Op::kOidGetInfoEx).Guid(guid).U32(oid).Take(), &reply)) return false;
  Reader r(reply);
  const bool ok = r.U8() != 0;
  info->recordCount = r.U16();
  info->name = r.Wide();
  return ok;
}

bool RemoteRapi::CeDeleteDatabaseEx(const CeGuid& guid, CEOID oid) {
  Message reply;
  if (!Call(Writer(Op::kDeleteDatabaseEx).Guid(guid).U32(oid).Take(), &reply)) return false;
  return Reader(reply).U8() != 0;
}

CEOID RemoteRapi::CeReadRecordProps(CeDbHandle db, uint32_t flags,
                                    const std::vector<CEPROPID>& wanted,
                                    std::vector<CePropVal>* values) {
  values->clear();
  Writer w(Op::kReadRecordProps);
  w.I64(db).U32(flags).U32(static_cast<uint32_t>(wanted.size()));
  for (CEPROPID id : wanted) w.U32(id);
  Message reply;
  if (!Call(w.Take(), &reply)) return 0;
  Reader r(reply);
  const CEOID oid = r.U32();
  const uint32_t n = r.Count(kMinPropBytes);
  for (uint32_t i = 0; i < n && r.ok(); ++i) values->push_back(r.Prop());
  return r.ok() ? oid : 0;
}

CEOID RemoteRapi::CeWriteRecordProps(CeDbHandle db, CEOID oid,
                                     const std::vector<CePropVal>& values) {
  Writer w(Op::kWriteRecordProps);
  w.I64(db).U32(oid).U32(static_cast<uint32_t>(values.size()));
  for (const CePropVal& p : values) w.Prop(p);
  Message reply;
  if (!Call(w.Take(), &reply)) return 0;
  return Reader(reply).U32();
}

bool RemoteRapi::CeDeleteRecord(CeDbHandle db, CEOID oid) {
  Message reply;
  if (!Call(Writer(Op::kDeleteRecord).I64(db).U32(oid).Take(), &reply)) return false;
  return Reader(reply).U8() != 0;
}

bool RemoteRapi::CeCloseHandle(CeDbHandle db) {
  Message reply;
  if (!Call(Writer(Op::kCloseHandle).I64(db).Take(), &reply)) return false;
  return Reader(reply).U8() != 0;
}

int32_t RemoteRapi::CeRegOpenKeyEx(CeHKey root, const std::u16string& subKey, CeHKey* key) {
  Message reply;
  if (!Call(Writer(Op::kRegOpenKeyEx).U32(root).Wide(subKey).Take(), &reply)) {
    return static_cast<int32_t>(kBridgeDown);
  }
  Reader r(reply);
  const int32_t rc = r.I32();
  const CeHKey opened = r.U32();
  if (rc == 0) *key = opened;
  return rc;
}

int32_t RemoteRapi::CeRegQueryValueEx(CeHKey key, const std::u16string& valueName, uint32_t* type,
                                      std::vector<uint8_t>* data, uint32_t maxBytes) {
  Message reply;
  if (!Call(Writer(Op::kRegQueryValueEx).U32(key).Wide(valueName).U32(maxBytes).Take(), &reply)) {
    return static_cast<int32_t>(kBridgeDown);
  }
  Reader r(reply);
  const int32_t rc = r.I32();
  const uint32_t t = r.U32();
  if (type) *type = t;
  *data = r.Bytes();
  return rc;
}

int32_t RemoteRapi::CeRegCreateKeyEx(CeHKey root, const std::u16string& subKey, CeHKey* key) {
  Message reply;
  if (!Call(Writer(Op::kRegCreateKeyEx).U32(root).Wide(subKey).Take(), &reply)) {
    return static_cast<int32_t>(kBridgeDown);
  }
  Reader r(reply);
  const int32_t rc = r.I32();
  const CeHKey created = r.U32();
  if (rc == 0) *key = created;
  return rc;
}

int32_t RemoteRapi::CeRegSetValueEx(CeHKey key, const std::u16string& valueName, uint32_t type,
                                    const std::vector<uint8_t>& data) {
  Message reply;
  if (!Call(Writer(Op::kRegSetValueEx).U32(key).Wide(valueName).U32(type).Bytes(data).Take(),
            &reply)) {
    return static_cast<int32_t>(kBridgeDown);
  }
  return Reader(reply).I32();
}

int32_t RemoteRapi::CeRegCloseKey(CeHKey key) {
  Message reply;
  if (!Call(Writer(Op::kRegCloseKey).U32(key).Take(), &reply)) {
    return static_cast<int32_t>(kBridgeDown);
  }
  return Reader(reply).I32();
}

int32_t RemoteRapi::CeRapiInvoke(const std::u16string& library, const std::u16string& function,
                                 const std::string& input, uint32_t* outSize,
                                 std::vector<uint8_t>* output) {
  output->clear();
  Message reply;
  const std::vector<uint8_t> in(input.begin(), input.end());
  if (!Call(Writer(Op::kRapiInvoke).Wide(library).Wide(function).Bytes(in).U32(*outSize).Take(),
            &reply)) {
    return -1;
  }
  Reader r(reply);
  const int32_t hr = r.I32();
  *outSize = r.U32();
  *output = r.Bytes();
  return hr;
}

Message AnswerRapiCall(Rapi& rapi, const Message& request) {
  Reader r(request);
  Writer w;
  switch (static_cast<Op>(r.U8())) {
    case Op::kInitEx: {
      RapiInit init;
      const int32_t hr = rapi.CeRapiInitEx(&init);
      w.I32(hr).I32(init.result);
      break;
    }
    case Op::kWaitForInit: {
      const uint32_t timeout = r.U32();
      if (!r.ok()) return {};
      RapiInit init;
      const uint32_t wait = rapi.WaitForInit(&init, timeout);
      w.U32(wait).I32(init.result);
      break;
    }
    case Op::kUninit:
      w.I32(rapi.CeRapiUninit());
      break;
    case Op::kGetLastError:
      w.U32(rapi.CeGetLastError());
      break;
    case Op::kDesktopErrorText: {
      const std::string text = rapi.DesktopErrorText();
      w.Bytes(std::vector<uint8_t>(text.begin(), text.end()));
      break;
    }
    case Op::kMountDbVol: {
      CeGuid guid = r.Guid();
      const std::u16string volume = r.Wide();
      const uint32_t flags = r.U32();
      if (!r.ok()) return {};
      const bool ok = rapi.CeMountDBVol(&guid, volume, flags);
      w.U8(ok).Guid(guid);
      break;
    }
    case Op::kUnmountDbVol: {
      CeGuid guid = r.Guid();
      if (!r.ok()) return {};
      w.U8(rapi.CeUnmountDBVol(&guid));
      break;
    }
    case Op::kOpenDatabaseEx: {
      const CeGuid guid = r.Guid();
      CEOID oid = r.U32();
      const std::u16string name = r.Wide();
      const CEPROPID sort = r.U32();
      const uint32_t flags = r.U32();
      if (!r.ok()) return {};
      const CeDbHandle db = rapi.CeOpenDatabaseEx(guid, &oid, name, sort, flags);
      w.I64(db).U32(oid);
      break;
    }
    case Op::kCreateDatabaseEx: {
      const CeGuid guid = r.Guid();
      CeDbaseInfo info;
      info.flags = r.U32();
      info.name = r.Wide();
      const uint32_t sorts = r.Count(8);
      for (uint32_t i = 0; i < sorts; ++i) {
        CeSortOrder s;
        s.propid = r.U32();
        s.flags = r.U32();
        info.sorts.push_back(s);
      }
      if (!r.ok()) return {};
      w.U32(rapi.CeCreateDatabaseEx(guid, info));
      break;
    }
    case Op::kOidGetInfoEx: {
      const CeGuid guid = r.Guid();
      const CEOID oid = r.U32();
      if (!r.ok()) return {};
      CeOidInfo info;
      const bool ok = rapi.CeOidGetInfoEx(guid, oid, &info);
      w.U8(ok).U16(info.recordCount).Wide(info.name);
      break;
    }
    case Op::kDeleteDatabaseEx: {
      const CeGuid guid = r.Guid();
      const CEOID oid = r.U32();
      if (!r.ok()) return {};
      w.U8(rapi.CeDeleteDatabaseEx(guid, oid));
      break;
    }
    case Op::kReadRecordProps: {
      const CeDbHandle db = static_cast<CeDbHandle>(r.I64());
      const uint32_t flags = r.U32();
      std::vector<CEPROPID> wanted(r.Count(4));
      for (CEPROPID& id : wanted) id = r.U32();
      if (!r.ok()) return {};
      std::vector<CePropVal> values;
      const CEOID oid = rapi.CeReadRecordProps(db, flags, wanted, &values);
      w.U32(oid).U32(static_cast<uint32_t>(values.size()));
      for (const CePropVal& p : values) w.Prop(p);
      break;
    }
    case Op::kWriteRecordProps: {
      const CeDbHandle db = static_cast<CeDbHandle>(r.I64());
      const CEOID oid = r.U32();
      std::vector<CePropVal> values(r.Count(kMinPropBytes));
      for (CePropVal& p : values) p = r.Prop();
      if (!r.ok()) return {};
      w.U32(rapi.CeWriteRecordProps(db, oid, values));
      break;
    }
    case Op::kDeleteRecord: {
      const CeDbHandle db = static_cast<CeDbHandle>(r.I64());
      const CEOID oid = r.U32();
      if (!r.ok()) return {};
      w.U8(rapi.CeDeleteRecord(db, oid));
      break;
    }
    case Op::kCloseHandle: {
      const CeDbHandle db = static_cast<CeDbHandle>(r.I64());
      if (!r.ok()) return {};
      w.U8(rapi.CeCloseHandle(db));
      break;
    }
    case Op::kRegOpenKeyEx:
    case Op::kRegCreateKeyEx: {
      const bool create = request[0] == static_cast<uint8_t>(Op::kRegCreateKeyEx);
      const CeHKey root = r.U32();
      const std::u16string sub = r.Wide();
      if (!r.ok()) return {};
      CeHKey key = 0;
      const int32_t rc =
          create ? rapi.CeRegCreateKeyEx(root, sub, &key) : rapi.CeRegOpenKeyEx(root, sub, &key);
      w.I32(rc).U32(key);
      break;
    }
    case Op::kRegQueryValueEx: {
      const CeHKey key = r.U32();
      const std::u16string name = r.Wide();
      const uint32_t maxBytes = r.U32();
      if (!r.ok()) return {};
      uint32_t type = 0;
      std::vector<uint8_t> data;
      const int32_t rc = rapi.CeRegQueryValueEx(key, name, &type, &data, maxBytes);
      w.I32(rc).U32(type).Bytes(data);
      break;
    }
    case Op::kRegSetValueEx: {
      const CeHKey key = r.U32();
      const std::u16string name = r.Wide();
      const uint32_t type = r.U32();
      const std::vector<uint8_t> data = r.Bytes();
      if (!r.ok()) return {};
      w.I32(rapi.CeRegSetValueEx(key, name, type, data));
      break;
    }
    case Op::kRegCloseKey: {
      const CeHKey key = r.U32();
      if (!r.ok()) return {};
      w.I32(rapi.CeRegCloseKey(key));
      break;
    }
    case Op::kRapiInvoke: {
      const std::u16string library = r.Wide();
      const std::u16string function = r.Wide();
      const std::vector<uint8_t> input = r.Bytes();
      uint32_t outSize = r.U32();
      if (!r.ok()) return {};
      std::vector<uint8_t> output;
      const int32_t hr = rapi.CeRapiInvoke(
          library, function, std::string(input.begin(), input.end()), &outSize, &output);
      w.I32(hr).U32(outSize).Bytes(output);
      break;
    }
    default:
      return {};
  }
  if (!r.ok() || !r.AtEnd()) return {};
  return w.Take();
}

}  // namespace hhsync::rapi_wire
