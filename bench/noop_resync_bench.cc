// A sync that finds nothing to do: every category of the profile is already
// on the handheld in the profile's version. The handheld is filled once by a
// real first sync (not timed); each round then restores that program
// directory and times a run of hhsync against it, interleaved with a run
// against an empty catalogue (the cost of starting, connecting and asking at
// all). The difference of the medians is what the resync itself costs.
//
//   noop_resync_bench HHSYNC_BINARY [ITEMS [ROUNDS]]
//
// The catalogue: ITEMS items spread over 1,000 categories, each item one
// tiny record (kept inside its index record).

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

constexpr int kCategories = 1000;

void MakeCatalogue(const fs::path& root, int items) {
  std::string profile = "OK\n" + std::to_string(kCategories) + "\n";
  for (int k = 0; k < kCategories; ++k) profile += "cat" + std::to_string(k) + "|1|0\n";
  profile += std::to_string(items) + "\n";
  for (int i = 0; i < items; ++i) {
    const std::string id = std::to_string(1000 + i);
    profile += "Item " + id + "|" + id + "|a|b|1|cat" + std::to_string(i % kCategories) + "|c\n";
    const std::string record = "REC!" + hhsync::Be32Bytes(4) + "tiny" + id;
    WriteFile(root / "data" / id / "1.edm", hhsync::PackEdm(1, {record}));
  }
  WriteFile(root / "profile.txt", profile);
  WriteFile(root / "resources.txt", "OK\nlist\n");
}

void MakeEmptyCatalogue(const fs::path& root) {
  WriteFile(root / "profile.txt", "OK\n0\n0\n");
  WriteFile(root / "resources.txt", "OK\nlist\n");
}

// How many item data files the server has been asked for so far. The server
// logs a request once it has answered, so the last lines may come a moment
// after the client is gone: the count is read until it holds still.
int CountDataRequests(const fs::path& log) {
  std::ifstream in(log);
  int count = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.find("\"path\":\"/zavrik/update/data/") != std::string::npos) ++count;
  }
  return count;
}

int DataRequests(const fs::path& log) {
  int count = CountDataRequests(log);
  for (int still = 0; still < 5;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int now = CountDataRequests(log);
    still = now == count ? still + 1 : 0;
    count = now;
  }
  return count;
}

class Server {
 public:
  Server(const fs::path& root, const fs::path& log) : server_({root.string(), log.string()}) {
    std::string err;
    if (!server_.Bind(0, &err)) throw std::runtime_error(err);
    thread_ = std::thread([this] { server_.Run(); });
  }
  ~Server() {
    server_.Stop();
    thread_.join();
  }
  std::string baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(server_.port()) + "/zavrik";
  }

 private:
  hhctl::ReferenceServer server_;
  std::thread thread_;
};

void Restore(const fs::path& from, const fs::path& to) {
  fs::remove_all(to);
  fs::copy(from, to, fs::copy_options::recursive);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: noop_resync_bench HHSYNC_BINARY [ITEMS [ROUNDS]]\n");
    return 2;
  }
  const std::string binary = argv[1];
  const int items = argc > 2 ? std::atoi(argv[2]) : 100000;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 7;

  const fs::path work = fs::temp_directory_path() / ("hhsync-noop-" + std::to_string(getpid()));
  MakeCatalogue(work / "full", items);
  MakeEmptyCatalogue(work / "empty");
  Server full(work / "full", work / "full.log");
  Server empty(work / "empty", work / "empty.log");

  // The handheld as a first sync leaves it, and a fresh one for the empty
  // catalogue.
  PrepareRun(work / "synced", full.baseUrl());
  const double first = RunHhsync(binary, work / "synced");
  const int fetched = DataRequests(work / "full.log");
  std::printf("first sync of %d items: %.1f s, %d items fetched\n", items, first, fetched);
  if (fetched != items) {
    throw std::runtime_error("the first sync fetched " + std::to_string(fetched) + " of " +
                             std::to_string(items) + " items");
  }
  PrepareRun(work / "fresh", empty.baseUrl());

  std::vector<double> resync, baseline;
  for (int r = 0; r < rounds; ++r) {
    Restore(work / "synced", work / "run");
    resync.push_back(RunHhsync(binary, work / "run"));
    Restore(work / "fresh", work / "run");
    baseline.push_back(RunHhsync(binary, work / "run"));
    std::printf("round %d: resync %.3f s, empty catalogue %.3f s\n", r + 1, resync.back(),
                baseline.back());
    std::fflush(stdout);
  }
  const int refetched = DataRequests(work / "full.log") - fetched;
  fs::remove_all(work);
  if (refetched != 0) {
    std::printf("the resyncs fetched %d items: not a no-op\n", refetched);
    return 1;
  }
  std::printf(
      "items %d in %d categories: resync median %.3f s, empty median %.3f s, beyond %.3f s\n",
      items, kCategories, Median(resync), Median(baseline), Median(resync) - Median(baseline));
  return 0;
}
