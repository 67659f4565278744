#include "formats/sdat.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "base/byte_order.h"
#include "base/tokenizer.h"

namespace hhsync {
namespace {

constexpr std::size_t kBmpHeadersSize = 14 + 40;  // file header + info header
constexpr std::size_t kMaxLengthField = 0xFFFF;

}  // namespace

// --- PropertySet ---------------------------------------------------------

PropertySet PropertySet::FromText(std::string_view text) {
  PropertySet set;
  Tokenizer lines(text, "\n");
  while (lines.HasMore()) {
    std::string line = lines.Next();
    if (!line.empty() && line[0] == '#') continue;
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    set.Set(line.substr(0, eq), line.substr(eq + 1));
  }
  return set;
}

const std::string* PropertySet::Find(std::string_view key) const {
  auto it = values_.find(key);
  return it == values_.end() ? nullptr : &it->second;
}

bool PropertySet::Lookup(std::string_view key, std::string* value) const {
  const std::string* found = Find(key);
  if (!found) return false;
  *value = *found;
  return true;
}

std::string PropertySet::Get(std::string_view key, std::string_view fallback) const {
  const std::string* found = Find(key);
  return found ? *found : std::string(fallback);
}

void PropertySet::Set(std::string key, std::string value) {
  values_.insert_or_assign(std::move(key), std::move(value));
}

// --- The S.DAT format ------------------------------------------------------

std::size_t BitmapImageLength(std::span<const uint8_t> rest) {
  if (rest.size() < 6) return rest.size();
  std::size_t declared = ReadLe32(rest.data() + 2);
  if (declared < kBmpHeadersSize) return rest.size();
  return std::min(declared, rest.size());
}

SdatDirectory ReadSdatDirectory(std::span<const uint8_t> image) {
  SdatDirectory dir;
  const std::size_t size = image.size();
  if (size < kSdatDirectoryStart) {
    dir.complete = size == 0;  // an empty file simply has no entries
    return dir;
  }
  dir.count = ReadBe32(image.data() + 1);
  std::size_t pos = kSdatDirectoryStart;
  for (uint32_t i = 0; i < dir.count; ++i) {
    if (size - pos < kSdatRecordFixedSize) {
      dir.complete = false;
      break;
    }
    SdatRecord rec;
    rec.offset = ReadBe32(image.data() + pos);
    rec.type = ReadBe16(image.data() + pos + 4);
    rec.length = ReadBe16(image.data() + pos + 6);
    std::size_t nameStart = pos + kSdatRecordFixedSize;
    std::size_t nameEnd = nameStart;
    while (nameEnd < size && image[nameEnd] != 0) ++nameEnd;
    if (nameEnd >= size) {  // no terminating zero within the file
      dir.complete = false;
      break;
    }
    rec.name.assign(reinterpret_cast<const char*>(image.data() + nameStart), nameEnd - nameStart);
    pos = nameEnd + 1;

    switch (rec.type) {
      case kSdatText:
      case kSdatText2:
      case kSdatPropertySet:
        rec.dataSize = rec.length;
        break;
      case kSdatBitmap:
        if (rec.offset <= size) rec.dataSize = BitmapImageLength(image.subspan(rec.offset));
        break;
      default:
        rec.dataSize = 0;  // skipped: its data is never looked at
        break;
    }
    bool hasData = rec.type == kSdatText || rec.type == kSdatText2 || rec.type == kSdatBitmap ||
                   rec.type == kSdatPropertySet;
    if (hasData && (rec.offset > size || rec.dataSize > size - rec.offset)) {
      dir.complete = false;
      break;
    }
    dir.records.push_back(std::move(rec));
  }
  return dir;
}

bool BuildSdat(const std::vector<SdatItem>& items, std::vector<uint8_t>* out, std::string* error) {
  if (items.size() > std::numeric_limits<uint32_t>::max()) {
    *error = "too many entries";
    return false;
  }
  std::size_t directorySize = kSdatDirectoryStart;
  for (const SdatItem& item : items) {
    if (item.name.find('\0') != std::string::npos) {
      *error = "entry name holds a zero byte";
      return false;
    }
    if (item.type != kSdatBitmap && item.data.size() > kMaxLengthField) {
      *error = "entry '" + item.name + "' has " + std::to_string(item.data.size()) +
               " bytes; texts and property sets hold at most 65535";
      return false;
    }
    directorySize += kSdatRecordFixedSize + item.name.size() + 1;
  }
  std::size_t total = directorySize;
  for (const SdatItem& item : items) total += item.data.size();
  if (total > std::numeric_limits<uint32_t>::max()) {
    *error = "the file would exceed 4 GiB";
    return false;
  }

  out->clear();
  out->reserve(total);
  out->push_back(0);
  PutBe32(out, static_cast<uint32_t>(items.size()));
  std::size_t dataOffset = directorySize;
  for (const SdatItem& item : items) {
    PutBe32(out, static_cast<uint32_t>(dataOffset));
    PutBe16(out, item.type);
    PutBe16(out, static_cast<uint16_t>(std::min(item.data.size(), kMaxLengthField)));
    out->insert(out->end(), item.name.begin(), item.name.end());
    out->push_back(0);
    dataOffset += item.data.size();
  }
  for (const SdatItem& item : items) out->insert(out->end(), item.data.begin(), item.data.end());
  return true;
}

// --- Contents ---------------------------------------------------------------

SdatContents SdatContents::Parse(std::span<const uint8_t> image) {
  SdatContents contents;
  SdatDirectory dir = ReadSdatDirectory(image);
  for (SdatRecord& rec : dir.records) {
    Entry entry;
    auto bytes = image.subspan(rec.offset, rec.dataSize);
    switch (rec.type) {
      case kSdatBitmap:
        entry = Bitmap(bytes.begin(), bytes.end());
        break;
      case kSdatText:
      case kSdatText2:
        entry = std::string(bytes.begin(), bytes.end());
        break;
      case kSdatPropertySet:
        entry = PropertySet::FromText(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        break;
      default:
        continue;  // other types are skipped, leaving any earlier entry of that name
    }
    contents.entries_.insert_or_assign(std::move(rec.name), std::move(entry));
  }
  return contents;
}

const PropertySet* SdatContents::GetPropertySet(std::string_view name) const {
  auto it = entries_.find(name);
  return it == entries_.end() ? nullptr : std::get_if<PropertySet>(&it->second);
}

const std::vector<uint8_t>* SdatContents::GetBitmap(std::string_view name) const {
  auto it = entries_.find(name);
  return it == entries_.end() ? nullptr : std::get_if<Bitmap>(&it->second);
}

const std::string* SdatContents::GetText(std::string_view name) const {
  auto it = entries_.find(name);
  return it == entries_.end() ? nullptr : std::get_if<std::string>(&it->second);
}

}  // namespace hhsync
