// hhctl registry: reads and writes the desktop registry store.
//   hhctl registry [--store P] get|set|del|list [--root HKLM|HKCU|HKCR] PATH
//                  [--value NAME] [--dword N | TEXT]

#include <sys/stat.h>

#include <iostream>

#include "command.h"
#include "base/text.h"
#include "platform/sqlite/sqlite_registry.h"

namespace hhctl {
namespace {

using hhsync::RegRoot;
using hhsync::RegType;
using hhsync::RegValue;

RegRoot ParseRoot(const std::string& text) {
  if (text == "HKLM" || text == "HKEY_LOCAL_MACHINE") return RegRoot::kLocalMachine;
  if (text == "HKCU" || text == "HKEY_CURRENT_USER") return RegRoot::kCurrentUser;
  if (text == "HKCR" || text == "HKEY_CLASSES_ROOT") return RegRoot::kClassesRoot;
  throw UsageError("bad --root '" + text + "' (HKLM, HKCU or HKCR)");
}

std::string ValueText(const RegValue& v) {
  if (v.type == RegType::kDword) return std::to_string(v.AsDword());
  return hhsync::AnsiToUtf8(v.data);
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

int Run(const Args& args) {
  ArgReader r(args);
  std::string store = EnvOr("HHSYNC_REGISTRY", HomeDir() + "/registry.db");
  r.Option("--store", &store);
  std::string verb = r.Next("subcommand (get, set, del or list)");
  if (verb != "get" && verb != "set" && verb != "del" && verb != "list")
    throw UsageError("unknown registry subcommand '" + verb + "'");

  RegRoot root = RegRoot::kLocalMachine;
  std::string path, valueName, text, dword;
  bool haveValue = false, haveDword = false, havePath = false;
  std::vector<std::string> positional;
  while (!r.Done()) {
    std::string opt;
    if (r.Option("--root", &opt)) {
      root = ParseRoot(opt);
    } else if (r.Option("--value", &valueName)) {
      haveValue = true;
    } else if (r.Option("--dword", &dword)) {
      haveDword = true;
    } else if (!r.Peek().empty() && r.Peek().rfind("--", 0) == 0) {
      throw UsageError("unknown option '" + r.Peek() + "'");
    } else {
      positional.push_back(r.Next("argument"));
    }
  }
  if (!positional.empty()) {
    path = hhsync::Utf8ToAnsi(positional[0]);
    havePath = true;
  }
  if (verb != "list" && !havePath) throw UsageError("missing key PATH");
  std::string name = hhsync::Utf8ToAnsi(valueName);

  if (verb == "set") {
    if (positional.size() > 2) throw UsageError("too many arguments");
    if (haveDword == (positional.size() == 2)) {
      throw UsageError("set needs either TEXT or --dword N");
    }
    RegValue value = haveDword
                         ? RegValue::Dword(static_cast<uint32_t>(ParseUnsigned(dword, "DWORD")))
                         : RegValue::String(hhsync::Utf8ToAnsi(positional[1]));
    hhsync::SqliteRegistry reg(store);
    if (!reg.ok()) throw Failure("cannot open registry store " + store + ": " + reg.error());
    if (!reg.CreateKey(root, path) || !reg.SetValue(root, path, name, value))
      throw Failure("cannot write to registry store " + store);
    return 0;
  }
  if (positional.size() > 1 || haveDword) throw UsageError("too many arguments for " + verb);

  // Reading never creates a store.
  if (!FileExists(store)) {
    if (verb == "get") return 1;
    if (verb == "del") return 1;
    return 0;
  }
  hhsync::SqliteRegistry reg(store);
  if (!reg.ok()) throw Failure("cannot open registry store " + store + ": " + reg.error());
  if (verb == "get") {
    auto v = reg.Query(root, path, name);
    if (!v) return 1;
    std::cout << ValueText(*v) << "\n";
    return 0;
  }
  if (verb == "del") {
    bool removed = haveValue ? reg.Delete(root, path, name) : reg.Delete(root, path, std::nullopt);
    return removed ? 0 : 1;
  }
  for (const auto& e : reg.List(root, path)) {
    std::cout << hhsync::AnsiToUtf8(e.path) << "  "
              << (e.name.empty() ? std::string("(default)") : hhsync::AnsiToUtf8(e.name)) << "  "
              << (e.value.type == RegType::kDword ? "REG_DWORD" : "REG_SZ") << "  "
              << ValueText(e.value) << "\n";
  }
  return 0;
}

const CommandRegistration kRegistration(
    "registry",
    "registry [--store P] get|set|del|list [--root HKLM|HKCU|HKCR] PATH [--value NAME] "
    "[--dword N | TEXT]",
    Run);

}  // namespace
}  // namespace hhctl
