#include "extras/keep_record.h"

#include <utility>
#include <vector>

#include "base/text.h"
#include "device/device_database.h"
#include "device/records.h"

namespace hhsync {

namespace {

void ReplaceAll(std::string* text, char from, const char* to) {
  std::string out;
  out.reserve(text->size());
  for (char c : *text) {
    if (c == from) {
      out += to;
    } else {
      out += c;
    }
  }
  *text = std::move(out);
}

}  // namespace

std::string EscapeKeepText(const std::string& text) {
  // Applied one after the other to the whole text; "%" goes first so that
  // the "%" of the later replacements is never escaped again.
  static constexpr std::pair<char, const char*> kSteps[] = {
      {'%', "%25"}, {'&', "%26"}, {'#', "%23"},  {'*', "%2a"},
      {'$', "%24"}, {' ', "+"},   {'\n', "%0a"}, {'\r', "%0d"},
  };
  std::string out = text;
  for (const auto& [from, to] : kSteps) ReplaceAll(&out, from, to);
  return out;
}

KeepRecord::KeepRecord(const DeviceDatabase& volume, const DbHandle& handle) {
  const std::vector<CEPROPID> wanted = {UintProp(kValueProp), TextProp(kTextProp101),
                                        TextProp(kTextProp103), TextProp(kTextProp104),
                                        TextProp(kTextProp105)};
  auto take = [this](const CePropVal& value) {
    switch (value.propid) {
      case UintProp(kValueProp):
        value100_ = value.ulVal;
        break;
      case TextProp(kTextProp101):
        text101_ = WideToAnsi(value.lpwsz);
        break;
      case TextProp(kTextProp103):
        text103_ = WideToAnsi(value.lpwsz);
        break;
      case TextProp(kTextProp104):
        text104_ = WideToAnsi(value.lpwsz);
        break;
      case TextProp(kTextProp105):
        text105_ = WideToAnsi(value.lpwsz);
        break;
      default:
        break;  // values of other properties are ignored
    }
  };
  const RecordRead read = ReadRecordValues(volume.rapi(), &volume.failures(), handle, wanted, take);
  oid_ = read.oid;
  readFailed_ = read.outcome == ReadOutcome::kFailed;
  UpdatePageRequest();
}

KeepRecord::KeepRecord(uint32_t value100, std::string text101, std::string text103,
                       std::string text104, std::string text105)
    : value100_(value100),
      text101_(std::move(text101)),
      text103_(std::move(text103)),
      text104_(std::move(text104)),
      text105_(std::move(text105)) {
  UpdatePageRequest();
}

void KeepRecord::UpdatePageRequest() { isPageRequest_ = text101_.find("m:") == 0; }

std::string KeepRecord::ToText() {
  // The server splits entries at "|", so a "|" inside the last field would
  // shift the fields of every following entry.
  for (char& c : text103_) {
    if (c == '|') c = ' ';
  }
  std::string text =
      std::to_string(value100_) + "|" + text104_ + "|" + text101_ + "|" + text105_ + "|" + text103_;
  return EscapeKeepText(text);
}

}  // namespace hhsync
