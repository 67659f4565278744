#include "platform/linux/linux_platform.h"

#include <unistd.h>

#include <cstdlib>

#include "emulator/emulated_handheld.h"
#include "platform/curl/curl_http.h"
#include "platform/linux/env_paths.h"
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

LinuxPlatform::LinuxPlatform() {
  clock_ = std::make_unique<SystemClock>();
  paths_ = std::make_unique<EnvPaths>();
  std::string home = paths_->ProgramDir();
  std::string device = Env("HHSYNC_DEVICE");
  std::string registry = Env("HHSYNC_REGISTRY");
  registry_ = std::make_unique<SqliteRegistry>(registry.empty() ? home + "/registry.db" : registry);
  rapi_ =
      std::make_unique<EmulatedHandheld>(device.empty() ? home + "/handheld.db" : device, *clock_);
  http_ = std::make_unique<CurlHttp>();
  shell_ = std::make_unique<PosixShell>(Env("HHSYNC_OPEN"));

  std::string ui = Env("HHSYNC_UI");
  if (ui.empty() || ui == "wx") ui = isatty(STDIN_FILENO) ? "tty" : "none";
  if (ui == "tty") tty_ = std::fopen("/dev/tty", "r+");
  if (tty_) {
    ui_ = std::make_unique<TtyUi>(tty_, tty_);
  } else {
    ui_ = std::make_unique<NoneUi>(Env("HHSYNC_ANSWERS"));
  }

  ports_.clock = clock_.get();
  ports_.paths = paths_.get();
  ports_.registry = registry_.get();
  ports_.rapi = rapi_.get();
  ports_.http = http_.get();
  ports_.shell = shell_.get();
  ports_.ui = ui_.get();
}

LinuxPlatform::~LinuxPlatform() {
  ui_.reset();
  if (tty_) std::fclose(tty_);
}

}  // namespace hhsync
