// S.DAT as the program reads it: the directory reader on the bytes, then the
// whole ConfigFile load from the program directory (the only way the program
// reads it), and every entry looked up by name and kind.
//
// Each input is written to S.DAT in a scratch directory and loaded from
// there. libFuzzer's length limit (scripts/fuzz: -max_len=65536) bounds the
// file; the reader allocates no more than the file holds.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/config_file.h"
#include "fuzz/support/fuzz_platform.h"
#include "platform/linux/env_paths.h"

using hhsync::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static hhsync::fuzz::ScratchDir dir;
  static hhsync::EnvPaths paths(dir.path());
  static hhsync::fuzz::QuietUi ui;
  const std::span<const uint8_t> image(data, size);

  const hhsync::SdatDirectory directory = hhsync::ReadSdatDirectory(image);
  Check(directory.records.size() <= directory.count, "more records than the count");
  for (const hhsync::SdatRecord& rec : directory.records) {
    if (rec.dataSize > 0) {
      Check(rec.offset <= size && rec.dataSize <= size - rec.offset, "entry data past the end");
    }
    Check(rec.name.find('\0') == std::string::npos, "zero byte in a name");
  }

  {
    std::ofstream out(dir.File("S.DAT"), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) hhsync::fuzz::Fail("cannot write S.DAT");
  }
  const hhsync::ConfigFile config = hhsync::ConfigFile::Load(paths, ui);
  Check(!config.LoadFailed(), "a readable S.DAT failed to load");
  Check(config.EntryCount() <= directory.records.size(), "more entries than records");

  // The last record of a name with a known type decides what it holds.
  std::map<std::string, const hhsync::SdatRecord*> last;
  for (const hhsync::SdatRecord& rec : directory.records) {
    if (rec.type == hhsync::kSdatText || rec.type == hhsync::kSdatText2 ||
        rec.type == hhsync::kSdatBitmap || rec.type == hhsync::kSdatPropertySet) {
      last[rec.name] = &rec;
    }
  }
  Check(config.EntryCount() == last.size(), "entry count differs from the named entries");
  for (const auto& [name, rec] : last) {
    const auto bytes = image.subspan(rec->offset, rec->dataSize);
    const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    switch (rec->type) {
      case hhsync::kSdatBitmap: {
        const std::vector<uint8_t>* bitmap = config.GetBitmap(name);
        Check(bitmap != nullptr &&
                  std::equal(bitmap->begin(), bitmap->end(), bytes.begin(), bytes.end()),
              "bitmap differs from its bytes");
        Check(config.GetText(name) == nullptr && config.GetPropertySet(name) == nullptr,
              "a bitmap found as another kind");
        break;
      }
      case hhsync::kSdatPropertySet: {
        const hhsync::PropertySet* props = config.GetPropertySet(name);
        Check(props != nullptr && *props == hhsync::PropertySet::FromText(view),
              "property set differs from its text");
        Check(config.GetText(name) == nullptr && config.GetBitmap(name) == nullptr,
              "a property set found as another kind");
        break;
      }
      default: {
        const std::string* text = config.GetText(name);
        Check(text != nullptr && *text == view, "text differs from its bytes");
        Check(config.GetBitmap(name) == nullptr && config.GetPropertySet(name) == nullptr,
              "a text found as another kind");
        break;
      }
    }
  }
  return 0;
}
