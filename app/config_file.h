#pragma once
// The product's configuration as the program reads it: S.DAT of the program
// directory (its format in formats/sdat.h), parsed once when the run
// starts.
//
// Thread safety: a loaded ConfigFile is read-only and may be shared.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/sdat.h"

namespace hhsync {

class Paths;
class Prompter;

class ConfigFile {
 public:
  // Reads and parses S.DAT from the program directory. When it cannot be
  // opened or read, shows "Unable to open configuration file." and returns
  // a ConfigFile whose LoadFailed() is true, with no entries.
  static ConfigFile Load(Paths& paths, Prompter& prompter);

  bool LoadFailed() const { return loadFailed_; }
  // What is wrong with the file, for the run's summary: "S.DAT at PATH
  // cannot be read: WHY" when it failed to load, "S.DAT at PATH holds no
  // sync.properties" when it loaded without the product's properties (the
  // run goes on with empty ones); empty when nothing is.
  const std::string& Problem() const { return problem_; }

  // The entry stored under name, when it is of that kind; null otherwise.
  const PropertySet* GetPropertySet(std::string_view name) const {
    return contents_.GetPropertySet(name);
  }
  // The complete BMP file image, for the bitmap display to load.
  const std::vector<uint8_t>* GetBitmap(std::string_view name) const {
    return contents_.GetBitmap(name);
  }
  // An 8-bit (Windows-1252) text, kept as the bytes stored.
  const std::string* GetText(std::string_view name) const { return contents_.GetText(name); }
  // How many named entries were stored.
  std::size_t EntryCount() const { return contents_.EntryCount(); }

 private:
  bool loadFailed_ = true;
  std::string problem_;
  SdatContents contents_;
};

}  // namespace hhsync
