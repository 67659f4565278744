#include "app/config_file.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <utility>

#include "base/tokenizer.h"
#include "platform/paths.h"
#include "platform/prompter.h"

namespace hhsync {
namespace {

constexpr char kOpenFailedMessage[] = "Unable to open configuration file.";
constexpr std::size_t kBmpHeadersSize = 14 + 40;  // file header + info header
constexpr std::size_t kMaxLengthField = 0xFFFF;

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

uint16_t BigEndian16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

void PutBigEndian32(std::vector<uint8_t>* out, uint32_t v) {
  out->push_back(static_cast<uint8_t>(v >> 24));
  out->push_back(static_cast<uint8_t>(v >> 16));
  out->push_back(static_cast<uint8_t>(v >> 8));
  out->push_back(static_cast<uint8_t>(v));
}

void PutBigEndian16(std::vector<uint8_t>* out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v >> 8));
  out->push_back(static_cast<uint8_t>(v));
}

// Reads the whole file; false when it cannot be opened or a read fails.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return false;
  char chunk[64 * 1024];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    out->insert(out->end(), chunk, chunk + in.gcount());
  }
  return !in.bad();
}

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
  std::size_t declared = uint32_t{rest[2]} | (uint32_t{rest[3]} << 8) | (uint32_t{rest[4]} << 16) |
                         (uint32_t{rest[5]} << 24);
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
  dir.count = BigEndian32(image.data() + 1);
  std::size_t pos = kSdatDirectoryStart;
  for (uint32_t i = 0; i < dir.count; ++i) {
    if (size - pos < kSdatRecordFixedSize) {
      dir.complete = false;
      break;
    }
    SdatRecord rec;
    rec.offset = BigEndian32(image.data() + pos);
    rec.type = BigEndian16(image.data() + pos + 4);
    rec.length = BigEndian16(image.data() + pos + 6);
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
  PutBigEndian32(out, static_cast<uint32_t>(items.size()));
  std::size_t dataOffset = directorySize;
  for (const SdatItem& item : items) {
    PutBigEndian32(out, static_cast<uint32_t>(dataOffset));
    PutBigEndian16(out, item.type);
    PutBigEndian16(out, static_cast<uint16_t>(std::min(item.data.size(), kMaxLengthField)));
    out->insert(out->end(), item.name.begin(), item.name.end());
    out->push_back(0);
    dataOffset += item.data.size();
  }
  for (const SdatItem& item : items) out->insert(out->end(), item.data.begin(), item.data.end());
  return true;
}

// --- ConfigFile ------------------------------------------------------------

ConfigFile::ConfigFile(Paths& paths, Prompter& ui) {
  loadFailed_ = true;
  std::vector<uint8_t> image;
  if (!ReadWholeFile(paths.InProgramDir(kConfigFileName), &image)) {
    ui.MessageBox(kOpenFailedMessage, MessageBoxStyle{});
    return;
  }
  Parse(image);
}

void ConfigFile::Parse(std::span<const uint8_t> image) {
  loadFailed_ = false;
  SdatDirectory dir = ReadSdatDirectory(image);
  for (SdatRecord& rec : dir.records) {
    Entry entry;
    switch (rec.type) {
      case kSdatBitmap: {
        auto bytes = image.subspan(rec.offset, rec.dataSize);
        entry = Bitmap(bytes.begin(), bytes.end());
        break;
      }
      case kSdatText:
      case kSdatText2: {
        auto bytes = image.subspan(rec.offset, rec.dataSize);
        entry = std::string(bytes.begin(), bytes.end());
        break;
      }
      case kSdatPropertySet: {
        auto bytes = image.subspan(rec.offset, rec.dataSize);
        entry = PropertySet::FromText(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        break;
      }
      default:
        continue;  // other types are skipped, leaving any earlier entry of that name
    }
    entries_.insert_or_assign(std::move(rec.name), std::move(entry));
  }
}

const PropertySet* ConfigFile::GetPropertySet(std::string_view name) const {
  auto it = entries_.find(name);
  return it == entries_.end() ? nullptr : std::get_if<PropertySet>(&it->second);
}

const std::vector<uint8_t>* ConfigFile::GetBitmap(std::string_view name) const {
  auto it = entries_.find(name);
  return it == entries_.end() ? nullptr : std::get_if<Bitmap>(&it->second);
}

const std::string* ConfigFile::GetText(std::string_view name) const {
  auto it = entries_.find(name);
  return it == entries_.end() ? nullptr : std::get_if<std::string>(&it->second);
}

}  // namespace hhsync
