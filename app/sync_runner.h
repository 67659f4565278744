#pragma once
// SyncRunner: owns one run of the program. Constructing it loads S.DAT; each
// run mode is one operation.
//
// Thread safety: used by the main thread only.

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/config_file.h"
#include "app/recording_prompter.h"
#include "platform/ports.h"
#include "platform/run_options.h"
#include "settings/sync_context.h"

namespace hhsync {

class CategoryList;
class ProgressSink;
class ServerLink;
class SyncSettings;

// The message shown when no handheld answers.
inline constexpr const char* kNoConnectionMessage =
    "Unable to connect to Handheld device\nIf this was a new Install, you will need to "
    "re-run\nthis install with the device connected.";

// What a launch of the companion library answered.
struct LaunchOutcome {
  int32_t result = 0;     // the remote call's result code
  uint32_t outSize = 10;  // the output length the call reported (preset 10)
  uint32_t error = 0;     // the handheld's last error after the call
};

enum class SyncKind { kOrdinary, kFirst };
// The companion library's functions: RAPIlaunchapp, RAPIlaunchafter.
enum class LaunchCall { kLaunchApp, kLaunchAfter };

// Each run mode reports how it ended, and every message box it shows, to
// the recorder of its ports.
class SyncRunner {
 public:
  explicit SyncRunner(const Ports& ports, RunOptions options = {});

  // One complete sync; kFirst selects the behaviour straight after an
  // installation. True when the run reached its regular end.
  bool RunSync(SyncKind kind);
  // Connects, launches the companion library and reports the outcome.
  void RunTest();
  // Lets the user choose how often to check for updates.
  void RunConfiguration();
  // Starts the companion library on the connected handheld by the function
  // call names. A sync does not look at the outcome; the test mode reports it.
  LaunchOutcome LaunchDeviceApp(LaunchCall call);
  // Asks the server for the profile and fills the category set with its
  // categories and content items. True when an OK reply was read completely;
  // otherwise the run's outcome (failed, or redirect) is reported.
  bool ExchangeProfile(const SyncContext& run, CategoryList& categories);
  // A REDIRECT reply: opens loginurl + target when openPage, and records
  // the outcome.
  void FollowRedirect(SyncSettings& settings, const std::string& target, bool openPage);

  const ConfigFile& config() const { return config_; }

  // "sync.properties" of S.DAT; empty when S.DAT has no such set.
  const PropertySet& Properties() const;
  // The input text of the companion library: registry|exname|.
  std::string LaunchInput() const;
  // CeRapiInitEx and the wait for its event; true when connected.
  bool Connect();

 private:
  // The ports as given, with message boxes going through prompter_.
  RecordingPrompter prompter_;
  Ports ports_;
  RunOptions options_;
  ConfigFile config_;
};

// Picks the run mode from the command line (the text after the program name):
// "-test", "-first", "-config" are looked for as substrings in that order.
enum class RunMode { kTest, kFirstSync, kConfiguration, kSync };
RunMode SelectRunMode(const std::string& commandLine);

// The application's start: socket support, the runner, the mode. The
// application ends after this one run; how it went is in the run's report.
void InitInstance(const Ports& ports, const std::string& commandLine, RunOptions options = {});

}  // namespace hhsync
