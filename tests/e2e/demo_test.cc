// The demo scenario (scripts/demo) as a fixed point: a first run and an
// ordinary sync against the sample catalogue must send the same requests,
// leave the same handheld and log the same messages as the stored
// transcript. A change that means to alter what the program does updates
// the transcript on purpose:
//   HHSYNC_UPDATE_EXPECTED=1 build/hhsync_e2e_tests --gtest_filter='DemoTest.*'

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "support/json_schema.h"
#include "support/processes.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

TEST(DemoTest, TheDemoScenarioDoesExactlyWhatItDidBefore) {
  namespace fs = std::filesystem;
  const fs::path source = HHSYNC_SOURCE_DIR;
  const fs::path expected = source / "tests/e2e/expected/demo_transcript.txt";
  test::TempDir dir;
  const std::string transcript = dir.File("transcript.txt");
  const std::string build = fs::path(HHSYNC_BIN).parent_path().string();
  const std::string report = dir.File("report.json");
  test::RunResult run = test::RunProcess(
      {"/bin/bash", (source / "scripts/demo").string(), "--no-build", "--transcript", transcript},
      {"HHSYNC_BUILD_DIR=" + build, "HHSYNC_REPORT=" + report});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  // The report of the demo's last run, the ordinary sync: nothing to fetch.
  const nlohmann::json last = nlohmann::json::parse(test::ReadFile(report), nullptr, false);
  EXPECT_EQ(test::ValidateJson(test::ReportSchema(), last), std::vector<std::string>{});
  EXPECT_EQ(last.value("mode", ""), "sync");
  EXPECT_EQ(last.value("outcome", ""), "complete");
  const std::string got = test::ReadFile(transcript);
  ASSERT_FALSE(got.empty());
  if (std::getenv("HHSYNC_UPDATE_EXPECTED") != nullptr) {
    test::WriteFile(expected.string(), got);
    GTEST_SKIP() << "wrote " << expected;
  }
  EXPECT_EQ(got, test::ReadFile(expected.string()))
      << "the demo behaves differently; if that is meant, update the transcript";
}

}  // namespace
}  // namespace hhsync
