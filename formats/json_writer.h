#pragma once
// A small writer of JSON text: objects, arrays, strings, numbers, booleans
// and null, indented two spaces a level. Strings are taken as UTF-8 and
// escaped as JSON requires (quotes, backslashes, control characters).
//
// The writer trusts its caller to nest correctly: a Key before every value
// inside an object, none inside an array, every Begin matched by its End.
//
// Thread safety: one writer per thread.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hhsync {

class JsonWriter {
 public:
  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  // The name of the next member of the object being written.
  // Returns the writer, so that a member reads json.Key("n").Int(1).
  JsonWriter& Key(std::string_view name);
  void String(std::string_view utf8);
  void Int(int64_t value);
  void Uint(uint64_t value);
  // units / 10^decimals with that many decimals: Scaled(3412, 3) is 3.412.
  void Scaled(int64_t units, int decimals);
  void Bool(bool value);
  void Null();

  // The text so far; whole once every Begin has its End.
  const std::string& text() const { return text_; }

 private:
  // Puts the separator and line break before a value or key.
  void BeforeValue();
  void Open(char bracket);
  void Close(char bracket);
  void NewLine();

  std::string text_;
  // One entry per open container: whether it has a member yet.
  std::vector<bool> hasMember_;
  bool afterKey_ = false;
};

// s as a JSON string, quotes included.
std::string JsonQuote(std::string_view utf8);

}  // namespace hhsync
