// hhctl: the companion tool of hhsync. It makes and inspects emulated
// handhelds, the desktop registry store, S.DAT and .edm files, and runs the
// reference content server.

#include <iostream>
#include <map>

#include "base/version.h"
#include "command.h"

namespace hhctl {
namespace {

struct Entry {
  std::string usage;
  CommandFn fn;
};

std::map<std::string, Entry>& Commands() {
  static std::map<std::string, Entry> commands;
  return commands;
}

std::string VersionLine() {
  return std::string("hhctl ") + hhsync::ProgramVersion() + " build " + hhsync::kBuild;
}

// hhctl without a group: help, the version, or what is wrong.
int RunTopLevel(const Args& args) {
  CommandLine cli("",
                  "The companion tool of hhsync: emulated handhelds, the desktop registry store, "
                  "S.DAT and .edm files, and the reference content server.",
                  "");
  CLI::App& app = cli.app();
  app.set_version_flag("--version", VersionLine(), "Print the version and exit");
  std::vector<std::string> names;
  std::string footer = "Commands (each answers --help):\n";
  for (const auto& [name, entry] : Commands()) {
    names.push_back(name);
    footer += "  hhctl " + entry.usage + "\n";
  }
  app.footer(footer);
  std::string command;
  app.add_option("COMMAND", command, "The command group")->required()->check(CLI::IsMember(names));
  if (!cli.Parse(args)) return 0;
  // Only a group named after "--" comes this far.
  return Commands()[command].fn({});
}

int Guarded(const std::function<int()>& run) {
  try {
    return run();
  } catch (const UsageError& e) {
    std::cerr << "hhctl: " << e.what() << "\n";
    return 2;
  } catch (const Failure& e) {
    std::cerr << "hhctl: " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "hhctl: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace

CommandRegistration::CommandRegistration(const std::string& name, const std::string& usage,
                                         CommandFn fn) {
  Commands()[name] = Entry{usage, std::move(fn)};
}

}  // namespace hhctl

int main(int argc, char** argv) {
  using namespace hhctl;
  const Args args(argv + 1, argv + argc);
  return Guarded([&] {
    if (!args.empty()) {
      auto it = Commands().find(args[0]);
      if (it != Commands().end()) return it->second.fn(Args(args.begin() + 1, args.end()));
    }
    return RunTopLevel(args);
  });
}
