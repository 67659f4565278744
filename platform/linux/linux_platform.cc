#include "platform/linux/linux_platform.h"

#include <unistd.h>

#include <cstdlib>

#include "emulator/emulated_handheld.h"
#include "platform/curl/curl_http.h"
#include "platform/linux/env_paths.h"
#include "platform/linux/locations.h"
#include "platform/linux/posix_shell.h"
#include "platform/linux/system_clock.h"
#include "platform/none/none_ui.h"
#include "platform/sqlite/sqlite_registry.h"
#include "platform/tty/tty_ui.h"

namespace hhsync {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

}  // namespace

std::string ProgramCaption() {
  const std::string exe = ExecutablePath();
  std::string caption = exe.substr(exe.rfind('/') + 1);
  if (auto dot = caption.rfind('.'); dot != std::string::npos && dot > 0) caption.resize(dot);
  if (caption.empty()) caption = "hhsync";
  return caption;
}

std::string ReportPath() { return Env("HHSYNC_REPORT"); }

bool WriteFileAtomically(const std::string& path, const std::string& text) {
  std::unique_ptr<PendingFile> file = EnvPaths().CreateReplacement(path);
  return file && file->Write(text.data(), text.size()) && file->Commit();
}

LinuxPlatform::LinuxPlatform(RunRecorder* recorder) {
  clock_ = std::make_unique<SystemClock>();
  const Locations where = ProgramLocations();
  const std::string exe = ExecutablePath();
  auto paths = std::make_unique<EnvPaths>(where.programDir);
  const std::string& device = where.device;
  const std::string& registry = where.registry;
  // Files of ours that may share the program directory with downloads.
  for (const std::string& own :
       {device, registry, exe, exe.substr(0, exe.rfind('/') + 1) + "hhctl", ReportPath()}) {
    paths->Reserve(own);
  }
  paths_ = std::move(paths);
  registry_ = std::make_unique<SqliteRegistry>(registry);
  rapi_ = std::make_unique<EmulatedHandheld>(device, *clock_);
  http_ = std::make_unique<CurlHttp>();
  shell_ = std::make_unique<PosixShell>(Env("HHSYNC_OPEN"));

  // Message boxes carry the program's file name without its extension.
  const std::string caption = ProgramCaption();

  std::string ui = Env("HHSYNC_UI");
  if (ui.empty() || ui == "wx") ui = isatty(STDIN_FILENO) ? "tty" : "none";
  if (ui == "tty") tty_ = std::fopen("/dev/tty", "r+");
  if (tty_) {
    auto front = std::make_unique<TtyUi>(tty_, tty_, caption);
    ports_.dialogs = front.get();
    prompter_ = std::move(front);
  } else {
    auto front = std::make_unique<NoneUi>(Env("HHSYNC_ANSWERS"), stderr, caption);
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

LinuxPlatform::~LinuxPlatform() {
  prompter_.reset();
  if (tty_) std::fclose(tty_);
}

}  // namespace hhsync
