#include "platform/win32/win32_platform.h"

// The error calls alone: <windows.h> would turn MessageBox into a macro.
#include <errhandlingapi.h>
#include <windef.h>

#include <cstdlib>

#include "base/command_line.h"
#include "platform/none/none_ui.h"
#include "platform/win32/rapi_library.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_paths.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_shell.h"
#include "platform/win32/win32_ui.h"
#include "platform/win32/wininet_http.h"

namespace hhsync {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

}  // namespace

std::string ProgramCaption() { return ProgramCaptionOf(ModulePath()); }

std::string ReportPath() { return Env("HHSYNC_REPORT"); }

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string* why) {
  Win32Paths paths;
  SetLastError(0);
  if (WriteWholeFile(paths, path, text)) return true;
  const DWORD error = GetLastError();
  *why = error != 0 ? "system error " + std::to_string(error) : "it could not be written whole";
  return false;
}

Win32Platform::Win32Platform(RunRecorder* recorder) {
  clock_ = std::make_unique<Win32Clock>();
  auto paths = std::make_unique<Win32Paths>();
  // Files of ours that may share the program directory with downloads.
  const std::string exe = ModulePath();
  const std::string dir = DirectoryOfPath(exe);
  for (const std::string& own : {exe, dir + "\\hhctl.exe", dir + "\\rapi.dll", ReportPath()}) {
    paths->Reserve(own);
  }
  paths_ = std::move(paths);
  registry_ = std::make_unique<Win32Registry>();
  rapi_ = std::make_unique<RapiLibrary>();
  http_ = std::make_unique<WinInetHttp>();
  shell_ = std::make_unique<Win32Shell>();

  const std::string caption = ProgramCaption();
  if (Env("HHSYNC_UI") == "none") {
    auto front = std::make_unique<NoneUi>(Env("HHSYNC_ANSWERS"), stderr, caption);
    ports_.dialogs = front.get();
    prompter_ = std::move(front);
  } else {
    auto front = std::make_unique<Win32Ui>(caption);
    ports_.dialogs = front.get();
    prompter_ = std::move(front);
  }

  if (std::string wait = Env("HHSYNC_CONNECT_WAIT_MS"); !wait.empty()) {
    options_.connectWaitMs = static_cast<uint32_t>(std::strtoul(wait.c_str(), nullptr, 10));
  }

  ports_.clock = clock_.get();
  ports_.paths = paths_.get();
  ports_.registry = registry_.get();
  ports_.rapi = rapi_.get();
  ports_.http = http_.get();
  ports_.shell = shell_.get();
  ports_.prompter = prompter_.get();
  if (recorder) ports_.recorder = recorder;
}

Win32Platform::~Win32Platform() { prompter_.reset(); }

}  // namespace hhsync
