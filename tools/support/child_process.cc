#include "tools/support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace hhsync {

std::vector<std::string> InheritedEnvironment(const std::vector<std::string>& env,
                                              const std::string& dropPrefix) {
  auto nameOf = [](const std::string& item) { return item.substr(0, item.find('=')); };
  std::vector<std::string> out;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string item = *e;
    if (!dropPrefix.empty() && item.rfind(dropPrefix, 0) == 0) continue;
    const bool replaced = std::any_of(env.begin(), env.end(), [&](const std::string& mine) {
      return nameOf(mine) == nameOf(item);
    });
    if (!replaced) out.push_back(item);
  }
  out.insert(out.end(), env.begin(), env.end());
  return out;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !ended_) Kill();
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         const std::string& outPath, const std::string& errPath,
                         std::string* error) {
  const std::string out = outPath.empty() ? "/dev/null" : outPath;
  const std::string err = errPath.empty() ? "/dev/null" : errPath;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (err == out) {
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
  } else {
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  pid_t pid = -1;
  const int rc =
      argv.empty() ? EINVAL : posix_spawn(&pid, args[0], &fa, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  ended_ = false;
  status_ = 0;
  if (rc != 0) {
    pid_ = -1;
    if (error != nullptr) {
      *error = "cannot start " + (argv.empty() ? std::string("nothing") : argv[0]) + ": " +
               std::strerror(rc);
    }
    return false;
  }
  pid_ = pid;
  return true;
}

bool ChildProcess::Reap(bool block) {
  if (ended_ || pid_ <= 0) return true;
  for (;;) {
    struct rusage usage {};
    const pid_t got = ::wait4(pid_, &status_, block ? 0 : WNOHANG, &usage);
    if (got < 0 && errno == EINTR) continue;
    if (got == pid_) peakRssKb_ = usage.ru_maxrss;
    if (got == pid_ || got < 0) ended_ = true;
    return ended_;
  }
}

bool ChildProcess::Running() { return pid_ > 0 && !Reap(false); }

bool ChildProcess::Wait(int timeoutMs) {
  if (timeoutMs < 0) return Reap(true);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!Reap(false)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

void ChildProcess::Stop(int signal, int graceMs) {
  if (!Running()) return;
  ::kill(pid_, signal);
  if (signal != SIGKILL && !Wait(graceMs)) ::kill(pid_, SIGKILL);
  Reap(true);
}

int ChildProcess::exitCode() const {
  return ended_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

int ChildProcess::endSignal() const {
  return ended_ && WIFSIGNALED(status_) ? WTERMSIG(status_) : 0;
}

}  // namespace hhsync
