#pragma once
// What the Windows adapter tests share: a scratch directory, files, the
// probe program, and a registry key of their own.

#include <string>

namespace hhsync::win32_test {

// A new empty directory under the system's temporary directory, removed
// with everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

// A whole file's bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
// Waits up to timeoutMs for a file to appear.
bool WaitForFile(const std::string& path, int timeoutMs);

// The probe program beside the test executable.
std::string ProbePath();

// A registry path under HKEY_CURRENT_USER\Software that no other test uses.
std::string UniqueKeyPath(const std::string& name);

}  // namespace hhsync::win32_test
