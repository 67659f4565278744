#pragma once
// The set of ports a run works through, and the recorder the run reports
// its facts into. main wires the real adapters in; tests wire fakes. The
// core never owns them.

#include "base/run_report.h"

namespace hhsync {

class Clock;
class DialogHost;
class Http;
class Paths;
class Rapi;
class Registry;
class Prompter;
class Shell;

struct Ports {
  Rapi* rapi = nullptr;
  Registry* registry = nullptr;
  Http* http = nullptr;
  Shell* shell = nullptr;
  Prompter* prompter = nullptr;   // message boxes, the proxy credentials prompt
  DialogHost* dialogs = nullptr;  // the dialogs' windows
  Clock* clock = nullptr;
  Paths* paths = nullptr;
  // Where the run's parts report what they did; does nothing unless the
  // platform keeps a report.
  RunRecorder* recorder = &NoRunRecorder();
};

}  // namespace hhsync
