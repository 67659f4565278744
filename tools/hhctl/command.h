#pragma once
// hhctl subcommands register themselves here; main dispatches on the first
// argument. Each subcommand lives in one small .cc file.

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace hhctl {

using Args = std::vector<std::string>;
// Runs a subcommand with the arguments after its name; returns the exit code.
using CommandFn = std::function<int(const Args&)>;

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

// Small helpers for hand-written argument parsing.
class ArgReader {
 public:
  explicit ArgReader(const Args& args) : args_(args) {}
  bool Done() const { return pos_ >= args_.size(); }
  const std::string& Peek() const;
  std::string Next(const char* what);  // throws UsageError naming what is missing
  // Takes "--name VALUE" or "--name=VALUE" when the next argument is that
  // option; returns false otherwise.
  bool Option(const std::string& name, std::string* value);
  bool Flag(const std::string& name);
  void ExpectDone() const;  // throws UsageError on anything left over

 private:
  const Args& args_;
  std::size_t pos_ = 0;
};

// Strict number parsing for arguments: throws UsageError.
unsigned long ParseUnsigned(const std::string& text, const char* what);

// The environment variable's value, or the fallback.
std::string EnvOr(const char* name, const std::string& fallback);
// $HHSYNC_HOME, else the current directory.
std::string HomeDir();

}  // namespace hhctl
