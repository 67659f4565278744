#include "platform/linux/posix_shell.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "base/command_line.h"

extern char** environ;

namespace hhsync {

namespace {

// The arguments in the form exec wants them; the strings stay owned by args.
std::vector<char*> Argv(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

int WaitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Spawn(const std::vector<std::string>& args, pid_t* pid) {
  if (args.empty() || args[0].empty()) return false;
  std::vector<char*> argv = Argv(args);
  return posix_spawnp(pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0;
}

// Starts args and returns once it has started, without becoming its parent:
// a short-lived middle process starts the program and ends at once, so the
// program is adopted by init, never waited for and never left as a zombie of
// ours. Its standard streams are /dev/null, so it cannot take the terminal's
// keys from a front end nor keep a pipe of the caller's open. False when the
// program could not be started.
bool SpawnDetached(const std::vector<std::string>& args) {
  if (args.empty() || args[0].empty()) return false;
  // Everything the middle process needs is made before fork: after it, only
  // posix_spawnp and _exit run there.
  std::vector<char*> argv = Argv(args);
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  // Nor does it hold this run's output open: a script reading what the run
  // says would otherwise wait for the browser to be closed.
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Its own session: a Ctrl-C meant for this run does not reach the browser.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);

  bool started = false;
  pid_t middle = fork();
  if (middle == 0) {
    pid_t pid;
    int rc = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    _exit(rc == 0 ? 0 : 127);
  }
  if (middle > 0) started = WaitFor(middle) == 0;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return started;
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// Whether name can be started as a program: a path to an executable file, or
// a bare name found on PATH.
bool IsProgram(const std::string& name) {
  if (name.empty()) return false;
  if (name.find('/') != std::string::npos) return IsExecutableFile(name);
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  for (std::size_t start = 0;;) {
    std::size_t colon = dirs.find(':', start);
    std::string dir = dirs.substr(start, colon - start);
    if (IsExecutableFile((dir.empty() ? "." : dir) + "/" + name)) return true;
    if (colon == std::string::npos) return false;
    start = colon + 1;
  }
}

std::vector<std::string> ProgramAndArguments(const std::string& commandLine) {
  return SplitCommandLine(commandLine, IsProgram);
}

}  // namespace

PosixShell::PosixShell(std::string opener)
    : opener_(opener.empty() ? std::string("xdg-open") : std::move(opener)) {}

bool PosixShell::OpenUrl(const std::string& url, int) {
  // Like the desktop's own call, this returns once the opener has started:
  // the run does not wait for a browser to be closed.
  return SpawnDetached({opener_, url});
}

bool PosixShell::RunCommandLine(const std::string& commandLine, int) {
  return SpawnDetached(ProgramAndArguments(commandLine));
}

bool PosixShell::RunAndWait(const std::string& commandLine) {
  pid_t pid;
  if (!Spawn(ProgramAndArguments(commandLine), &pid)) return false;
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
  // Quoted where needed, the path stays one argument of a command line.
  return QuoteArgument(path);
}

}  // namespace hhsync
