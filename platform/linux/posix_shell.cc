#include "platform/linux/posix_shell.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

extern char** environ;

namespace hhsync {

namespace {

// Result codes of the desktop's launchers.
constexpr int kFileNotFound = 2;
constexpr int kNoAssociation = 31;
constexpr int kLaunched = 42;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool Spawn(const std::vector<std::string>& args, pid_t* pid) {
  if (args.empty() || args[0].empty()) return false;
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return posix_spawnp(pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0;
}

int WaitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> args;
  std::size_t i = 0, n = line.size();
  while (i < n && IsBlank(line[i])) ++i;
  if (i >= n) return args;

  // The program name: no escapes.
  std::string program;
  if (line[i] == '"') {
    ++i;
    while (i < n && line[i] != '"') program += line[i++];
    if (i < n) ++i;
  } else {
    while (i < n && !IsBlank(line[i])) program += line[i++];
  }
  args.push_back(program);

  for (;;) {
    while (i < n && IsBlank(line[i])) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(line[i]))) {
      if (line[i] == '\\') {
        std::size_t count = 0;
        while (i < n && line[i] == '\\') ++count, ++i;
        if (i < n && line[i] == '"') {
          arg.append(count / 2, '\\');
          if (count % 2 == 1) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(count, '\\');
        }
      } else if (line[i] == '"') {
        if (quoted && i + 1 < n && line[i + 1] == '"') {
          arg += '"';  // "" inside quotes is a literal quote
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += line[i++];
      }
    }
    args.push_back(arg);
  }
  return args;
}

PosixShell::PosixShell(std::string opener)
    : opener_(opener.empty() ? std::string("xdg-open") : std::move(opener)) {}

int PosixShell::OpenUrl(const std::string& url, int) {
  pid_t pid;
  if (!Spawn({opener_, url}, &pid)) return kFileNotFound;
  // The opener hands the page to the browser and ends; its exit status tells
  // whether a browser took it.
  return WaitFor(pid) == 0 ? kLaunched : kNoAssociation;
}

int PosixShell::RunCommandLine(const std::string& commandLine, int) {
  pid_t pid;
  if (!Spawn(SplitCommandLine(commandLine), &pid)) return kFileNotFound;
  return kLaunched;
}

bool PosixShell::RunAndWait(const std::string& commandLine) {
  pid_t pid;
  if (!Spawn(SplitCommandLine(commandLine), &pid)) return false;
  WaitFor(pid);
  return true;
}

void PosixShell::MessageBeep(unsigned) {
  std::fputc('\a', stderr);
  std::fflush(stderr);
}

std::string PosixShell::ShortPath(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return "";
  // A path with blanks stays one argument of a command line when quoted.
  if (path.find_first_of(" \t") == std::string::npos) return path;
  return "\"" + path + "\"";
}

}  // namespace hhsync
