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

// Each item of list must be one of known; what names the option.
std::vector<std::string> Checked(std::vector<std::string> list,
                                 const std::vector<std::string>& known, const char* what) {
  for (const std::string& item : list) {
    if (std::find(known.begin(), known.end(), item) == known.end()) {
      std::string all;
      for (const std::string& k : known) all += (all.empty() ? "" : ", ") + k;
      throw UsageError("unknown " + std::string(what) + " '" + item + "' (" + all + ")");
    }
  }
  return list;
}

std::vector<std::string> SplitList(const std::string& text, const char* what) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  for (;;) {
    std::size_t comma = text.find(',', pos);
    std::string item =
        text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    if (item.empty()) throw UsageError(std::string("empty item in ") + what + " '" + text + "'");
    if (std::find(out.begin(), out.end(), item) == out.end()) out.push_back(item);
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  return out;
}

// The hhsync beside this hhctl.
std::string DefaultHhsync() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "hhsync";
  return (self.parent_path() / "hhsync").string();
}

int Run(const Args& args) {
  SweepOptions options;
  options.hhsync = DefaultHhsync();
  std::string scenario, kinds, errors, ops, uses, serverFaults, desktopFaults, limit, timeout, kill,
      seed, items;
  bool reduced = false;
  CommandLine cli("sweep", "measure how a sync converges after a failure", kUsage);
  CLI::App& app = cli.app();
  app.add_option("--scenario", scenario, "first, resync or all (default all)")->type_name("S");
  app.add_option("--faults", kinds, "handheld, server, desktop (default all)")->type_name("LIST");
  app.add_option("--server-faults", serverFaults,
                 "cut-head, cut-body, status, garbage, stall, lasting (default all)")
      ->type_name("LIST");
  app.add_option("--desktop-faults", desktopFaults,
                 "store-locked, store-corrupt, dir-readonly, disk-full, image-truncated, "
                 "image-corrupt, image-empty (default all)")
      ->type_name("LIST");
  app.add_option("--errors", errors, "error codes to inject (default 87,112,0,5)")
      ->type_name("LIST");
  app.add_option("--ops", ops, "operations to fail (default: every one but the connection)")
      ->type_name("LIST");
  app.add_option("--uses", uses,
                 "first, second, middle, last, every, first-pair, last-pair, pairs, lasting")
      ->type_name("LIST");
  app.add_option("--limit", limit, "at most this many cases")->type_name("N");
  app.add_option("--timeout", timeout, "seconds one run may take")->type_name("S");
  app.add_option("--kill", kill, "kill hhsync at this many random points instead")->type_name("N");
  app.add_option("--seed", seed, "seed of the kill points")->type_name("S");
  app.add_option("--items", items, "items of the kill scenario (default 500)")->type_name("K");
  app.add_option("--hhsync", options.hhsync, "the hhsync binary")->type_name("PATH");
  app.add_flag("--reduced", reduced, "the small set run in CI");
  app.add_flag("--json", options.json, "results as JSON");
  app.add_flag("--keep-dir", options.keepDir, "keep the scratch directory and print it");
  app.add_flag("--verbose", options.verbose, "say what each case does");
  if (!cli.Parse(args)) return 0;

  if (!timeout.empty()) {
    unsigned long s = ParseUnsigned(timeout, "--timeout");
    if (s == 0 || s > 86400) throw UsageError("--timeout takes 1 to 86400 seconds");
    options.timeoutSeconds = static_cast<double>(s);
  }

  const bool killMode = !kill.empty();
  if (killMode) {
    if (!scenario.empty() || !kinds.empty() || !errors.empty() || !ops.empty() || !uses.empty() ||
        !serverFaults.empty() || !desktopFaults.empty() || reduced || !limit.empty()) {
      throw UsageError("--kill takes only --seed, --items, --timeout and the output options");
    }
    unsigned long n = ParseUnsigned(kill, "--kill");
    if (n == 0 || n > 100000) throw UsageError("--kill takes 1 to 100000 points");
    options.killPoints = static_cast<unsigned>(n);
    if (!seed.empty()) options.seed = ParseUnsigned(seed, "--seed");
    if (!items.empty()) {
      unsigned long k = ParseUnsigned(items, "--items");
      if (k == 0 || k > 100000) throw UsageError("--items takes 1 to 100000");
      options.items = static_cast<unsigned>(k);
    }
  } else {
    if (!seed.empty() || !items.empty()) throw UsageError("--seed and --items go with --kill");
    if (scenario.empty() || scenario == "all") {
      options.scenarios = SweepScenarios();
    } else if (std::find(SweepScenarios().begin(), SweepScenarios().end(), scenario) !=
               SweepScenarios().end()) {
      options.scenarios = {scenario};
    } else {
      throw UsageError("unknown scenario '" + scenario + "' (first, resync or all)");
    }

    options.errors = reduced ? std::vector<uint32_t>{87, 5} : DefaultSweepErrors();
    if (!errors.empty()) {
      options.errors.clear();
      for (const std::string& e : SplitList(errors, "--errors")) {
        unsigned long v = ParseUnsigned(e, "error");
        if (v > 0xFFFFFFFFul) throw UsageError("error '" + e + "' does not fit 32 bits");
        options.errors.push_back(static_cast<uint32_t>(v));
      }
    }

    options.uses =
        reduced ? std::vector<std::string>{"first", "last", "first-pair", "last-pair", "lasting"}
                : SweepUses();
    if (!uses.empty()) options.uses = Checked(SplitList(uses, "--uses"), AllSweepUses(), "use");
    options.kinds =
        kinds.empty() ? SweepKinds() : Checked(SplitList(kinds, "--faults"), SweepKinds(), "fault");
    options.serverFaults = serverFaults.empty()
                               ? SweepServerFaults()
                               : Checked(SplitList(serverFaults, "--server-faults"),
                                         SweepServerFaults(), "server fault");
    options.desktopFaults = desktopFaults.empty()
                                ? DesktopFaultNames()
                                : Checked(SplitList(desktopFaults, "--desktop-faults"),
                                          DesktopFaultNames(), "desktop fault");

    const auto& faultable = hhsync::EmulatedHandheld::FaultableOperations();
    if (ops.empty()) {
      for (const std::string& op : faultable) {
        const auto& connection = ConnectionOperations();
        if (std::find(connection.begin(), connection.end(), op) == connection.end()) {
          options.operations.push_back(op);
        }
      }
    } else {
      options.operations = SplitList(ops, "--ops");
      for (const std::string& op : options.operations) {
        if (std::find(faultable.begin(), faultable.end(), op) == faultable.end()) {
          throw UsageError("unknown operation '" + op + "'");
        }
      }
    }

    if (!limit.empty()) options.limit = ParseUnsigned(limit, "--limit");
  }

  if (::access(options.hhsync.c_str(), X_OK) != 0) {
    throw Failure("no hhsync program at " + options.hhsync + " (give it with --hhsync PATH)");
  }
  return killMode ? RunKillTest(options, std::cout, std::cerr)
                  : RunFaultSweep(options, std::cout, std::cerr);
}

const CommandRegistration kRegistration("sweep", kUsage, Run);

}  // namespace
}  // namespace hhctl
