// Which cases `hhctl sweep` makes from a fault-free run: the calls each use
// names, the requests each server fault hits, and how a limit keeps every
// fault covered.

#include "sweep_cases.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hhctl {
namespace {

// "op use nth+calls error", a case in one line.
std::vector<std::string> Lines(const std::vector<FaultCase>& cases) {
  std::vector<std::string> out;
  for (const FaultCase& c : cases) {
    std::string line = c.Name() + " " + c.use + " " + std::to_string(c.nth);
    if (c.calls > 1) line += "+" + std::to_string(c.calls - 1);
    if (c.lasting) line += "...";
    if (c.kind == "handheld") line += " e" + std::to_string(c.error);
    if (c.serverFault) {
      line +=
          " n" + std::to_string(c.serverFault->nth) + "@" + std::to_string(c.serverFault->offset);
    }
    out.push_back(line);
  }
  return out;
}

TEST(SweepCasesTest, HandheldUsesNameDistinctCallsAndPairsAndLastingRuns) {
  const std::vector<FaultCase> cases = HandheldCases(
      "first", {{"CeDeleteRecord", 3}, {"CeRegSetValueEx", 1}, {"CeWriteRecordProps", 0}},
      {"CeDeleteRecord", "CeRegSetValueEx", "CeWriteRecordProps"},
      {"first", "middle", "last", "first-pair", "last-pair", "lasting"}, {87, 0});
  EXPECT_EQ(
      Lines(cases),
      (std::vector<std::string>{
          "CeDeleteRecord first 1 e87", "CeDeleteRecord first 1 e0", "CeDeleteRecord middle 2 e87",
          "CeDeleteRecord middle 2 e0", "CeDeleteRecord last 3 e87", "CeDeleteRecord last 3 e0",
          "CeDeleteRecord first-pair 1+1 e87", "CeDeleteRecord first-pair 1+1 e0",
          "CeDeleteRecord last-pair 2+1 e87", "CeDeleteRecord last-pair 2+1 e0",
          "CeDeleteRecord lasting 2... e87", "CeDeleteRecord lasting 2... e0",
          // One call: first, middle and last are one case; no pair; and a
          // registry call is never failed with code 0.
          "CeRegSetValueEx first/middle/last 1 e87", "CeRegSetValueEx lasting 1... e87"}));
  const std::vector<FaultCase> pairs =
      HandheldCases("first", {{"CeDeleteRecord", 3}}, {"CeDeleteRecord"}, {"pairs", "every"}, {5});
  EXPECT_EQ(Lines(pairs),
            (std::vector<std::string>{"CeDeleteRecord pairs 1+1 e5", "CeDeleteRecord pairs 2+1 e5",
                                      "CeDeleteRecord every 1 e5", "CeDeleteRecord every 2 e5",
                                      "CeDeleteRecord every 3 e5"}));
}

TEST(SweepCasesTest, ServerFaultsHitEachRequestAsItsBodyAllows) {
  EXPECT_EQ(RequestLabel("GET", "http://h/z/update/profile?su=1"), "profile");
  EXPECT_EQ(RequestLabel("POST", "http://h/z/update/keep?"), "keep");
  EXPECT_EQ(RequestLabel("GET", "http://h/z/update/resource?pl=ce&x=1"), "resource list");
  EXPECT_EQ(RequestLabel("GET", "http://h/z/update/resource?pl=ce&rid=7"), "resource 7");
  EXPECT_EQ(RequestLabel("GET", "http://h/z/update/data/12/3.edm"), "data 12/3.edm");
  EXPECT_EQ(RequestLabel("GET", "http://h/other"), "GET http://h/other");

  const std::vector<ServerRequest> requests = {{"GET", "http://h/z/update/profile?a", 10},
                                               {"GET", "http://h/z/update/resource?a&rid=1", 0},
                                               {"GET", "http://h/z/update/data/5/1.edm", 1},
                                               {"GET", "http://h/z/update/data/6/1.edm", 4}};
  const std::vector<FaultCase> all = ServerCases(
      "first", requests, {"cut-head", "cut-body", "status", "garbage", "stall", "lasting"}, 3000);
  EXPECT_EQ(Lines(all),
            (std::vector<std::string>{
                "server profile cut-head 1 n1@18", "server profile cut-body@0 1 n1@0",
                "server profile cut-body@5 1 n1@5", "server profile cut-body@9 1 n1@9",
                "server profile status 404 1 n1@0", "server profile status 500 1 n1@0",
                "server profile garbage 1 n1@0", "server profile stall 1 n1@5",
                "server profile lasting 500 1 n1@0",
                // An empty body has no byte to cut before; a download's bytes
                // may be anything, so no garbage for it.
                "server resource 1 cut-head 2 n2@18", "server resource 1 status 404 2 n2@0",
                "server resource 1 status 500 2 n2@0", "server resource 1 stall 2 n2@0",
                "server resource 1 lasting 500 2 n2@0", "server data 5/1.edm cut-head 3 n3@18",
                "server data 5/1.edm cut-body@0 3 n3@0", "server data 5/1.edm status 404 3 n3@0",
                "server data 5/1.edm status 500 3 n3@0", "server data 5/1.edm garbage 3 n3@0",
                "server data 5/1.edm stall 3 n3@0", "server data 5/1.edm lasting 500 3 n3@0",
                // Only the first request of a kind stalls.
                "server data 6/1.edm cut-head 4 n4@18", "server data 6/1.edm cut-body@0 4 n4@0",
                "server data 6/1.edm cut-body@2 4 n4@2", "server data 6/1.edm cut-body@3 4 n4@3",
                "server data 6/1.edm status 404 4 n4@0", "server data 6/1.edm status 500 4 n4@0",
                "server data 6/1.edm garbage 4 n4@0", "server data 6/1.edm lasting 500 4 n4@0"}));
  for (const FaultCase& c : all) {
    EXPECT_EQ(c.serverFault->lasting, c.use == "lasting 500") << c.use;
    EXPECT_EQ(c.serverFault->stall.count(), c.use == "stall" ? 3000 : 0) << c.use;
  }

  // A limit takes every fault's first case before any second one.
  const std::vector<FaultCase> limited = Limit(all, 4);
  EXPECT_EQ(Lines(limited),
            (std::vector<std::string>{
                "server profile cut-head 1 n1@18", "server resource 1 cut-head 2 n2@18",
                "server data 5/1.edm cut-head 3 n3@18", "server data 6/1.edm cut-head 4 n4@18"}));
}

}  // namespace
}  // namespace hhctl
