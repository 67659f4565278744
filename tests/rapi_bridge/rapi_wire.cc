#include "rapi_wire.h"

#include <utility>

namespace hhsync::rapi_wire {
namespace {

// Reads an argument of type P into value; true for a non-null pointer.
template <class P, class V>
bool ReadArgument(Reader& r, V& value) {
  uint8_t given = 1;
  if constexpr (std::is_pointer_v<P>) r(given);
  if (given) r(value);
  return std::is_pointer_v<P> && given;
}

// The argument of type P the call is given: value, or where it lives.
template <class P, class V>
decltype(auto) Pass(V& value, bool given) {
  if constexpr (std::is_pointer_v<P>) {
    return given ? &value : nullptr;
  } else {
    return (value);
  }
}

// Reads the call I's arguments, makes it and encodes the result and what
// the pointer arguments point to afterwards.
template <std::size_t I, std::size_t... J>
Message Answer(Rapi& rapi, Reader& r, std::index_sequence<J...>) {
  using Params = typename SignatureAt<I>::Params;
  typename SignatureAt<I>::Values values;
  [[maybe_unused]] bool given[sizeof...(J) + 1] = {};  // a non-null pointer argument
  ((given[J] = ReadArgument<std::tuple_element_t<J, Params>>(r, std::get<J>(values))), ...);
  if (!r.ok() || !r.AtEnd()) return {};
  Writer w;
  w((rapi.*
     std::get<I>(kCalls))(Pass<std::tuple_element_t<J, Params>>(std::get<J>(values), given[J])...));
  ((given[J] ? w(std::get<J>(values)) : void()), ...);
  return std::move(w.out);
}

template <std::size_t... I>
Message Dispatch(Rapi& rapi, Reader& r, uint8_t op, std::index_sequence<I...>) {
  Message reply;
  ((op == I
        ? void(reply = Answer<I>(
                   rapi, r,
                   std::make_index_sequence<std::tuple_size_v<typename SignatureAt<I>::Params>>()))
        : void()),
   ...);
  return reply;
}

}  // namespace

Message AnswerRapiCall(Rapi& rapi, const Message& request) {
  Reader r(request);
  uint8_t op = 0xFF;
  r(op);
  return Dispatch(rapi, r, op, std::make_index_sequence<std::tuple_size_v<decltype(kCalls)>>());
}

}  // namespace hhsync::rapi_wire
