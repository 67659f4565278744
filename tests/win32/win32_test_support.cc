#include "win32_test_support.h"

#include <windows.h>
//
#include <shellapi.h>

#include <atomic>
#include <fstream>
#include <iterator>

#include "platform/win32/win32_paths.h"

namespace hhsync::win32_test {
namespace {

std::atomic<unsigned> serial{0};

std::string Unique(const std::string& stem) {
  return stem + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64()) +
         "-" + std::to_string(serial.fetch_add(1));
}

}  // namespace

ScratchDir::ScratchDir() {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  path_ = std::string(temp) + Unique("hhsync-test-");
  CreateDirectoryA(path_.c_str(), nullptr);
}

ScratchDir::~ScratchDir() {
  // SHFileOperation wants a double-terminated list.
  std::string from = path_ + std::string(1, '\0');
  SHFILEOPSTRUCTA op{};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NO_UI;
  SHFileOperationA(&op);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WaitForFile(const std::string& path, int timeoutMs) {
  for (int waited = 0; waited <= timeoutMs; waited += 50) {
    if (FileExists(path)) return true;
    Sleep(50);
  }
  return false;
}

std::string ProbePath() { return DirectoryOfPath(ModulePath()) + "\\hhsync_probe.exe"; }

std::string UniqueKeyPath(const std::string& name) {
  return "Software\\hhsync-tests\\" + Unique(name + "-");
}

}  // namespace hhsync::win32_test
