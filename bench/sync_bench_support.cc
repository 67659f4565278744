#include "sync_bench_support.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <stdexcept>

#include "emulator/emulated_handheld.h"
#include "formats/sdat.h"
#include "platform/linux/system_clock.h"
#include "tools/support/child_process.h"

namespace hhsync::bench {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void PrepareRun(const fs::path& home, const std::string& baseUrl) {
  fs::remove_all(home);
  fs::create_directories(home);
  std::vector<uint8_t> sdat;
  std::string err;
  const std::string props = std::string("name=Bench\nregistry=") + kRegistry + "\n";
  if (!BuildSdat(
          {{"sync.properties", kSdatPropertySet, std::vector<uint8_t>(props.begin(), props.end())}},
          &sdat, &err)) {
    throw std::runtime_error(err);
  }
  WriteFile(home / "S.DAT", std::string(sdat.begin(), sdat.end()));
  const std::string image = (home / "handheld.db").string();
  if (!EmulatedHandheld::Init(image, &err)) throw std::runtime_error(err);
  SystemClock clock;
  EmulatedHandheld handheld(image, clock);
  const std::string reg = kRegistry;
  if (!handheld.CreateVolume("bench.vol", &err) ||
      !handheld.RegSet(reg + "dbp", "bench.vol", &err) ||
      !handheld.RegSet(reg + "baseurl", baseUrl, &err)) {
    throw std::runtime_error(err);
  }
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
