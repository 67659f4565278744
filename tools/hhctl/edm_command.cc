// hhctl edm: makes and shows ".edm" content data bodies.
//   hhctl edm pack OUT --count N RECORD_FILE...
//   hhctl edm list FILE

#include <fstream>
#include <iostream>
#include <iterator>

#include "command.h"
#include "formats/edm.h"

namespace hhctl {
namespace {

using hhsync::EdmListing;
using hhsync::EdmRecordInfo;
using hhsync::ListEdm;
using hhsync::PackEdm;

std::string ReadFileOrFail(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Failure("cannot read " + path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The arguments of pack and list.
struct EdmArgs {
  std::string out;
  uint32_t count = 0;
  std::vector<std::string> files;
  std::string file;
};

int Pack(const EdmArgs& a) {
  // Record sizes are not checked: odd bodies are what tests need.
  std::vector<std::string> records;
  for (const auto& f : a.files) records.push_back(ReadFileOrFail(f));
  std::string body = PackEdm(a.count, records);
  std::ofstream file(a.out, std::ios::binary | std::ios::trunc);
  file.write(body.data(), static_cast<std::streamsize>(body.size()));
  if (!file.flush()) throw Failure("cannot write " + a.out);
  return 0;
}

int List(const std::string& path) {
  EdmListing listing = ListEdm(ReadFileOrFail(path));
  if (!listing.count) {
    std::cout << "count: (none)\n";
  } else {
    std::cout << "count: " << *listing.count << "\n";
  }
  bool split = listing.count && *listing.count > 1;
  for (std::size_t i = 0; i < listing.records.size(); ++i) {
    const EdmRecordInfo& rec = listing.records[i];
    std::cout << "record " << i << ": length " << rec.length;
    if (split) {
      if (rec.firstPart) {
        std::cout << ", first part " << *rec.firstPart;
      } else {
        std::cout << ", first part (record too short)";
      }
    }
    std::cout << "\n";
  }
  std::cout << "records: " << listing.records.size() << "\n";
  if (listing.count && *listing.count != listing.records.size()) {
    std::cout << "note: the count says " << *listing.count << " but " << listing.records.size()
              << " complete records follow\n";
  }
  if (!listing.truncation.empty()) std::cout << "note: truncated: " << listing.truncation << "\n";
  return 0;
}

constexpr char kUsage[] = "edm pack OUT --count N RECORD_FILE... | edm list FILE";

int Run(const Args& args) {
  CommandLine cli("edm", "Make and show .edm content data bodies.", kUsage);
  EdmArgs a;
  CLI::App* pack = cli.AddCommand(cli.app(), "pack",
                                  "Write the count and the records, each after its length, to OUT",
                                  [&] { return Pack(a); });
  pack->add_option("OUT", a.out, "The .edm file to write")->required();
  pack->add_option("--count", a.count, "The record count written first (it may differ)")
      ->type_name("N")
      ->required()
      ->check(UnsignedIn(0, 0xFFFFFFFFul));
  pack->add_option("RECORD_FILE", a.files, "The records' bytes, one file each");
  CLI::App* list =
      cli.AddCommand(cli.app(), "list", "Show the count, the records and where a body ends short",
                     [&] { return List(a.file); });
  list->add_option("FILE", a.file, "The .edm file")->required();
  return cli.Run(args);
}

const CommandRegistration kRegistration("edm", kUsage, Run);

}  // namespace
}  // namespace hhctl
