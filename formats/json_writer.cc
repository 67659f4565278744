#include "formats/json_writer.h"

#include <cstdio>

namespace hhsync {

std::string JsonQuote(std::string_view utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

void JsonWriter::NewLine() {
  text_ += '\n';
  text_.append(hasMember_.size() * 2, ' ');
}

void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (hasMember_.empty()) return;  // the top-level value
  if (hasMember_.back()) text_ += ',';
  hasMember_.back() = true;
  NewLine();
}

void JsonWriter::Open(char bracket) {
  BeforeValue();
  text_ += bracket;
  hasMember_.push_back(false);
}

void JsonWriter::Close(char bracket) {
  const bool any = hasMember_.back();
  hasMember_.pop_back();
  if (any) NewLine();
  text_ += bracket;
}

void JsonWriter::BeginObject() { Open('{'); }
void JsonWriter::EndObject() { Close('}'); }
void JsonWriter::BeginArray() { Open('['); }
void JsonWriter::EndArray() { Close(']'); }

JsonWriter& JsonWriter::Key(std::string_view name) {
  BeforeValue();
  text_ += JsonQuote(name);
  text_ += ": ";
  afterKey_ = true;
  return *this;
}

void JsonWriter::String(std::string_view utf8) {
  BeforeValue();
  text_ += JsonQuote(utf8);
}

void JsonWriter::Int(int64_t value) {
  BeforeValue();
  text_ += std::to_string(value);
}

void JsonWriter::Uint(uint64_t value) {
  BeforeValue();
  text_ += std::to_string(value);
}

void JsonWriter::Scaled(int64_t units, int decimals) {
  BeforeValue();
  if (units < 0) text_ += '-';
  // The magnitude as unsigned, so that the smallest value has one too.
  const uint64_t magnitude =
      units < 0 ? uint64_t{0} - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
  std::string digits = std::to_string(magnitude);
  const auto places = static_cast<std::size_t>(decimals > 0 ? decimals : 0);
  if (digits.size() <= places) digits.insert(0, places + 1 - digits.size(), '0');
  text_ += digits.substr(0, digits.size() - places);
  if (places > 0) text_ += "." + digits.substr(digits.size() - places);
}

void JsonWriter::Bool(bool value) {
  BeforeValue();
  text_ += value ? "true" : "false";
}

void JsonWriter::Null() {
  BeforeValue();
  text_ += "null";
}

}  // namespace hhsync
