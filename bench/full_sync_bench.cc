// A full sync from an empty handheld against its limit: the same URLs
// fetched one after the other over HTTP/1.0, and the same records written to
// SQLite one transaction each (WAL, synchronous=NORMAL). Both run
// interleaved several times; the ratio of their medians is printed.
//
//   full_sync_bench HHSYNC_BINARY [ITEMS [RECORD_BYTES [ROUNDS]]]
//
// The catalogue: ITEMS items in 20 categories, each item 10 split records of
// RECORD_BYTES bytes (2,000 items of 2 KB records are 40 MB), served by the
// reference server in this process on loopback. With HHSYNC_BENCH_KEEP_IMAGE
// set to a path, the handheld image of the last run is copied there (to
// compare dumps across changes).

#include <curl/curl.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/byte_order.h"
#include "formats/edm.h"
#include "reference_server.h"
#include "sync_bench_support.h"

namespace {

using namespace hhsync::bench;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kCategories = 20;
constexpr int kRecordsPerItem = 10;

// A split record of length bytes whose first part is a quarter of it.
std::string Record(uint32_t length, uint32_t seed) {
  std::string r = "REC!" + hhsync::Be32Bytes(length / 4);
  for (uint32_t i = 8; i < length; ++i) r += static_cast<char>('a' + (seed + i) % 26);
  return r;
}

struct Catalogue {
  std::vector<std::string> dataPaths;  // each item's data path under the server root
};

Catalogue MakeCatalogue(const fs::path& root, int items, uint32_t recordBytes) {
  Catalogue c;
  std::string profile = "OK\n" + std::to_string(kCategories) + "\n";
  for (int k = 0; k < kCategories; ++k) profile += "cat" + std::to_string(k) + "|1|0\n";
  profile += std::to_string(items) + "\n";
  for (int i = 0; i < items; ++i) {
    const std::string id = std::to_string(1000 + i);
    profile += "Item " + id + "|" + id + "|a|b|1|cat" + std::to_string(i % kCategories) + "|c\n";
    std::vector<std::string> records;
    for (int r = 0; r < kRecordsPerItem; ++r) {
      records.push_back(Record(recordBytes, static_cast<uint32_t>(i * 31 + r)));
    }
    const std::string path = "data/" + id + "/1.edm";
    WriteFile(root / path, hhsync::PackEdm(kRecordsPerItem, records));
    c.dataPaths.push_back(path);
  }
  WriteFile(root / "profile.txt", profile);
  WriteFile(root / "resources.txt", "OK\nlist\n");
  return c;
}

size_t Collect(char* data, size_t size, size_t n, void* out) {
  static_cast<std::string*>(out)->append(data, size * n);
  return size * n;
}

class StringSource final : public hhsync::EdmSource {
 public:
  explicit StringSource(const std::string& body) : body_(body) {}
  long long Read(void* buffer, std::size_t size) override {
    const std::size_t n = std::min(size, body_.size() - at_);
    std::copy_n(body_.data() + at_, n, static_cast<char*>(buffer));
    at_ += n;
    return static_cast<long long>(n);
  }

 private:
  const std::string& body_;
  std::size_t at_ = 0;
};

void Exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    throw std::runtime_error(sqlite3_errmsg(db));
  }
}

// The limit: the same requests over HTTP/1.0 one after the other, and one
// SQLite transaction per record the sync writes (the index record, and part
// 1 and part 2 of every data record).
double RunLimit(const fs::path& dir, const std::string& baseUrl, const Catalogue& c) {
  fs::remove_all(dir);
  fs::create_directories(dir);
  const auto start = Clock::now();
  sqlite3* db = nullptr;
  sqlite3_open((dir / "limit.db").c_str(), &db);
  Exec(db,
       "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
       "CREATE TABLE records(id INTEGER PRIMARY KEY, item INTEGER, part INTEGER, data BLOB)");
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO records(item, part, data) VALUES(?1, ?2, ?3)", -1, &insert,
                     nullptr);
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
  auto put = [&](int item, int part, const void* data, std::size_t size) {
    Exec(db, "BEGIN IMMEDIATE");
    sqlite3_reset(insert);
    sqlite3_bind_int(insert, 1, item);
    sqlite3_bind_int(insert, 2, part);
    sqlite3_bind_blob(insert, 3, data, static_cast<int>(size), SQLITE_STATIC);
    if (sqlite3_step(insert) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
    Exec(db, "COMMIT");
  };
  auto fetch = [&](const std::string& path) {
    std::string body;
    const std::string url = baseUrl + "/" + path;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    if (curl_easy_perform(curl) != CURLE_OK) throw std::runtime_error("cannot fetch " + url);
    return body;
  };
  fetch("update/profile?x=1");
  fetch("update/resource?x=1");
  for (std::size_t i = 0; i < c.dataPaths.size(); ++i) {
    const std::string body = fetch("update/" + c.dataPaths[i]);
    StringSource source(body);
    std::vector<hhsync::EdmRecord> records;
    hhsync::ReadEdm(source, &records);
    const int item = static_cast<int>(i);
    put(item, 0, "", 0);  // the index record
    for (const auto& r : records) {
      put(item, 1, r.part1().data(), r.part1().size());
      put(item, 2, r.part2().data(), r.part2().size());
    }
  }
  curl_easy_cleanup(curl);
  sqlite3_finalize(insert);
  sqlite3_close(db);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: full_sync_bench HHSYNC_BINARY [ITEMS [RECORD_BYTES [ROUNDS]]]\n");
    return 2;
  }
  const std::string binary = argv[1];
  const int items = argc > 2 ? std::atoi(argv[2]) : 2000;
  const uint32_t recordBytes = argc > 3 ? static_cast<uint32_t>(std::atoi(argv[3])) : 2048;
  const int rounds = argc > 4 ? std::atoi(argv[4]) : 5;
  curl_global_init(CURL_GLOBAL_DEFAULT);

  const fs::path work =
      fs::temp_directory_path() / ("hhsync-full-sync-" + std::to_string(getpid()));
  const fs::path root = work / "server";
  const Catalogue catalogue = MakeCatalogue(root, items, recordBytes);
  hhctl::ReferenceServer server({root.string(), ""});
  std::string err;
  if (!server.Bind(0, &err)) throw std::runtime_error(err);
  std::thread serving([&] { server.Run(); });
  const std::string baseUrl = "http://127.0.0.1:" + std::to_string(server.port()) + "/zavrik";

  std::vector<double> sync, limit;
  for (int r = 0; r < rounds; ++r) {
    PrepareRun(work / "program", baseUrl);
    sync.push_back(RunHhsync(binary, work / "program"));
    if (const char* keep = std::getenv("HHSYNC_BENCH_KEEP_IMAGE")) {
      fs::copy_file(work / "program" / "handheld.db", keep, fs::copy_options::overwrite_existing);
    }
    limit.push_back(RunLimit(work / "limit", baseUrl, catalogue));
    std::printf("round %d: hhsync %.3f s, limit %.3f s\n", r + 1, sync.back(), limit.back());
    std::fflush(stdout);
  }
  server.Stop();
  serving.join();
  fs::remove_all(work);
  const double ratio = Median(sync) / Median(limit);
  std::printf("items %d, %.1f MB: hhsync median %.3f s, limit median %.3f s, ratio %.2f\n", items,
              items * kRecordsPerItem * recordBytes / 1e6, Median(sync), Median(limit), ratio);
  return 0;
}
