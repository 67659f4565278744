// hhctl sweep: how hhsync converges after a failure (sweep.h).
//   hhctl sweep [--scenario first|resync|all] [--faults LIST] [--errors LIST] [--ops LIST]
//               [--uses LIST] [--server-faults LIST] [--desktop-faults LIST] [--reduced]
//               [--limit N] [--timeout S] [--json] [--keep-dir] [--verbose] [--hhsync PATH]
//   hhctl sweep --kill N [--seed S] [--items K] [--timeout S] [--json] [--keep-dir] [--verbose]
//               [--hhsync PATH]
// LISTs are comma-separated. --reduced is the set CI runs: handheld errors
// 87,5 with uses first,last,first-pair,last-pair,lasting, and every server
// and desktop fault; options given as well win.

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "command.h"
#include "desktop_faults.h"
#include "emulator/emulated_handheld.h"
#include "sweep.h"

namespace hhctl {
namespace {

constexpr char kUsage[] =
    "sweep [--scenario first|resync|all] [--faults handheld,server,desktop] [--errors LIST] "
    "[--ops LIST] [--uses LIST] [--server-faults LIST] [--desktop-faults LIST] [--reduced] "
    "[--limit N] [--timeout S] [--json] [--keep-dir] [--verbose] [--hhsync PATH] | "
    "sweep --kill N [--seed S] [--items K] [--timeout S] [--json] [--keep-dir] [--verbose] "
    "[--hhsync PATH]";

const std::vector<std::string> kKinds = {"handheld", "server", "desktop"};
const std::vector<std::string> kServerFaults = {"cut-head", "cut-body", "status",
                                                "garbage",  "stall",    "lasting"};
const std::vector<std::string> kAllUses = {"first",      "second",    "middle", "last",   "every",
                                           "first-pair", "last-pair", "pairs",  "lasting"};
const std::vector<std::string> kDefaultUses = {"first",      "second",    "middle", "last",
                                               "first-pair", "last-pair", "lasting"};
const std::vector<std::string> kReducedUses = {"first", "last", "first-pair", "last-pair",
                                               "lasting"};
// Faultable operations that only end a run early (the connection itself).
const std::vector<std::string> kConnectionOps = {"CeRapiInitEx", "WaitForInit", "CeRapiUninit"};

// The hhsync beside this hhctl.
std::string DefaultHhsync() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "hhsync";
  return (self.parent_path() / "hhsync").string();
}

// The items of a comma-separated list, each once.
std::vector<std::string> Items(const std::string& text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  for (std::size_t comma = 0; comma != std::string::npos; at = comma + 1) {
    comma = text.find(',', at);
    std::string item = text.substr(at, comma == std::string::npos ? comma : comma - at);
    if (std::find(out.begin(), out.end(), item) == out.end()) out.push_back(std::move(item));
  }
  return out;
}

// A comma-separated list whose every item is one of known; the whole of
// known when it is not given.
struct ListOption {
  std::string text;
  std::vector<std::string> known;

  CLI::Option* Add(CLI::App& app, const char* name, const std::string& help) {
    return app.add_option(name, text, help)
        ->type_name("LIST")
        ->check(CLI::Validator(
            [this](std::string& list) -> std::string {
              for (const std::string& item : Items(list)) {
                if (std::find(known.begin(), known.end(), item) == known.end()) {
                  return "unknown '" + item + "'";
                }
              }
              return "";
            },
            ""));
  }
  std::vector<std::string> Value() const { return text.empty() ? known : Items(text); }
};

// The operations a sweep fails by default: every one but the connection's.
std::vector<std::string> DefaultOperations() {
  std::vector<std::string> out;
  for (const std::string& op : hhsync::EmulatedHandheld::FaultableOperations()) {
    if (std::find(kConnectionOps.begin(), kConnectionOps.end(), op) == kConnectionOps.end())
      out.push_back(op);
  }
  return out;
}

// What the command line gives beyond SweepOptions.
struct Choices {
  std::string scenario = "all";
  unsigned timeout = 60;
  bool reduced = false;
  std::string errors;
  ListOption kinds{"", kKinds};
  ListOption serverFaults{"", kServerFaults};
  ListOption desktopFaults{"", DesktopFaultNames()};
  ListOption ops{"", hhsync::EmulatedHandheld::FaultableOperations()};
  ListOption uses{"", kAllUses};
};

// The fault sweep's options; each is refused together with --kill.
std::vector<CLI::Option*> AddSweepOptions(CLI::App& app, SweepOptions& o, Choices& c) {
  return {app.add_option("--scenario", c.scenario, "first, resync or all (default all)")
              ->type_name("S")
              ->check(CLI::IsMember({"first", "resync", "all"}).description("")),
          c.kinds.Add(app, "--faults", "handheld, server, desktop (default all)"),
          c.serverFaults.Add(app, "--server-faults",
                             "cut-head, cut-body, status, garbage, stall, lasting (default all)"),
          c.desktopFaults.Add(app, "--desktop-faults",
                              "store-locked, store-corrupt, dir-readonly, disk-full, "
                              "image-truncated, image-corrupt, image-empty (default all)"),
          app.add_option("--errors", c.errors, "error codes to inject (default 87,112,0,5)")
              ->type_name("LIST"),
          c.ops.Add(app, "--ops", "operations to fail (default: every one but the connection)"),
          c.uses.Add(app, "--uses",
                     "first, second, middle, last, every, first-pair, last-pair, pairs, lasting"),
          app.add_option("--limit", o.limit, "at most this many cases")
              ->type_name("N")
              ->check(UnsignedIn(0, 1ul << 40))};
}

// The kill test's options, the shared ones and the output options.
void AddOtherOptions(CLI::App& app, SweepOptions& o, Choices& c) {
  app.add_option("--timeout", c.timeout, "seconds one run may take")
      ->type_name("S")
      ->check(UnsignedIn(1, 86400));
  app.add_option("--kill", o.killPoints, "kill hhsync at this many random points instead")
      ->type_name("N")
      ->check(UnsignedIn(1, 100000));
  app.add_option("--seed", o.seed, "seed of the kill points")
      ->type_name("S")
      ->check(UnsignedIn(0, ~0ul));
  app.add_option("--items", o.items, "items of the kill scenario (default 500)")
      ->type_name("K")
      ->check(UnsignedIn(1, 100000));
  app.add_option("--hhsync", o.hhsync, "the hhsync binary")->type_name("PATH");
}

// The defaults of the lists not given; --reduced picks the errors and uses.
void Complete(const Choices& c, SweepOptions& o) {
  o.timeoutSeconds = c.timeout;
  o.scenarios = c.scenario == "all" ? std::vector<std::string>{"first", "resync"}
                                    : std::vector<std::string>{c.scenario};
  o.kinds = c.kinds.Value();
  o.serverFaults = c.serverFaults.Value();
  o.desktopFaults = c.desktopFaults.Value();
  o.errors = c.reduced ? std::vector<uint32_t>{87, 5} : std::vector<uint32_t>{87, 112, 0, 5};
  if (!c.errors.empty()) o.errors.clear();
  for (const std::string& e : c.errors.empty() ? std::vector<std::string>() : Items(c.errors)) {
    const unsigned long v = ParseUnsigned(e, "error");
    if (v > 0xFFFFFFFFul) throw UsageError("error '" + e + "' does not fit 32 bits");
    o.errors.push_back(static_cast<uint32_t>(v));
  }
  o.uses = !c.uses.text.empty() ? c.uses.Value() : c.reduced ? kReducedUses : kDefaultUses;
  o.operations = c.ops.text.empty() ? DefaultOperations() : c.ops.Value();
}

int Run(const Args& args) {
  SweepOptions o;
  o.hhsync = DefaultHhsync();
  Choices c;
  CommandLine cli("sweep", "measure how a sync converges after a failure", kUsage);
  CLI::App& app = cli.app();
  const std::vector<CLI::Option*> sweepOnly = AddSweepOptions(app, o, c);
  AddOtherOptions(app, o, c);
  const CLI::Option* reduced = app.add_flag("--reduced", c.reduced, "the small set run in CI");
  app.add_flag("--json", o.json, "results as JSON");
  app.add_flag("--keep-dir", o.keepDir, "keep the scratch directory and print it");
  app.add_flag("--verbose", o.verbose, "say what each case does");
  if (!cli.Parse(args)) return 0;
  const bool sweeping = reduced->count() != 0 ||
                        std::any_of(sweepOnly.begin(), sweepOnly.end(),
                                    [](const CLI::Option* option) { return option->count() != 0; });
  if (o.killPoints != 0 && sweeping) {
    throw UsageError("--kill takes only --seed, --items, --timeout and the output options");
  }
  if (o.killPoints == 0 && app.count("--seed") + app.count("--items") != 0) {
    throw UsageError("--seed and --items go with --kill");
  }
  Complete(c, o);
  if (::access(o.hhsync.c_str(), X_OK) != 0) {
    throw Failure("no hhsync program at " + o.hhsync + " (give it with --hhsync PATH)");
  }
  return o.killPoints != 0 ? RunKillTest(o, std::cout, std::cerr)
                           : RunFaultSweep(o, std::cout, std::cerr);
}

const CommandRegistration kRegistration("sweep", kUsage, Run);

}  // namespace
}  // namespace hhctl
