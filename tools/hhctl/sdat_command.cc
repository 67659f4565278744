// hhctl sdat: makes and shows S.DAT files, the program's configuration
// archive. The format itself (directory layout, entry types, how a bitmap
// finds its length) lives with ConfigFile in the core; this file only turns
// arguments into entries and entries into text for people.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "app/config_file.h"
#include "base/text.h"
#include "command.h"

namespace hhctl {
namespace {

constexpr char kUsage[] =
    "sdat pack OUT [--props NAME=FILE]... [--bitmap NAME=FILE]... [--text NAME=FILE]... | "
    "sdat list FILE";

std::vector<uint8_t> ReadInputFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) throw Failure("cannot open '" + path + "'");
  std::vector<uint8_t> data;
  char chunk[64 * 1024];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    data.insert(data.end(), chunk, chunk + in.gcount());
  }
  if (in.bad()) throw Failure("cannot read '" + path + "'");
  return data;
}

// "NAME=FILE" as given to --props, --bitmap and --text.
hhsync::SdatItem ItemFromArgument(const std::string& option, const std::string& value,
                                  uint16_t type) {
  std::size_t eq = value.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == value.size())
    throw UsageError(option + " wants NAME=FILE, got '" + value + "'");
  hhsync::SdatItem item;
  // Entry names are the program's 8-bit text; arguments come as UTF-8.
  item.name = hhsync::Utf8ToAnsi(value.substr(0, eq));
  item.type = type;
  item.data = ReadInputFile(value.substr(eq + 1));
  return item;
}

// The arguments of pack and list.
struct SdatArgs {
  std::string out;
  std::vector<std::string> props;
  std::vector<std::string> bitmaps;
  std::vector<std::string> texts;
  std::string file;
};

// An option that adds entries of one type.
struct EntryOption {
  const CLI::Option* option;
  uint16_t type;
};

// The entries of the options in the order they were given, which is their
// order in the file.
std::vector<hhsync::SdatItem> ItemsInOrder(const CLI::App& pack,
                                           const std::vector<EntryOption>& options) {
  std::vector<hhsync::SdatItem> items;
  std::map<const CLI::Option*, std::size_t> taken;
  for (const CLI::Option* given : pack.parse_order()) {
    for (const EntryOption& o : options) {
      if (o.option != given) continue;
      const std::string& value = given->results().at(taken[given]++);
      items.push_back(ItemFromArgument(given->get_name(), value, o.type));
    }
  }
  return items;
}

int Pack(const std::string& out, std::vector<hhsync::SdatItem> items) {
  std::vector<uint8_t> image;
  std::string error;
  if (!hhsync::BuildSdat(items, &image, &error)) throw Failure(error);

  std::ofstream file(out, std::ios::binary | std::ios::trunc);
  if (!file.is_open()) throw Failure("cannot create '" + out + "'");
  file.write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));
  file.close();
  if (!file) throw Failure("cannot write '" + out + "'");
  std::cout << out << ": " << items.size() << (items.size() == 1 ? " entry, " : " entries, ")
            << image.size() << " bytes\n";
  return 0;
}

std::string KindName(uint16_t type) {
  switch (type) {
    case hhsync::kSdatText:
    case hhsync::kSdatText2:
      return "text";
    case hhsync::kSdatBitmap:
      return "bitmap";
    case hhsync::kSdatPropertySet:
      return "property set";
    default:
      return "skipped";
  }
}

// Program text as UTF-8 for the terminal, with control characters written
// as \xNN so that a damaged file cannot drive the terminal.
std::string Printable(const std::string& ansi) {
  std::string out;
  for (char c : hhsync::AnsiToUtf8(ansi)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

int List(const std::string& path) {
  std::vector<uint8_t> image = ReadInputFile(path);
  hhsync::SdatDirectory dir = hhsync::ReadSdatDirectory(image);
  // A directory that does not fit in the file is no configuration to list:
  // what it claims of the rest is noise.
  if (!dir.complete) {
    throw Failure("'" + path + "' is not a whole S.DAT file: its directory names " +
                  std::to_string(dir.count) + " entries and entry " +
                  std::to_string(dir.records.size() + 1) +
                  " reaches past the end of the file (the program reads the " +
                  std::to_string(dir.records.size()) + " before it)");
  }

  // Which entry the program keeps under each name: the last one of a kind
  // it reads.
  std::map<std::string, std::size_t> kept;
  for (std::size_t i = 0; i < dir.records.size(); ++i) {
    if (KindName(dir.records[i].type) != "skipped") kept[dir.records[i].name] = i;
  }

  std::cout << path << ": " << dir.count << (dir.count == 1 ? " entry\n" : " entries\n");
  for (std::size_t i = 0; i < dir.records.size(); ++i) {
    const hhsync::SdatRecord& rec = dir.records[i];
    std::string kind = KindName(rec.type);
    bool skipped = kind == "skipped";
    std::size_t length = skipped ? rec.length : rec.dataSize;
    std::cout << Printable(rec.name) << "  " << kind << " (type " << rec.type << ")  " << length
              << (length == 1 ? " byte" : " bytes");
    if (!skipped && kept[rec.name] != i) std::cout << "  (replaced by a later entry)";
    std::cout << "\n";
    if (rec.type == hhsync::kSdatPropertySet) {
      std::string_view text(reinterpret_cast<const char*>(image.data()) + rec.offset, rec.dataSize);
      for (const auto& [key, value] : hhsync::PropertySet::FromText(text)) {
        std::cout << "    " << Printable(key) << "=" << Printable(value) << "\n";
      }
    }
  }
  return 0;
}

CLI::Option* AddEntryOption(CLI::App* pack, const std::string& name,
                            std::vector<std::string>* values, const std::string& description) {
  return pack->add_option(name, *values, description)
      ->type_name("NAME=FILE")
      ->allow_extra_args(false);
}

int Run(const Args& args) {
  CommandLine cli("sdat", "Make and show S.DAT files, the program's configuration archive.",
                  kUsage);
  SdatArgs a;
  CLI::App* pack = nullptr;
  std::vector<EntryOption> entries;
  pack = cli.AddCommand(cli.app(), "pack", "Write the entries given, in that order, to OUT",
                        [&] { return Pack(a.out, ItemsInOrder(*pack, entries)); });
  pack->add_option("OUT", a.out, "The S.DAT file to write")->required();
  entries = {
      {AddEntryOption(pack, "--props", &a.props, "A property set (NAME=VALUE lines) from FILE"),
       hhsync::kSdatPropertySet},
      {AddEntryOption(pack, "--bitmap", &a.bitmaps, "A bitmap from FILE"), hhsync::kSdatBitmap},
      {AddEntryOption(pack, "--text", &a.texts, "A text from FILE"), hhsync::kSdatText}};
  CLI::App* list = cli.AddCommand(cli.app(), "list", "Show the entries the program reads",
                                  [&] { return List(a.file); });
  list->add_option("FILE", a.file, "The S.DAT file")->required();
  return cli.Run(args);
}

const CommandRegistration kRegistration("sdat", kUsage, Run);

}  // namespace
}  // namespace hhctl
