#include "app/sync_runner.h"

#include <cstdio>

#include "app/dialogs/update_frequency_dialog.h"
#include "base/text.h"
#include "platform/http.h"
#include "platform/prompter.h"
#include "platform/rapi.h"
#include "platform/registry.h"
#include "settings/sync_settings.h"

namespace hhsync {

namespace {

constexpr MessageBoxStyle kOkBox{};
const char16_t kLibrary[] = u"zvdll";

}  // namespace

RunMode SelectRunMode(const std::string& commandLine) {
  if (commandLine.find("-test") != std::string::npos) return RunMode::kTest;
  if (commandLine.find("-first") != std::string::npos) return RunMode::kFirstSync;
  if (commandLine.find("-config") != std::string::npos) return RunMode::kConfiguration;
  return RunMode::kSync;
}

void InitInstance(const Ports& ports, const std::string& commandLine, RunOptions options) {
  if (!ports.http->Initialise()) {
    RecordingPrompter(*ports.prompter, *ports.recorder)
        .MessageBox("Windows sockets initialization failed.", kOkBox);
    ports.recorder->Outcome(RunOutcome::kFailed, "socket support could not be started");
    return;
  }
  SyncRunner runner(ports, options);
  switch (SelectRunMode(commandLine)) {
    case RunMode::kTest:
      runner.RunTest();
      break;
    case RunMode::kFirstSync:
      runner.RunSync(SyncKind::kFirst);
      break;
    case RunMode::kConfiguration:
      runner.RunConfiguration();
      break;
    case RunMode::kSync:
      runner.RunSync(SyncKind::kOrdinary);
      break;
  }
}

namespace {

Ports WithPrompter(Ports ports, Prompter* prompter) {
  ports.prompter = prompter;
  return ports;
}

}  // namespace

SyncRunner::SyncRunner(const Ports& ports, RunOptions options)
    : prompter_(*ports.prompter, *ports.recorder),
      ports_(WithPrompter(ports, &prompter_)),
      options_(options),
      config_(ConfigFile::Load(*ports_.paths, *ports_.prompter)) {
  // A configuration that loaded without the product's properties is run
  // with empty ones; the report says so whatever the run then does.
  if (!config_.LoadFailed() && !config_.Problem().empty()) {
    ports_.recorder->Problem(config_.Problem());
  }
}

const PropertySet& SyncRunner::Properties() const {
  static const PropertySet kEmpty;
  const PropertySet* set = config_.GetPropertySet("sync.properties");
  return set ? *set : kEmpty;
}

std::string SyncRunner::LaunchInput() const {
  return Properties().Get("registry") + "|" + Properties().Get("exname") + "|";
}

bool SyncRunner::Connect() {
  RapiInit init;
  ports_.rapi->CeRapiInitEx(&init);
  uint32_t wait = ports_.rapi->WaitForInit(&init, options_.connectWaitMs);
  return wait == kWaitObject0 && init.result >= 0;
}

LaunchOutcome SyncRunner::LaunchDeviceApp(LaunchCall call) {
  LaunchOutcome outcome;
  std::vector<uint8_t> output;  // released here; its content is not looked at
  outcome.result = ports_.rapi->CeRapiInvoke(
      kLibrary, call == LaunchCall::kLaunchAfter ? u"RAPIlaunchafter" : u"RAPIlaunchapp",
      LaunchInput(), &outcome.outSize, &output);
  outcome.error = ports_.rapi->CeGetLastError();
  return outcome;
}

void SyncRunner::RunTest() {
  RunRecorder& recorder = *ports_.recorder;
  const bool connected = Connect();
  recorder.HandheldConnected(connected);
  if (!connected) {
    const std::string why = ports_.rapi->DesktopErrorText();
    const std::string note = ports_.rapi->NoAnswerText();
    if (!why.empty()) {
      recorder.Outcome(RunOutcome::kFailed, "the handheld could not be reached: " + why);
    } else {
      recorder.Outcome(RunOutcome::kNoHandheld,
                       "no handheld answered" + (note.empty() ? "" : ": " + note));
    }
    ports_.prompter->MessageBox(kNoConnectionMessage, kOkBox);
    ports_.rapi->CeRapiUninit();
    return;
  }
  SyncSettings settings(ports_, &Properties());
  recorder.HandheldSd6(settings.GetSd6());
  const LaunchOutcome launch = LaunchDeviceApp(LaunchCall::kLaunchApp);
  const int32_t result = launch.result;
  char text[128];
  switch (launch.error) {
    case ce_error::kFileNotFound:
      std::snprintf(text, sizeof text, "Dll File Not found on handheld");
      break;
    case ce_error::kCallNotImplemented:
      std::snprintf(text, sizeof text, "Dll function RAPIlaunchapp not found");
      break;
    case ce_error::kExceptionInService:
      std::snprintf(text, sizeof text, "Exception in service result= %d", result);
      break;
    case 0:
      std::snprintf(text, sizeof text, "All OK: result= %d,%d", result,
                    static_cast<int>(launch.outSize));
      break;
    default:
      std::snprintf(text, sizeof text, "unknown error: result= %d,%d",
                    static_cast<int>(launch.error), result);
      break;
  }
  // The companion library answered without an error: the test passed.
  if (launch.error == 0) {
    recorder.Outcome(RunOutcome::kComplete, std::string("the companion library answered: ") + text);
  } else {
    recorder.Outcome(RunOutcome::kFailed, text);
  }
  ports_.prompter->MessageBox(text, kOkBox);
  ports_.rapi->CeRapiUninit();
}

void SyncRunner::RunConfiguration() {
  if (config_.LoadFailed()) {
    ports_.recorder->Outcome(RunOutcome::kNoConfiguration, config_.Problem());
    return;
  }
  std::string name = Properties().Get("name");
  SyncSettings settings(ports_, &Properties());
  UpdateFrequencyDialog dialog(name, settings.desktop().GetUpdateFrequency());
  ports_.dialogs->RunUpdateFrequencyDialog(dialog);
  // The frequency is stored (and lst stamped) however the dialog closed;
  // closed without OK it is the one it was.
  settings.desktop().SetUpdateFrequency(dialog.Hours());
  if (const std::string trouble = ports_.registry->Trouble(); !trouble.empty()) {
    ports_.recorder->Outcome(RunOutcome::kFailed, "the frequency could not be stored: " + trouble);
  } else if (dialog.accepted()) {
    const auto choice =
        static_cast<std::size_t>(UpdateFrequencyDialog::SelectionForHours(dialog.Hours()));
    ports_.recorder->Outcome(RunOutcome::kComplete, std::string("update frequency stored: ") +
                                                        UpdateFrequencyDialog::kChoices[choice] +
                                                        " (" + std::to_string(dialog.Hours()) +
                                                        " hours)");
  } else {
    ports_.recorder->Outcome(RunOutcome::kCancelled,
                             "the dialog was closed without OK; the frequency stays " +
                                 std::to_string(dialog.Hours()) + " hours");
  }
}

}  // namespace hhsync
