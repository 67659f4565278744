#pragma once
// Running the real binaries from tests.

#include <string>
#include <vector>

namespace hhsync::test {

struct RunResult {
  int exitCode = -1;  // -1 when the program could not be started or was killed
  std::string out;
  std::string err;
};

// Runs a program with the arguments and waits for it. The environment is the
// test's own without any HHSYNC_ variable, plus env ("NAME=value" items).
// Standard input is empty.
RunResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});

}  // namespace hhsync::test
