#include "platform/win32/win32_shell.h"

#include <windows.h>
//
#include <shellapi.h>

#include <cstdint>
#include <vector>

namespace hhsync {

// ShellExecute answers a value above 32 when it started the handler.
bool Win32Shell::OpenUrl(const std::string& url, int showCommand) {
  HINSTANCE result = ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, showCommand);
  return reinterpret_cast<intptr_t>(result) > 32;
}

// WinExec answers a value above 31 when it started the program.
bool Win32Shell::RunCommandLine(const std::string& commandLine, int showCommand) {
  return WinExec(commandLine.c_str(), static_cast<UINT>(showCommand)) > 31;
}

bool Win32Shell::RunAndWait(const std::string& commandLine) {
  // CreateProcessA may write into the command line it is given.
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

void Win32Shell::MessageBeep(unsigned type) { ::MessageBeep(type); }

std::string Win32Shell::ShortPath(const std::string& path) {
  DWORD needed = GetShortPathNameA(path.c_str(), nullptr, 0);
  if (needed == 0) return "";
  std::string out(needed, '\0');
  DWORD n = GetShortPathNameA(path.c_str(), out.data(), needed);
  if (n == 0 || n >= needed) return "";
  out.resize(n);
  return out;
}

}  // namespace hhsync
