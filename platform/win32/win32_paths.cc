#include "platform/win32/win32_paths.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "base/text.h"

namespace hhsync {
namespace {

std::size_t LastSeparator(const std::string& path) { return path.find_last_of("\\/"); }

bool WriteAll(HANDLE file, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file, p, chunk, &written, nullptr) || written == 0) return false;
    p += written;
    size -= written;
  }
  return true;
}

class Win32File final : public OutputFile {
 public:
  explicit Win32File(HANDLE file) : file_(file) {}
  ~Win32File() override { CloseHandle(file_); }
  bool Write(const void* data, std::size_t size) override { return WriteAll(file_, data, size); }

 private:
  HANDLE file_;
};

class Win32PendingFile final : public PendingFile {
 public:
  Win32PendingFile(HANDLE file, std::string temp, std::string target)
      : file_(file), temp_(std::move(temp)), target_(std::move(target)) {}
  ~Win32PendingFile() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    if (!committed_) DeleteFileA(temp_.c_str());
  }
  bool Write(const void* data, std::size_t size) override {
    return file_ != INVALID_HANDLE_VALUE && WriteAll(file_, data, size);
  }
  bool Commit() override {
    if (committed_) return true;
    if (file_ == INVALID_HANDLE_VALUE || !FlushFileBuffers(file_)) return false;
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    // A move replaces a link at the target itself, never what it points to.
    if (!MoveFileExA(temp_.c_str(), target_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return false;
    }
    committed_ = true;
    return true;
  }

 private:
  HANDLE file_;
  std::string temp_;
  std::string target_;
  bool committed_ = false;
};

// The directory's full path in lower case, so that two spellings of one
// directory compare equal.
std::string Comparable(const std::string& dir) {
  char full[MAX_PATH];
  DWORD n = GetFullPathNameA(dir.c_str(), sizeof full, full, nullptr);
  std::string out = n > 0 && n < sizeof full ? std::string(full, n) : dir;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  while (out.size() > 3 && out.back() == '\\') out.pop_back();
  return AsciiLower(out);
}

}  // namespace

std::string ModulePath() {
  std::string buf(MAX_PATH, '\0');
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return "";
    if (n < buf.size()) return buf.substr(0, n);
    buf.assign(buf.size() * 2, '\0');  // cut off: try a larger buffer
  }
}

std::string DirectoryOfPath(const std::string& path) {
  const std::size_t sep = LastSeparator(path);
  if (sep == std::string::npos) return ".";
  // "C:\" keeps its separator: "C:" alone is the drive's current directory.
  if (sep == 0 || (sep == 2 && path[1] == ':')) return path.substr(0, sep + 1);
  return path.substr(0, sep);
}

std::string Win32Paths::ProgramDir() {
  std::string dir = dir_;
  if (dir.empty()) {
    if (const char* home = std::getenv("HHSYNC_HOME"); home && *home) dir = home;
  }
  if (dir.empty()) dir = DirectoryOfPath(ModulePath());
  while (dir.size() > 1 && (dir.back() == '\\' || dir.back() == '/') &&
         !(dir.size() == 3 && dir[1] == ':')) {
    dir.pop_back();
  }
  return dir;
}

bool Win32Paths::ReadFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* why) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    if (why) *why = "system error " + std::to_string(GetLastError());
    return false;
  }
  bytes->clear();
  uint8_t chunk[64 * 1024];
  bool ok = true;
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file, chunk, sizeof chunk, &got, nullptr)) {
      if (why) *why = "system error " + std::to_string(GetLastError());
      ok = false;
      break;
    }
    if (got == 0) break;
    bytes->insert(bytes->end(), chunk, chunk + got);
  }
  CloseHandle(file);
  return ok;
}

std::unique_ptr<OutputFile> Win32Paths::OpenExclusiveAppend(const std::string& path) {
  // No share mode: while this handle is open, every other open fails.
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32File>(file);
}

std::unique_ptr<PendingFile> Win32Paths::CreateReplacement(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  const std::string dir = DirectoryOfPath(path);
  const std::string sep = dir.back() == '\\' || dir.back() == '/' ? "" : "\\";
  // CREATE_NEW never opens an existing file, nor one through a link; a name
  // taken by another writer is passed over.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temp = dir + sep + kReplacementPrefix +
                             std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(counter.fetch_add(1));
    HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return std::make_unique<Win32PendingFile>(file, temp, path);
    if (GetLastError() != ERROR_FILE_EXISTS) return nullptr;
  }
  return nullptr;
}

int Win32Paths::RemoveLeftoverTemporaries() {
  const std::string dir = ProgramDir() + "\\";
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((dir + kReplacementPrefix + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int removed = 0;
  do {
    // Files only; a directory of that name is not ours.
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (DeleteFileA((dir + found.cFileName).c_str())) ++removed;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return removed;
}

void Win32Paths::Reserve(const std::string& path) {
  if (path.empty() || Comparable(DirectoryOfPath(path)) != Comparable(ProgramDir())) return;
  reserved_.push_back(AsciiLower(path.substr(LastSeparator(path) + 1)));
}

bool Win32Paths::IsPlatformFile(const std::string& fileName) {
  const std::string name = AsciiLower(fileName);
  if (name.rfind(kTempPrefix, 0) == 0) return true;
  for (const std::string& reserved : reserved_) {
    if (name == reserved) return true;
  }
  return false;
}

}  // namespace hhsync
