#include "support/reference_server_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

extern char** environ;

namespace hhsync::test {

namespace fs = std::filesystem;

std::string MakeFixtureDir(const std::string& prefix) {
  static std::atomic<int> counter{0};
  for (;;) {
    fs::path dir = fs::temp_directory_path() /
                   (prefix + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    if (fs::create_directory(dir)) return dir.string();
  }
}

pid_t SpawnChild(const std::vector<std::string>& argv, const std::string& outputPath,
                 std::string* error) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    if (error) *error = "cannot start " + argv[0] + ": " + std::strerror(rc);
    return -1;
  }
  return pid;
}

bool ChildAlive(pid_t pid) {
  if (pid <= 0) return false;
  int status = 0;
  return ::waitpid(pid, &status, WNOHANG) == 0;
}

void EndChild(pid_t* pid) {
  if (*pid <= 0) return;
  ::kill(*pid, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  int status = 0;
  for (;;) {
    pid_t r = ::waitpid(*pid, &status, WNOHANG);
    if (r == *pid || (r < 0 && errno != EINTR)) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(*pid, SIGKILL);
      ::waitpid(*pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  *pid = -1;
}

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

ReferenceServerProcess::ReferenceServerProcess()
    : dir_(MakeFixtureDir("hhsync_server_")), root_(dir_ + "/root") {
  fs::create_directory(root_);
}

ReferenceServerProcess::~ReferenceServerProcess() {
  Stop();
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

void ReferenceServerProcess::WriteFile(const std::string& relative,
                                       const std::string& bytes) const {
  fs::path path = fs::path(root_) / relative;
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReferenceServerProcess::ReadFile(const std::string& relative) const {
  return ReadAll(root_ + "/" + relative);
}

bool ReferenceServerProcess::Start(std::string* error) {
  if (running()) return true;
  std::string portFile = dir_ + "/port";
  fs::remove(portFile);
  pid_ = SpawnChild({HHCTL_BIN, "serve", "--root", root_, "--port", "0", "--port-file", portFile,
                     "--log", dir_ + "/requests.log"},
                    dir_ + "/server.out", error);
  if (pid_ <= 0) return false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    // The server writes the port file by renaming, so it is whole once seen.
    std::string text = ReadAll(portFile);
    if (!text.empty()) {
      port_ = static_cast<uint16_t>(std::stoul(text));
      return true;
    }
    if (!ChildAlive(pid_)) {
      pid_ = -1;
      if (error) *error = "hhctl serve ended: " + ServerOutput();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Stop();
  if (error) *error = "hhctl serve wrote no port within 10 s: " + ServerOutput();
  return false;
}

void ReferenceServerProcess::Stop() { EndChild(&pid_); }

std::string ReferenceServerProcess::BaseUrl() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/zavrik";
}

std::vector<nlohmann::json> ReferenceServerProcess::RequestLog() const {
  std::vector<nlohmann::json> lines;
  std::istringstream in(ReadAll(dir_ + "/requests.log"));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) lines.push_back(nlohmann::json::parse(line));
  }
  return lines;
}

std::string ReferenceServerProcess::ServerOutput() const { return ReadAll(dir_ + "/server.out"); }

}  // namespace hhsync::test
