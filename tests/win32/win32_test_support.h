#pragma once
// What the Windows adapter tests share: a scratch directory, whole files,
// and the probe program beside the test executable.

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/win32/win32_paths.h"

namespace hhsync::win32_test {

// A new empty directory under the system's temporary directory, removed
// with everything in it when the object goes.
struct ScratchDir {
  ScratchDir() { std::filesystem::create_directories(path); }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string File(const std::string& name) const { return path + "\\" + name; }

  inline static int made = 0;
  const std::string path =
      (std::filesystem::temp_directory_path() /
       ("hhsync-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(made++)))
          .string();
};

// A whole file's bytes; empty when it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ProbePath() { return DirectoryOfPath(ModulePath()) + "\\hhsync_probe.exe"; }

}  // namespace hhsync::win32_test
