// hhctl edm: makes and shows ".edm" content data bodies.
//   hhctl edm pack OUT --count N RECORD_FILE...
//   hhctl edm list FILE

#include <fstream>
#include <iostream>
#include <iterator>

#include "command.h"
#include "edm_format.h"

namespace hhctl {
namespace {

std::string ReadFileOrFail(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Failure("cannot read " + path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int Pack(ArgReader& r) {
  std::string out = r.Next("output file OUT");
  std::string countText;
  std::vector<std::string> files;
  bool haveCount = false;
  while (!r.Done()) {
    if (r.Option("--count", &countText)) {
      haveCount = true;
    } else if (r.Peek().rfind("--", 0) == 0) {
      throw UsageError("unknown option '" + r.Peek() + "'");
    } else {
      files.push_back(r.Next("record file"));
    }
  }
  if (!haveCount) throw UsageError("pack needs --count N");
  unsigned long count = ParseUnsigned(countText, "count");
  if (count > 0xFFFFFFFFul) throw UsageError("count too large '" + countText + "'");

  // Record sizes are not checked: odd bodies are what tests need.
  std::vector<std::string> records;
  for (const auto& f : files) records.push_back(ReadFileOrFail(f));
  std::string body = PackEdm(static_cast<uint32_t>(count), records);
  std::ofstream file(out, std::ios::binary | std::ios::trunc);
  file.write(body.data(), static_cast<std::streamsize>(body.size()));
  if (!file.flush()) throw Failure("cannot write " + out);
  return 0;
}

int List(ArgReader& r) {
  std::string path = r.Next("FILE");
  r.ExpectDone();
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

int Run(const Args& args) {
  ArgReader r(args);
  std::string verb = r.Next("subcommand (pack or list)");
  if (verb == "pack") return Pack(r);
  if (verb == "list") return List(r);
  throw UsageError("unknown edm subcommand '" + verb + "'");
}

const CommandRegistration kRegistration("edm",
                                        "edm pack OUT --count N RECORD_FILE... | edm list FILE",
                                        Run);

}  // namespace
}  // namespace hhctl
