#include "sync_bench_support.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <stdexcept>

#include "tools/support/child_process.h"
#include "tools/support/installation.h"

namespace hhsync::bench {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void PrepareRun(const fs::path& home, const std::string& baseUrl) {
  Install(home, "",
          {.syncProperties = std::string("name=Bench\nregistry=") + kRegistry + "\n",
           .registryPath = kRegistry,
           .volume = "bench.vol",
           .values = {{"baseurl", baseUrl}},
           .companion = false,
           .desktopKey = "",
           .appManager = ""});
}

RunMeasure MeasureHhsync(const std::string& binary, const fs::path& home) {
  ChildProcess child;
  std::string error;
  const auto start = std::chrono::steady_clock::now();
  if (!child.Start(
          {binary},
          InheritedEnvironment({"HHSYNC_HOME=" + home.string(), "HHSYNC_UI=none"}, "HHSYNC_"), "",
          "", &error)) {
    throw std::runtime_error(error);
  }
  child.Wait(-1);
  RunMeasure measure;
  measure.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  measure.peakRssKb = child.peakRssKb();
  if (child.exitCode() != 0) throw std::runtime_error(binary + " failed in " + home.string());
  return measure;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace hhsync::bench
