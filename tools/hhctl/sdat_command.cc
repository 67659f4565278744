// hhctl sdat: makes and shows S.DAT files, the program's configuration
// archive. The format itself (directory layout, entry types, how a bitmap
// finds its length) lives with ConfigFile in the core; this file only turns
// arguments into entries and entries into text for people.

#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "app/config_file.h"
#include "command.h"
#include "base/text.h"

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

int Pack(ArgReader& args) {
  std::string out = args.Next("output file");
  std::vector<hhsync::SdatItem> items;
  while (!args.Done()) {
    std::string value;
    if (args.Option("--props", &value)) {
      items.push_back(ItemFromArgument("--props", value, hhsync::kSdatPropertySet));
    } else if (args.Option("--bitmap", &value)) {
      items.push_back(ItemFromArgument("--bitmap", value, hhsync::kSdatBitmap));
    } else if (args.Option("--text", &value)) {
      items.push_back(ItemFromArgument("--text", value, hhsync::kSdatText));
    } else {
      throw UsageError("unexpected argument '" + args.Peek() + "'");
    }
  }
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

int List(ArgReader& args) {
  std::string path = args.Next("S.DAT file");
  args.ExpectDone();
  std::vector<uint8_t> image = ReadInputFile(path);
  hhsync::SdatDirectory dir = hhsync::ReadSdatDirectory(image);

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
    std::cout << hhsync::AnsiToUtf8(rec.name) << "  " << kind << " (type " << rec.type << ")  "
              << length << (length == 1 ? " byte" : " bytes");
    if (!skipped && kept[rec.name] != i) std::cout << "  (replaced by a later entry)";
    std::cout << "\n";
    if (rec.type == hhsync::kSdatPropertySet) {
      std::string_view text(reinterpret_cast<const char*>(image.data()) + rec.offset, rec.dataSize);
      for (const auto& [key, value] : hhsync::PropertySet::FromText(text)) {
        std::cout << "    " << hhsync::AnsiToUtf8(key) << "=" << hhsync::AnsiToUtf8(value) << "\n";
      }
    }
  }
  if (!dir.complete) {
    std::cout << "note: the file ends inside entry " << dir.records.size() + 1
              << "; the program reads only the entries above\n";
  }
  return 0;
}

int Run(const Args& argv) {
  ArgReader args(argv);
  std::string sub = args.Next("subcommand (pack or list)");
  if (sub == "pack") return Pack(args);
  if (sub == "list") return List(args);
  throw UsageError("unknown sdat subcommand '" + sub + "' (pack or list)");
}

const CommandRegistration kRegistration("sdat", kUsage, Run);

}  // namespace
}  // namespace hhctl
