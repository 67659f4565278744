#pragma once
// The remote device calls as messages, so that a test stand-in for the
// desktop's rapi.dll (a Windows program under wine) can have an emulated
// handheld on the Linux side answer them over a loopback connection.
//
// The calls are the Rapi port's methods, numbered by their place in kCalls,
// and encoded from their signatures alone: a request is the number and the
// arguments (a pointer argument as whether it is null, then what it points
// to); a reply is the result, then what each non-null pointer argument
// points to after the call. Call makes a call from the calling side,
// AnswerRapiCall answers it on the handheld's side; both build from this one
// file, so the encoding cannot drift apart.
//
// Numbers of one or two bytes travel as they are, wider ones as 8 bytes
// (a database handle is 32 bits wide on one side and 64 on the other), all
// little-endian; texts, byte blocks and lists as their length, then their
// items. A framed message on a stream is its 32-bit length, then itself.

#include <cstdint>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "platform/rapi.h"

namespace hhsync::rapi_wire {

using Message = std::vector<uint8_t>;

inline constexpr auto kCalls = std::make_tuple(
    &Rapi::CeRapiInitEx, &Rapi::WaitForInit, &Rapi::CeRapiUninit, &Rapi::CeGetLastError,
    &Rapi::DesktopErrorText, &Rapi::CeMountDBVol, &Rapi::CeUnmountDBVol, &Rapi::CeOpenDatabaseEx,
    &Rapi::CeCreateDatabaseEx, &Rapi::CeOidGetInfoEx, &Rapi::CeDeleteDatabaseEx,
    &Rapi::CeReadRecordProps, &Rapi::CeWriteRecordProps, &Rapi::CeDeleteRecord,
    &Rapi::CeCloseHandle, &Rapi::CeRegOpenKeyEx, &Rapi::CeRegQueryValueEx, &Rapi::CeRegCreateKeyEx,
    &Rapi::CeRegSetValueEx, &Rapi::CeRegCloseKey, &Rapi::CeRapiInvoke);

template <class M>
struct Signature;
template <class R, class... A>
struct Signature<R (Rapi::*)(A...)> {
  using Result = R;
  using Params = std::tuple<A...>;
  using Values = std::tuple<std::remove_cvref_t<std::remove_pointer_t<A>>...>;
};
template <std::size_t I>
using SignatureAt = Signature<std::remove_cvref_t<decltype(std::get<I>(kCalls))>>;
template <auto method>
using ResultOf = typename Signature<decltype(method)>::Result;

// A call's number: its place in kCalls.
template <auto method>
struct Tag {};
template <auto method, std::size_t... I>
constexpr uint8_t NumberOf(std::index_sequence<I...>) {
  static_assert((std::is_same_v<Tag<method>, Tag<std::get<I>(kCalls)>> || ...), "not in kCalls");
  return ((std::is_same_v<Tag<method>, Tag<std::get<I>(kCalls)>> ? I : 0) + ...);
}

template <class T>
concept Sequence = requires(T t) {
  t.resize(0);
};

// The fields of the port's records, in the order they travel.
template <class A, class T>
void Fields(A& a, T& v) {
  if constexpr (std::is_same_v<T, CeGuid>) {
    for (uint32_t& d : v.data) a(d);
  } else if constexpr (std::is_same_v<T, CePropVal>) {
    a(v.propid), a(v.flags), a(v.ulVal), a(v.lpwsz), a(v.blob);
  } else if constexpr (std::is_same_v<T, CeSortOrder>) {
    a(v.propid), a(v.flags);
  } else if constexpr (std::is_same_v<T, CeDbaseInfo>) {
    a(v.flags), a(v.name), a(v.sorts);
  } else if constexpr (std::is_same_v<T, CeOidInfo>) {
    a(v.recordCount), a(v.name);
  } else {
    static_assert(std::is_same_v<T, RapiInit>);
    a(v.cbSize), a(v.event), a(v.result);
  }
}

template <class T>
constexpr std::size_t kWidth = sizeof(T) <= 2 ? sizeof(T) : 8;

class Writer {
 public:
  template <class T>
  void operator()(const T& v) {
    if constexpr (std::is_integral_v<T>) {
      for (std::size_t i = 0; i < kWidth<T>; ++i) out.push_back(uint8_t(uint64_t(v) >> (8 * i)));
    } else if constexpr (Sequence<T>) {
      (*this)(uint64_t{v.size()});
      for (const auto& item : v) (*this)(item);
    } else {
      Fields(*this, const_cast<T&>(v));
    }
  }
  // An argument of a request.
  template <class T>
  void Argument(const T& v) {
    if constexpr (std::is_pointer_v<T>) {
      (*this)(uint8_t{v != nullptr});
      if (v) (*this)(*v);
    } else {
      (*this)(v);
    }
  }
  Message out;
};

// Reads a message front to back; a read past its end fails the reader.
class Reader {
 public:
  explicit Reader(const Message& in) : in_(in) {}
  bool ok() const { return ok_; }
  bool AtEnd() const { return at_ == in_.size(); }
  template <class T>
  void operator()(T& v) {
    if constexpr (std::is_integral_v<T>) {
      uint64_t u = 0;
      if (in_.size() - at_ < kWidth<T>) ok_ = false;
      for (std::size_t i = 0; ok_ && i < kWidth<T>; ++i) u |= uint64_t{in_[at_++]} << (8 * i);
      v = static_cast<T>(u);
    } else if constexpr (Sequence<T>) {
      uint64_t n = 0;
      (*this)(n);
      if (n > in_.size() - at_) ok_ = false;  // every item takes a byte at least
      v.resize(ok_ ? n : 0);
      for (auto& item : v) (*this)(item);
    } else {
      Fields(*this, v);
    }
  }
  // What a pointer argument points to after the call, from a reply.
  template <class T>
  void Result(T& v) {
    if constexpr (std::is_pointer_v<T>) {
      if (v) (*this)(*v);
    }
  }

 private:
  const Message& in_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

// Sends a request and receives its reply; false when the connection failed.
using Transport = bool (*)(const Message& request, Message* reply);

// Makes the call method through transport; fail is its result when no
// complete reply came.
template <auto method, class... A>
ResultOf<method> Call(Transport transport, ResultOf<method> fail, A&&... args) {
  typename Signature<decltype(method)>::Params params(std::forward<A>(args)...);
  Writer w;
  w(NumberOf<method>(std::make_index_sequence<std::tuple_size_v<decltype(kCalls)>>()));
  std::apply([&](const auto&... p) { (w.Argument(p), ...); }, params);
  Message reply;
  if (!transport(w.out, &reply)) return fail;
  Reader r(reply);
  ResultOf<method> result{};
  r(result);
  std::apply([&](auto&... p) { (r.Result(p), ...); }, params);
  return r.ok() && r.AtEnd() ? result : fail;
}

// Decodes one request, makes the call on rapi and returns the encoded reply;
// an empty reply for a request that cannot be decoded.
Message AnswerRapiCall(Rapi& rapi, const Message& request);

// Moves all of size bytes through io (a socket's send or receive, which
// may move fewer and returns how many, or 0 or less when it failed).
template <class Io, class Byte>
bool MoveAll(Io io, Byte* data, std::size_t size) {
  for (long n = 0; size > 0; data += n, size -= static_cast<std::size_t>(n)) {
    n = static_cast<long>(io(data, size));
    if (n <= 0) return false;
  }
  return true;
}
template <class Send>
bool SendFrame(Send send, const Message& m) {
  Message frame = {uint8_t(m.size()), uint8_t(m.size() >> 8), uint8_t(m.size() >> 16),
                   uint8_t(m.size() >> 24)};
  frame.insert(frame.end(), m.begin(), m.end());
  return MoveAll(send, frame.data(), frame.size());
}
template <class Receive>
bool ReceiveFrame(Receive receive, Message* m) {
  uint8_t n[4];
  if (!MoveAll(receive, n, 4)) return false;
  const uint32_t size = n[0] | n[1] << 8 | n[2] << 16 | uint32_t{n[3]} << 24;
  if (size > (64u << 20)) return false;  // no call is this large
  m->resize(size);
  return MoveAll(receive, m->data(), size);
}

}  // namespace hhsync::rapi_wire
