#pragma once
// The set of ports a run works through. main wires the real adapters in;
// tests wire fakes. The core never owns them.

namespace hhsync {

class Clock;
class Http;
class Paths;
class Rapi;
class Registry;
class Shell;
class Ui;

struct Ports {
  Rapi* rapi = nullptr;
  Registry* registry = nullptr;
  Http* http = nullptr;
  Shell* shell = nullptr;
  Ui* ui = nullptr;
  Clock* clock = nullptr;
  Paths* paths = nullptr;
};

}  // namespace hhsync
