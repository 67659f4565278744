#include "support/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "support/test_platform.h"

extern char** environ;

namespace hhsync::test {

RunResult RunProcess(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  TempDir scratch;
  std::vector<std::string> argv = args;
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  std::vector<std::string> envs;
  for (char** e = environ; *e; ++e) {
    if (std::string(*e).rfind("HHSYNC_", 0) != 0) envs.push_back(*e);
  }
  envs.insert(envs.end(), env.begin(), env.end());
  std::vector<char*> cenv;
  for (auto& e : envs) cenv.push_back(e.data());
  cenv.push_back(nullptr);

  std::string outPath = scratch.File("stdout"), errPath = scratch.File("stderr");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  RunResult r;
  int rc = posix_spawn(&pid, cargv[0], &fa, nullptr, cargv.data(), cenv.data());
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return r;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = ReadFile(outPath);
  r.err = ReadFile(errPath);
  return r;
}

}  // namespace hhsync::test
