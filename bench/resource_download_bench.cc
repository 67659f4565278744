// The memory a large resource download takes: hhsync fetches a 1 GiB cabinet
// resource (the size is an argument) and its peak resident set is compared
// with that of a run whose resource is one byte, interleaved over several
// rounds. A download must stream to its file, so the difference stays small
// whatever the size.
//
//   resource_download_bench HHSYNC_BINARY [MIB [ROUNDS]]

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "reference_server.h"
#include "sync_bench_support.h"

namespace {

using namespace hhsync::bench;
namespace fs = std::filesystem;

// A server root whose only resource is a cabinet file of the given size (a
// sparse file: the server reads it as zeros).
void MakeServerRoot(const fs::path& root, std::uintmax_t bytes) {
  WriteFile(root / "profile.txt", "OK\n0\n0\n");
  WriteFile(root / "resources.txt", "OK\nlist\n1|CAB|r1|big.cab\n");
  WriteFile(root / "resources" / "1", "");
  fs::resize_file(root / "resources" / "1", bytes);
}

struct Run {
  RunMeasure measure;
  std::uintmax_t fileBytes = 0;
};

Run Download(const std::string& binary, const fs::path& home, const std::string& baseUrl) {
  PrepareRun(home, baseUrl);
  Run run;
  run.measure = MeasureHhsync(binary, home);
  std::error_code ec;
  run.fileBytes = fs::file_size(home / "big.cab", ec);
  if (ec) throw std::runtime_error("the resource was not downloaded into " + home.string());
  return run;
}

pid_t ServeInChild(hhctl::ReferenceServer& server) {
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("cannot fork the server");
  if (pid == 0) {
    server.Run();
    _exit(0);
  }
  return pid;
}

double Megabytes(long kb) { return static_cast<double>(kb) / 1024.0; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: resource_download_bench HHSYNC_BINARY [MIB [ROUNDS]]\n");
    return 2;
  }
  const std::string binary = argv[1];
  const std::uintmax_t mib = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1024;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;

  const fs::path work = fs::temp_directory_path() / ("hhsync-download-" + std::to_string(getpid()));
  MakeServerRoot(work / "big", mib << 20);
  MakeServerRoot(work / "small", 1);
  hhctl::ReferenceServer big({(work / "big").string(), ""});
  hhctl::ReferenceServer small({(work / "small").string(), ""});
  std::string err;
  if (!big.Bind(0, &err) || !small.Bind(0, &err)) throw std::runtime_error(err);
  // The servers run in child processes: the one that serves the large file
  // holds it in memory, and a child's peak resident set counts that of the
  // process it was started from.
  const pid_t bigServer = ServeInChild(big);
  const pid_t smallServer = ServeInChild(small);
  auto url = [](const hhctl::ReferenceServer& s) {
    return "http://127.0.0.1:" + std::to_string(s.port()) + "/zavrik";
  };

  std::vector<double> bigRss, smallRss;
  for (int r = 0; r < rounds; ++r) {
    const Run large = Download(binary, work / "run", url(big));
    // The last short read of a download drops its final two bytes, as the
    // file writer has always done.
    if (large.fileBytes + 2 != (mib << 20)) {
      throw std::runtime_error("the large download has " + std::to_string(large.fileBytes) +
                               " bytes");
    }
    const Run trivial = Download(binary, work / "run", url(small));
    bigRss.push_back(Megabytes(large.measure.peakRssKb));
    smallRss.push_back(Megabytes(trivial.measure.peakRssKb));
    std::printf("round %d: %ju MiB in %.2f s, peak %.1f MB; 1 byte: peak %.1f MB\n", r + 1, mib,
                large.measure.seconds, bigRss.back(), smallRss.back());
    std::fflush(stdout);
  }
  for (pid_t server : {bigServer, smallServer}) {
    kill(server, SIGKILL);
    waitpid(server, nullptr, 0);
  }
  fs::remove_all(work);
  std::printf("%ju MiB resource: peak RSS median %.1f MB, trivial run %.1f MB, above %.1f MB\n",
              mib, Median(bigRss), Median(smallRss), Median(bigRss) - Median(smallRss));
  return 0;
}
