#pragma once
// S.DAT: the product's configuration, a small archive of named entries
// (property sets, bitmaps, texts) installed in the program directory.
//
// File layout, every number unsigned big-endian, offsets from the first byte:
//   byte 0      ignored by the reader (the writer puts 0)
//   bytes 1..4  N, the number of directory entries
//   from 5      N directory entries: data offset (4), entry type (2), data
//               length (2, not used for bitmaps), the name as 8-bit
//               characters with a terminating zero byte
// The data areas lie anywhere in the file and are reached only through the
// directory. Entry types: 1 and 2 text, 3 bitmap (a BMP file image that finds
// its own length from its headers), 14 property set; other types are skipped.
// A later entry with the name of an earlier one replaces it.
//
// The reader never reads beyond the file: an entry whose directory record,
// name or data would reach past the end ends the directory, and the entries
// read before it stand.
//
// Thread safety: parsed contents are read-only and may be shared.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace hhsync {

// A string-to-string map read from lines of "key=value". Keys and values are
// 8-bit program text, taken exactly as they stand.
class PropertySet {
 public:
  using Map = std::map<std::string, std::string, std::less<>>;

  PropertySet() = default;

  // Fills a property set from text split into lines at line feeds (carriage
  // returns removed). Lines starting with "#" and lines without "=" are
  // skipped; the key is the text before the first "=", the value all after
  // it; a later line with the same key replaces the earlier value.
  static PropertySet FromText(std::string_view text);

  // The value under key, or null.
  const std::string* Find(std::string_view key) const;
  // Copies the value under key into *value; false when there is none.
  bool Lookup(std::string_view key, std::string* value) const;
  // The value under key, or fallback.
  std::string Get(std::string_view key, std::string_view fallback = {}) const;
  bool Has(std::string_view key) const { return values_.find(key) != values_.end(); }

  // Stores value under key, replacing any earlier value.
  void Set(std::string key, std::string value);

  std::size_t size() const { return values_.size(); }
  bool empty() const { return values_.empty(); }
  const Map& Entries() const { return values_; }
  Map::const_iterator begin() const { return values_.begin(); }
  Map::const_iterator end() const { return values_.end(); }

  bool operator==(const PropertySet&) const = default;

 private:
  Map values_;
};

// Entry types of S.DAT.
inline constexpr uint16_t kSdatText = 1;
inline constexpr uint16_t kSdatText2 = 2;
inline constexpr uint16_t kSdatBitmap = 3;
inline constexpr uint16_t kSdatPropertySet = 14;

// Size of the fixed part of a directory entry (offset, type, length).
inline constexpr std::size_t kSdatRecordFixedSize = 8;
// Where the directory starts.
inline constexpr std::size_t kSdatDirectoryStart = 5;

// One directory entry as read from an S.DAT image.
struct SdatRecord {
  std::string name;
  uint16_t type = 0;
  uint32_t offset = 0;
  uint16_t length = 0;  // the length field as stored
  // Bytes of data the entry holds from offset: the length field for texts
  // and property sets, the image's own length for bitmaps (see
  // BitmapImageLength), 0 for skipped types.
  std::size_t dataSize = 0;
};

struct SdatDirectory {
  uint32_t count = 0;               // N as stored (0 when the file is too short for it)
  std::vector<SdatRecord> records;  // the entries that lie within the file, in order
  bool complete = true;             // false when an entry reached past the end
};

// Reads the directory of an S.DAT image; stops at the first entry that would
// reach past the end of the image.
SdatDirectory ReadSdatDirectory(std::span<const uint8_t> image);

// The length of the BMP file image at the start of rest: the file header's
// size field (bytes 2..5, little-endian), no more than the bytes in rest.
// When the field cannot be read or is too small to hold the two headers
// (14 + 40 bytes), all of rest.
std::size_t BitmapImageLength(std::span<const uint8_t> rest);

// One entry to write into a new S.DAT image.
struct SdatItem {
  std::string name;  // 8-bit, without zero bytes
  uint16_t type = kSdatText;
  std::vector<uint8_t> data;
};

// Builds an S.DAT image: byte 0, N, the directory in the order given, then
// the data of each entry in the same order. A bitmap's length field holds
// its size, capped at 65535 (the reader does not use it). Returns false with
// a reason in *error when an entry cannot be stored (a name with a zero
// byte, a text or property set over 65535 bytes, a file over 4 GiB).
bool BuildSdat(const std::vector<SdatItem>& items, std::vector<uint8_t>* out, std::string* error);

// The named entries of an S.DAT image: texts (8-bit, kept as the bytes
// stored), bitmaps (the complete BMP file image) and property sets. A later
// entry of the name of an earlier one replaces it; entries of other types
// are skipped.
class SdatContents {
 public:
  // Parses an image; entries that would reach past its end are not taken.
  static SdatContents Parse(std::span<const uint8_t> image);

  // The entry stored under name, when it is of that kind; null otherwise.
  const PropertySet* GetPropertySet(std::string_view name) const;
  const std::vector<uint8_t>* GetBitmap(std::string_view name) const;
  const std::string* GetText(std::string_view name) const;
  // How many named entries were stored.
  std::size_t EntryCount() const { return entries_.size(); }

 private:
  using Bitmap = std::vector<uint8_t>;
  using Entry = std::variant<std::string, Bitmap, PropertySet>;
  std::map<std::string, Entry, std::less<>> entries_;
};

}  // namespace hhsync
