// hhctl registry: reads and writes the desktop registry store.
//   hhctl registry [--store P] get|set|del|list [--root HKLM|HKCU|HKCR] PATH
//                  [--value NAME] [--dword N | TEXT]

#include <sys/stat.h>

#include <iostream>
#include <memory>
#include <optional>

#include "base/text.h"
#include "command.h"
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

constexpr char kUsage[] =
    "registry [--store P] get|set|del|list [--root HKLM|HKCU|HKCR] PATH [--value NAME] "
    "[--dword N | TEXT]";

// What the command line gave, for whichever command it names.
struct RegistryArgs {
  std::string store;
  std::string root = "HKLM";
  std::string path;
  std::optional<std::string> valueName;
  std::optional<uint32_t> dword;
  std::string text;
  CLI::Option* textOption = nullptr;
};

// The store to read, or nothing when there is none: reading never makes one.
std::unique_ptr<hhsync::SqliteRegistry> OpenForReading(const std::string& store) {
  if (!FileExists(store)) return nullptr;
  auto reg = std::make_unique<hhsync::SqliteRegistry>(store);
  if (!reg->ok()) throw Failure("cannot open registry store " + store + ": " + reg->error());
  return reg;
}

std::string AnsiName(const RegistryArgs& a) { return hhsync::Utf8ToAnsi(a.valueName.value_or("")); }

int Get(const RegistryArgs& a) {
  RegRoot root = ParseRoot(a.root);
  auto reg = OpenForReading(a.store);
  if (!reg) return 1;
  auto v = reg->Query(root, hhsync::Utf8ToAnsi(a.path), AnsiName(a));
  if (!v) return 1;
  std::cout << ValueText(*v) << "\n";
  return 0;
}

int Set(const RegistryArgs& a) {
  RegRoot root = ParseRoot(a.root);
  bool haveText = a.textOption->count() > 0;
  if (a.dword.has_value() == haveText) throw UsageError("set needs either TEXT or --dword N");
  RegValue value =
      a.dword ? RegValue::Dword(*a.dword) : RegValue::String(hhsync::Utf8ToAnsi(a.text));
  std::string path = hhsync::Utf8ToAnsi(a.path);
  MakeDefaultDirectoryFor(a.store);
  hhsync::SqliteRegistry reg(a.store);
  if (!reg.ok()) throw Failure("cannot open registry store " + a.store + ": " + reg.error());
  if (!reg.CreateKey(root, path) || !reg.SetValue(root, path, AnsiName(a), value))
    throw Failure("cannot write to registry store " + a.store);
  return 0;
}

int Del(const RegistryArgs& a) {
  RegRoot root = ParseRoot(a.root);
  auto reg = OpenForReading(a.store);
  if (!reg) return 1;
  std::string path = hhsync::Utf8ToAnsi(a.path);
  bool removed =
      a.valueName ? reg->Delete(root, path, AnsiName(a)) : reg->Delete(root, path, std::nullopt);
  return removed ? 0 : 1;
}

int List(const RegistryArgs& a) {
  RegRoot root = ParseRoot(a.root);
  auto reg = OpenForReading(a.store);
  if (!reg) return 0;
  for (const auto& e : reg->List(root, hhsync::Utf8ToAnsi(a.path))) {
    std::cout << hhsync::AnsiToUtf8(e.path) << "  "
              << (e.name.empty() ? std::string("(default)") : hhsync::AnsiToUtf8(e.name)) << "  "
              << (e.value.type == RegType::kDword ? "REG_DWORD" : "REG_SZ") << "  "
              << ValueText(e.value) << "\n";
  }
  return 0;
}

enum class KeyArgs { kOne, kAnyUnder };

// Adds a command on keys: --root and PATH. For one key (kOne) PATH is
// required and --value NAME names a value; listing (kAnyUnder) may leave
// PATH out.
CLI::App* AddKeyCommand(CommandLine& cli, const std::string& name, const std::string& description,
                        int (*fn)(const RegistryArgs&), RegistryArgs& a, KeyArgs keys) {
  CLI::App* command = cli.AddCommand(cli.app(), name, description, [fn, &a] { return fn(a); });
  command->add_option("--root", a.root, "The root: HKLM (default), HKCU or HKCR")
      ->type_name("HKLM|HKCU|HKCR");
  CLI::Option* path = command->add_option("PATH", a.path, "The key path");
  if (keys == KeyArgs::kAnyUnder) return command;
  path->required();
  command->add_option("--value", a.valueName, "A named value instead of the default one")
      ->type_name("NAME");
  return command;
}

int Run(const Args& args) {
  CommandLine cli("registry", "Read and write the desktop registry store.", kUsage);
  RegistryArgs a;
  a.store = DefaultLocations().registry;
  cli.app()
      .add_option("--store", a.store,
                  "The store (default $HHSYNC_REGISTRY, else registry.db where hhsync keeps it)")
      ->type_name("P");
  AddKeyCommand(cli, "get", "Print a value alone (a DWORD in decimal); exit 1 without one", Get, a,
                KeyArgs::kOne);
  CLI::App* set = AddKeyCommand(cli, "set", "Set a value, making the key", Set, a, KeyArgs::kOne);
  set->add_option("--dword", a.dword, "A REG_DWORD value")
      ->type_name("N")
      ->check(UnsignedIn(0, 0xFFFFFFFFul));
  a.textOption =
      set->add_option("TEXT", a.text, "A REG_SZ value; one beginning with '-' is taken as well");
  cli.AcceptDashText(set, a.textOption);
  AddKeyCommand(cli, "del",
                "Delete a key and the keys below it, or with --value one value; exit 1 when there "
                "was none",
                Del, a, KeyArgs::kOne);
  AddKeyCommand(cli, "list", "List the values under PATH (all when it is left out)", List, a,
                KeyArgs::kAnyUnder);
  return cli.Run(args);
}

const CommandRegistration kRegistration("registry", kUsage, Run);

}  // namespace
}  // namespace hhctl
