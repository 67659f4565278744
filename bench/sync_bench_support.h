#pragma once
// What the benchmarks that run the hhsync binary share: a program directory
// with S.DAT and an emulated handheld pointed at a server, starting the
// binary and timing it, and the median of interleaved runs.

#include <filesystem>
#include <string>
#include <vector>

namespace hhsync::bench {

// The registry path the benchmark's S.DAT names.
inline constexpr const char* kRegistry = "Software\\Bench\\News\\";

void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// A fresh program directory holding S.DAT and a fresh handheld image whose
// content volume is "bench.vol" and whose base URL is baseUrl.
void PrepareRun(const std::filesystem::path& home, const std::string& baseUrl);

struct RunMeasure {
  double seconds = 0;
  long peakRssKb = 0;  // the child's largest resident set
};

// Runs the binary once in the program directory home (HHSYNC_UI=none, no
// other HHSYNC_ variable passed on) and measures it. Throws when it cannot
// be started or does not exit with status 0.
RunMeasure MeasureHhsync(const std::string& binary, const std::filesystem::path& home);
// Its wall time in seconds.
inline double RunHhsync(const std::string& binary, const std::filesystem::path& home) {
  return MeasureHhsync(binary, home).seconds;
}

double Median(std::vector<double> values);

}  // namespace hhsync::bench
