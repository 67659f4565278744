#pragma once
// hhctl groups register themselves here; main dispatches on the first
// argument and hands the rest to the group. Each group ("device",
// "registry", ...) lives in one small .cc file and reads its arguments with
// CLI11 through a CommandLine.

#include <CLI/CLI.hpp>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/locations.h"

namespace hhctl {

using Args = std::vector<std::string>;
// Runs a group with the arguments after its name; returns the exit code.
using CommandFn = std::function<int(const Args&)>;

// Registers a group under its name. usage is its synopsis without "hhctl "
// (forms separated by " | "), listed by `hhctl --help` and at the foot of
// the group's own help.
struct CommandRegistration {
  CommandRegistration(const std::string& name, const std::string& usage, CommandFn fn);
};

// Thrown for bad arguments: main prints "hhctl: <message>" and exits 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Thrown for failures that are not the arguments' fault (a missing image, a
// file that cannot be read): main prints "hhctl: <message>" and exits 1.
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The command line of one group: a CLI::App named "hhctl <group>" for the
// group to fill with its options and commands, and the reading of the
// arguments after the group's name into them.
class CommandLine {
 public:
  // description: one line on what the group does. usage: as registered.
  CommandLine(const std::string& group, const std::string& description, const std::string& usage);
  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  CLI::App& app() { return app_; }

  // Adds a command under parent (the group's app or another command); parent
  // then needs one of its commands. run is what the command does once the
  // whole command line has been read.
  CLI::App* AddCommand(CLI::App& parent, const std::string& name, const std::string& description,
                       std::function<int()> run);

  // Lets text, the last positional of command, take an argument that begins
  // with a single '-' ("-1", "-x"), which CLI11 would otherwise read as an
  // unknown option. Arguments beginning with "--" go after a "--". Mark
  // text required before, if it is.
  void AcceptDashText(CLI::App* command, CLI::Option* text);

  // Reads args. False when help (or the version) was asked for: it has been
  // printed and the group returns 0 without doing anything. Throws UsageError
  // with one line for bad arguments.
  bool Parse(const Args& args);
  // Parse, then the run of the command given; 0 after help.
  int Run(const Args& args);

 private:
  void TakeDashTexts();
  std::string Describe(const CLI::ParseError& error);

  CLI::App app_;
  std::function<int()> chosen_;
  struct DashText {
    CLI::App* command;
    CLI::Option* text;
    bool required;
  };
  std::vector<DashText> dashTexts_;
};

// A check for CLI11 options holding an unsigned number in [min, max], read
// as ParseUnsigned reads it.
CLI::Validator UnsignedIn(unsigned long min, unsigned long max);

// Strict number parsing for arguments: decimal, 0x hex or 0 octal, no sign.
// Throws UsageError.
unsigned long ParseUnsigned(const std::string& text, const char* what);

// The environment variable's value, or the fallback.
std::string EnvOr(const char* name, const std::string& fallback);
// Where hhsync keeps its files, as this build and the environment say; the
// fallback is the current directory (an installed build: the XDG ones).
const hhsync::Locations& DefaultLocations();
// Makes the directory of a file about to be created when it is one of the
// default directories that are ours to make. Throws Failure.
void MakeDefaultDirectoryFor(const std::string& file);

}  // namespace hhctl
