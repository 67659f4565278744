// hhctl: the companion tool of hhsync. It makes and inspects emulated
// handhelds, the desktop registry store, S.DAT and .edm files, and runs the
// reference content server.

#include <cstdlib>
#include <iostream>
#include <map>

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

void PrintUsage(std::ostream& out) {
  out << "usage: hhctl <command> ...\n";
  for (const auto& [name, entry] : Commands()) out << "  hhctl " << entry.usage << "\n";
}

}  // namespace

CommandRegistration::CommandRegistration(const std::string& name, const std::string& usage,
                                         CommandFn fn) {
  Commands()[name] = Entry{usage, std::move(fn)};
}

const std::string& ArgReader::Peek() const {
  static const std::string kEmpty;
  return Done() ? kEmpty : args_[pos_];
}

std::string ArgReader::Next(const char* what) {
  if (Done()) throw UsageError(std::string("missing ") + what);
  return args_[pos_++];
}

bool ArgReader::Option(const std::string& name, std::string* value) {
  if (Done()) return false;
  const std::string& a = args_[pos_];
  if (a == name) {
    if (pos_ + 1 >= args_.size()) throw UsageError(name + " needs a value");
    *value = args_[pos_ + 1];
    pos_ += 2;
    return true;
  }
  if (a.rfind(name + "=", 0) == 0) {
    *value = a.substr(name.size() + 1);
    ++pos_;
    return true;
  }
  return false;
}

bool ArgReader::Flag(const std::string& name) {
  if (!Done() && args_[pos_] == name) {
    ++pos_;
    return true;
  }
  return false;
}

void ArgReader::ExpectDone() const {
  if (!Done()) throw UsageError("unexpected argument '" + args_[pos_] + "'");
}

unsigned long ParseUnsigned(const std::string& text, const char* what) {
  if (text.empty()) throw UsageError(std::string("empty ") + what);
  char* end = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(text.c_str(), &end, 0);
  if (*end != '\0' || errno != 0 || text[0] == '-')
    throw UsageError(std::string("bad ") + what + " '" + text + "'");
  return v;
}

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : fallback;
}

std::string HomeDir() { return EnvOr("HHSYNC_HOME", "."); }

}  // namespace hhctl

int main(int argc, char** argv) {
  using namespace hhctl;
  if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
    PrintUsage(argc < 2 ? std::cerr : std::cout);
    return argc < 2 ? 2 : 0;
  }
  auto it = Commands().find(argv[1]);
  if (it == Commands().end()) {
    std::cerr << "hhctl: unknown command '" << argv[1] << "' (try hhctl --help)\n";
    return 2;
  }
  Args args(argv + 2, argv + argc);
  try {
    return it->second.fn(args);
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
