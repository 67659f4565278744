#include "platform/linux/linux_platform.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/command_line.h"
#include "emulator/emulated_handheld.h"
#include "platform/curl/curl_http.h"
#include "platform/linux/env_paths.h"
#include "platform/linux/posix_shell.h"
#include "platform/linux/system_clock.h"
#include "platform/locations.h"
#include "platform/none/none_ui.h"
#include "platform/sqlite/sqlite_registry.h"
#include "platform/tty/tty_ui.h"
#ifdef HHSYNC_WITH_WX
#include "platform/wx/wx_ui.h"
#endif

namespace hhsync {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

#ifdef HHSYNC_WITH_WX
constexpr bool kGuiBuilt = true;
bool DisplayUsable(std::string* why) { return WxUi::DisplayUsable(why); }
#else
constexpr bool kGuiBuilt = false;
bool DisplayUsable(std::string* why) {
  *why = "this build has no GUI (wxWidgets was not found when it was built)";
  return false;
}
#endif

// The front end HHSYNC_UI asks for: wx, tty or none. Unset, it is wx when
// there is a display and the GUI was built, else tty on a terminal, else
// none. Empty, with *error filled, when wx was asked for and cannot be.
std::string ChooseFrontEnd(std::string* error) {
  std::string ui = Env("HHSYNC_UI");
  std::string why;
  if (ui.empty()) {
    const bool display = !Env("DISPLAY").empty() || !Env("WAYLAND_DISPLAY").empty();
    if (kGuiBuilt && display && DisplayUsable(&why)) return "wx";
    return isatty(STDIN_FILENO) ? "tty" : "none";
  }
  if (ui == "wx" && !DisplayUsable(&why)) {
    *error = "hhsync: HHSYNC_UI=wx, but " + why;
    return "";
  }
  if (ui != "wx" && ui != "tty" && ui != "none") {
    *error = "hhsync: HHSYNC_UI=" + ui + " is not a front end (wx, tty or none)";
    return "";
  }
  return ui;
}

// Whether a run that ended so, without showing anything, is news for the
// desktop user.
bool WorthTelling(const RunReport& report) {
  return !(report.outcome == RunOutcome::kNotDue && Env("HHSYNC_STARTED_BY") == "timer");
}

// A front end is both the prompter and the dialog host.
template <typename FrontEnd>
std::unique_ptr<Prompter> Install(std::unique_ptr<FrontEnd> frontEnd, DialogHost** dialogs) {
  *dialogs = frontEnd.get();
  return frontEnd;
}

}  // namespace

std::string ProgramCaption() { return ProgramCaptionOf(ExecutablePath()); }

std::string ReportPath() { return Env("HHSYNC_REPORT"); }

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string* why) {
  EnvPaths paths;
  errno = 0;
  if (WriteWholeFile(paths, path, text)) return true;
  *why = errno != 0 ? std::strerror(errno) : "it could not be written whole";
  return false;
}

void NotifyDesktop(const RunReport& report, const std::string& summary) {
  std::string error;
  if (!WorthTelling(report) || ChooseFrontEnd(&error) != "wx") return;
#ifdef HHSYNC_WITH_WX
  WxUi(ProgramCaption()).Notify(summary);
#else
  (void)summary;
#endif
}

void LinuxPlatform::RunEnded(const RunReport& report, const std::string& summary) {
#ifdef HHSYNC_WITH_WX
  if (wx_ != nullptr && !wx_->ShownAnything() && WorthTelling(report)) wx_->Notify(summary);
#else
  (void)report;
  (void)summary;
#endif
}

LinuxPlatform::LinuxPlatform(RunRecorder* recorder) {
  // The front end first: a run that cannot show what was asked for ends
  // before it touches anything.
  const std::string ui = ChooseFrontEnd(&error_);
  if (ui.empty()) return;
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
  CurlLimits limits;
  // How long a transfer may stall before it is given up (tests shorten it).
  if (std::string stall = Env("HHSYNC_STALL_SECONDS"); !stall.empty()) {
    limits.stallSeconds = std::max(1L, std::strtol(stall.c_str(), nullptr, 10));
  }
  http_ = std::make_unique<CurlHttp>(limits);
  shell_ = std::make_unique<PosixShell>(Env("HHSYNC_OPEN"));

  // Message boxes carry the program's file name without its extension.
  const std::string caption = ProgramCaption();

#ifdef HHSYNC_WITH_WX
  if (ui == "wx") {
    auto wx = std::make_unique<WxUi>(caption);
    wx_ = wx.get();
    prompter_ = Install(std::move(wx), &ports_.dialogs);
  }
#endif
  if (!prompter_ && ui == "tty" && (tty_ = std::fopen("/dev/tty", "r+")) != nullptr) {
    prompter_ = Install(std::make_unique<TtyUi>(tty_, tty_, caption), &ports_.dialogs);
  }
  if (!prompter_) {
    prompter_ =
        Install(std::make_unique<NoneUi>(Env("HHSYNC_ANSWERS"), stderr, caption), &ports_.dialogs);
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
