#include "platform/linux/env_paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/text.h"

namespace hhsync {
namespace {

class PosixFile final : public OutputFile {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { ::close(fd_); }
  bool Write(const void* data, std::size_t size) override {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      ssize_t n = ::write(fd_, p, size);
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      p += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
};

class PosixPendingFile final : public PendingFile {
 public:
  PosixPendingFile(int fd, std::string temp, std::string target)
      : file_(fd), fd_(fd), temp_(std::move(temp)), target_(std::move(target)) {}
  ~PosixPendingFile() override {
    if (!committed_) ::unlink(temp_.c_str());
  }
  bool Write(const void* data, std::size_t size) override { return file_.Write(data, size); }
  bool Commit() override {
    if (committed_) return true;
    if (::fsync(fd_) != 0) return false;
    // rename replaces a symbolic link at the target itself, never what it
    // points to.
    if (::rename(temp_.c_str(), target_.c_str()) != 0) return false;
    committed_ = true;
    SyncDirectory(target_);
    return true;
  }

 private:
  static void SyncDirectory(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
  }

  PosixFile file_;  // closes fd_
  int fd_;
  std::string temp_;
  std::string target_;
  bool committed_ = false;
};

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The directory's canonical form, so that two spellings of one directory
// compare equal; the text itself when it cannot be resolved.
std::string Canonical(const std::string& dir) {
  char resolved[PATH_MAX];
  return ::realpath(dir.c_str(), resolved) ? std::string(resolved) : dir;
}

}  // namespace

std::string ExecutablePath() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  return std::string(buf, static_cast<std::size_t>(n));
}

std::string EnvPaths::ProgramDir() {
  std::string dir = dir_;
  if (dir.empty()) {
    if (const char* home = std::getenv("HHSYNC_HOME"); home && *home) dir = home;
  }
  if (!dir.empty()) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
  }
  std::string exe = ExecutablePath();
  auto slash = exe.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : exe.substr(0, slash);
}

bool EnvPaths::ReadFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* why) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (why) *why = std::strerror(errno);
    return false;
  }
  bytes->clear();
  uint8_t chunk[64 * 1024];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0 && why) *why = std::strerror(errno);
      ::close(fd);
      return n == 0;
    }
    bytes->insert(bytes->end(), chunk, chunk + n);
  }
}

std::unique_ptr<OutputFile> EnvPaths::OpenExclusiveAppend(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixFile>(fd);
}

std::unique_ptr<PendingFile> EnvPaths::CreateReplacement(const std::string& path) {
  std::string temp = DirectoryOf(path) + "/" + kReplacementPrefix + "XXXXXX";
  // mkstemp creates the file exclusively: it never opens through a link.
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return nullptr;
  ::fchmod(fd, 0644);
  return std::make_unique<PosixPendingFile>(fd, temp, path);
}

int EnvPaths::RemoveLeftoverTemporaries() {
  const std::string dir = ProgramDir();
  DIR* listing = ::opendir(dir.c_str());
  if (!listing) return 0;
  int removed = 0;
  const std::string prefix = kReplacementPrefix;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    // A file, or a link in a file's place (the link goes, never its target);
    // a directory of that name is not ours.
    struct stat st;
    if (::fstatat(::dirfd(listing), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) continue;
    if (::unlinkat(::dirfd(listing), name.c_str(), 0) == 0) ++removed;
  }
  ::closedir(listing);
  return removed;
}

void EnvPaths::Reserve(const std::string& path) {
  if (path.empty() || Canonical(DirectoryOf(path)) != Canonical(ProgramDir())) return;
  std::string name = AsciiLower(path.substr(path.rfind('/') + 1));
  reserved_.push_back(name);
  for (const char* companion : {"-wal", "-shm", "-journal"}) reserved_.push_back(name + companion);
}

bool EnvPaths::IsPlatformFile(const std::string& fileName) {
  std::string name = AsciiLower(fileName);
  if (name.rfind(kTempPrefix, 0) == 0) return true;
  for (const std::string& reserved : reserved_) {
    if (name == reserved) return true;
  }
  return false;
}

}  // namespace hhsync
