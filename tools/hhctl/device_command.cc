// hhctl device: makes, changes and inspects an emulated handheld image.
//   hhctl device [--image P] init | connect | disconnect | reg get K | reg set K V | reg del K
//     | reg list | volume create NAME | library install NAME | library remove NAME
//     | record add VOLUME DB --prop ID=VALUE... | fault add OP --nth N [--every] --error E
//     | fault clear | dump [--json] | verify [--registry PATH] [--json]

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>

#include "base/text.h"
#include "command.h"
#include "consistency.h"
#include "emulator/emulated_handheld.h"
#include "platform/linux/system_clock.h"

namespace hhctl {
namespace {

using hhsync::CEPROPID;
using hhsync::CePropVal;
using hhsync::EmulatedHandheld;
using hhsync::HandheldDump;

constexpr char kUsage[] =
    "device [--image P] init | connect | disconnect | reg get K | reg set K V | reg del K | "
    "reg list | volume create NAME | library install NAME | library remove NAME | "
    "record add VOLUME DB --prop ID=VALUE... | fault add OP --nth N [--every] --error E | "
    "fault clear | dump [--json] | verify [--registry PATH] [--json]";

std::string PropIdText(CEPROPID id) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", id);
  return buf;
}

std::string HexText(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "ID=VALUE": the identifier in hex, the value as its type wants it.
CePropVal ParseProp(const std::string& text) {
  std::size_t eq = text.find('=');
  if (eq == std::string::npos) throw UsageError("--prop needs ID=VALUE, got '" + text + "'");
  std::string idText = text.substr(0, eq);
  std::string value = text.substr(eq + 1);
  std::string digits = idText;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits = digits.substr(2);
  }
  if (digits.empty() || digits.size() > 8) throw UsageError("bad property id '" + idText + "'");
  CEPROPID id = 0;
  for (char c : digits) {
    int d = HexDigit(c);
    if (d < 0) throw UsageError("bad property id '" + idText + "'");
    id = (id << 4) | static_cast<CEPROPID>(d);
  }
  switch (hhsync::PropType(id)) {
    case hhsync::CEVT_UI4: {
      unsigned long v = ParseUnsigned(value, "number");
      if (v > 0xFFFFFFFFul) throw UsageError("number '" + value + "' does not fit 32 bits");
      return CePropVal::Ui4(id, static_cast<uint32_t>(v));
    }
    case hhsync::CEVT_LPWSTR:
      return CePropVal::Text(id, hhsync::Utf8ToWide(value));
    case hhsync::CEVT_BLOB: {
      if (value.size() % 2 != 0) throw UsageError("bad hex bytes '" + value + "'");
      std::vector<uint8_t> bytes;
      for (std::size_t i = 0; i < value.size(); i += 2) {
        int hi = HexDigit(value[i]), lo = HexDigit(value[i + 1]);
        if (hi < 0 || lo < 0) throw UsageError("bad hex bytes '" + value + "'");
        bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
      }
      return CePropVal::Blob(id, std::move(bytes));
    }
    default:
      throw UsageError("property " + PropIdText(id) +
                       " has an unknown type (0x13 number, 0x1F text, 0x41 bytes)");
  }
}

nlohmann::ordered_json PropJson(const CePropVal& p) {
  switch (hhsync::PropType(p.propid)) {
    case hhsync::CEVT_UI4:
      return p.ulVal;
    case hhsync::CEVT_LPWSTR:
      return hhsync::WideToUtf8(p.lpwsz);
    default:
      return HexText(p.blob);
  }
}

std::string PropHuman(const CePropVal& p) {
  switch (hhsync::PropType(p.propid)) {
    case hhsync::CEVT_UI4:
      return std::to_string(p.ulVal);
    case hhsync::CEVT_LPWSTR:
      return "\"" + hhsync::WideToUtf8(p.lpwsz) + "\"";
    default:
      return "[" + HexText(p.blob) + "]";
  }
}

std::string Plural(std::size_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

void PrintJson(const HandheldDump& d) {
  nlohmann::ordered_json j;
  j["connected"] = d.connected;
  j["registry"] = nlohmann::ordered_json::object();
  for (const auto& e : d.registry) {
    if (e.hasValue) j["registry"][e.path] = e.value;
  }
  j["libraries"] = nlohmann::ordered_json::array();
  for (const auto& l : d.libraries) j["libraries"].push_back(l);
  j["volumes"] = nlohmann::ordered_json::object();
  for (const auto& v : d.volumes) {
    nlohmann::ordered_json vol = nlohmann::ordered_json::object();
    for (const auto& db : v.databases) {
      nlohmann::ordered_json sorts = nlohmann::ordered_json::array();
      for (const auto& s : db.sorts) sorts.push_back(PropIdText(s.propid));
      nlohmann::ordered_json records = nlohmann::ordered_json::array();
      for (const auto& r : db.records) {
        nlohmann::ordered_json props = nlohmann::ordered_json::object();
        for (const auto& p : r.props) props[PropIdText(p.propid)] = PropJson(p);
        records.push_back({{"id", r.id}, {"props", std::move(props)}});
      }
      vol[db.name] = {{"sort", std::move(sorts)}, {"records", std::move(records)}};
    }
    j["volumes"][v.name] = std::move(vol);
  }
  j["calls"] = nlohmann::ordered_json::array();
  for (const auto& c : d.calls) {
    j["calls"].push_back({{"library", c.library}, {"function", c.function}, {"input", c.input}});
  }
  std::cout << j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
}

void PrintRegistry(const HandheldDump& d, const std::string& indent) {
  for (const auto& e : d.registry) {
    std::cout << indent << e.path;
    if (e.hasValue) {
      std::cout << " = " << e.value << "\n";
    } else {
      std::cout << " (no value)\n";
    }
  }
}

void PrintHuman(const std::string& image, const HandheldDump& d) {
  std::cout << "image:     " << image << "\n"
            << "connected: " << (d.connected ? "yes" : "no") << "\n"
            << "sd6:       " << d.sd6 << "\n";
  std::cout << "registry:  " << Plural(d.registry.size(), "key") << "\n";
  PrintRegistry(d, "  ");
  std::cout << "libraries: " << d.libraries.size();
  for (const auto& l : d.libraries) std::cout << " " << l;
  std::cout << "\nvolumes:   " << d.volumes.size() << "\n";
  for (const auto& v : d.volumes) {
    std::cout << "  " << v.name << ": " << Plural(v.databases.size(), "database") << "\n";
    for (const auto& db : v.databases) {
      std::cout << "    " << db.name << " (oid " << db.oid << ", sort:";
      if (db.sorts.empty()) std::cout << " none";
      for (const auto& s : db.sorts) std::cout << " " << PropIdText(s.propid);
      std::cout << "): " << Plural(db.records.size(), "record") << "\n";
      for (const auto& r : db.records) {
        std::cout << "      #" << r.id;
        for (const auto& p : r.props)
          std::cout << "  " << PropIdText(p.propid) << "=" << PropHuman(p);
        std::cout << "\n";
      }
    }
  }
  std::cout << "calls:     " << d.calls.size() << "\n";
  for (const auto& c : d.calls) {
    std::cout << "  " << c.library << " " << c.function << " \"" << c.input << "\"\n";
  }
  std::cout << "faults:    " << d.faults.size() << "\n";
  for (const auto& f : d.faults) {
    std::cout << "  " << f.operation << " call " << f.nth << (f.every ? " and later" : "")
              << " fails with " << f.error << " (" << f.calls << " counted)\n";
  }
}

// What the command line gave, for whichever command it names.
struct DeviceArgs {
  std::string image;
  std::string key;
  std::string value;
  std::string name;  // of a volume or a library
  std::string volume;
  std::string database;
  std::vector<std::string> props;
  hhsync::InjectedFault fault;
  bool json = false;
  std::string registry;  // the handheld registry path whose dbp names the volume
};

// Throws Failure with the reason when an administration step failed.
void Check(bool ok, const std::string& err) {
  if (!ok) throw Failure(err);
}

// Runs work on the image, which must exist: nothing but init ever makes one.
// Commands check their arguments before they come here.
int OnImage(const std::string& image, const std::function<int(EmulatedHandheld&)>& work) {
  if (!EmulatedHandheld::Exists(image)) {
    throw Failure("no handheld image at " + image + " (make one with 'hhctl device init')");
  }
  hhsync::SystemClock clock;
  EmulatedHandheld handheld(image, clock);
  return work(handheld);
}

// Runs one administration step on the image; exit code 0 when it was done.
int Change(const std::string& image,
           const std::function<bool(EmulatedHandheld&, std::string* err)>& step) {
  return OnImage(image, [&](EmulatedHandheld& h) {
    std::string err;
    Check(step(h, &err), err);
    return 0;
  });
}

int Init(const DeviceArgs& a) {
  std::string err;
  MakeDefaultDirectoryFor(a.image);
  Check(EmulatedHandheld::Init(a.image, &err), err);
  return 0;
}

int Connect(const DeviceArgs& a) {
  return Change(a.image,
                [](EmulatedHandheld& h, std::string* err) { return h.SetConnected(true, err); });
}

int Disconnect(const DeviceArgs& a) {
  return Change(a.image,
                [](EmulatedHandheld& h, std::string* err) { return h.SetConnected(false, err); });
}

int RegGet(const DeviceArgs& a) {
  return OnImage(a.image, [&](EmulatedHandheld& h) {
    std::string err;
    std::optional<std::string> value;
    Check(h.RegGet(a.key, &value, &err), err);
    if (!value) {
      std::cerr << "hhctl: no value at " << a.key << "\n";
      return 1;
    }
    std::cout << *value << "\n";
    return 0;
  });
}

int RegSet(const DeviceArgs& a) {
  return Change(a.image, [&](EmulatedHandheld& h, std::string* err) {
    return h.RegSet(a.key, a.value, err);
  });
}

int RegDel(const DeviceArgs& a) {
  return Change(a.image,
                [&](EmulatedHandheld& h, std::string* err) { return h.RegDelete(a.key, err); });
}

int RegList(const DeviceArgs& a) {
  return OnImage(a.image, [](EmulatedHandheld& h) {
    std::string err;
    HandheldDump d;
    Check(h.Dump(&d, &err), err);
    PrintRegistry(d, "");
    return 0;
  });
}

int VolumeCreate(const DeviceArgs& a) {
  return Change(a.image,
                [&](EmulatedHandheld& h, std::string* err) { return h.CreateVolume(a.name, err); });
}

int LibraryInstall(const DeviceArgs& a) {
  return Change(a.image, [&](EmulatedHandheld& h, std::string* err) {
    return h.InstallLibrary(a.name, err);
  });
}

int LibraryRemove(const DeviceArgs& a) {
  return Change(
      a.image, [&](EmulatedHandheld& h, std::string* err) { return h.RemoveLibrary(a.name, err); });
}

int RecordAdd(const DeviceArgs& a) {
  std::vector<CePropVal> props;
  for (const std::string& prop : a.props) props.push_back(ParseProp(prop));
  if (hhsync::Utf8ToWide(a.database).size() > hhsync::kMaxDbNameChars) {
    throw UsageError("database name '" + a.database + "' is longer than 31 characters");
  }
  return OnImage(a.image, [&](EmulatedHandheld& h) {
    std::string err;
    hhsync::CEOID id = 0;
    Check(h.AddRecord(a.volume, a.database, props, &id, &err), err);
    std::cout << id << "\n";
    return 0;
  });
}

int FaultAdd(const DeviceArgs& a) {
  return Change(a.image,
                [&](EmulatedHandheld& h, std::string* err) { return h.AddFault(a.fault, err); });
}

int FaultClear(const DeviceArgs& a) {
  return Change(a.image, [](EmulatedHandheld& h, std::string* err) { return h.ClearFaults(err); });
}

// Reading a large image takes seconds: a person at a terminal is told what
// is going on until the output starts.
class ReadingNotice {
 public:
  explicit ReadingNotice(const std::string& image) {
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(image, ec);
    shown_ = !ec && bytes >= kLargeImageBytes && isatty(STDERR_FILENO);
    if (shown_) {
      std::fprintf(stderr, "hhctl: reading %s (%.0f MB)...", image.c_str(),
                   static_cast<double>(bytes) / 1e6);
      std::fflush(stderr);
    }
  }
  ~ReadingNotice() { Done(); }
  void Done() {
    if (shown_) std::fputs("\r\033[K", stderr);
    shown_ = false;
  }

 private:
  static constexpr std::uintmax_t kLargeImageBytes = 16u << 20;
  bool shown_ = false;
};

int Dump(const DeviceArgs& a) {
  return OnImage(a.image, [&](EmulatedHandheld& h) {
    std::string err;
    HandheldDump d;
    ReadingNotice notice(a.image);
    Check(h.Dump(&d, &err), err);
    notice.Done();
    if (a.json) {
      PrintJson(d);
    } else {
      PrintHuman(a.image, d);
    }
    return 0;
  });
}

// The content databases checked against each other (consistency.h): on the
// volume the dbp setting under --registry names, else on every volume.
// Exit 0 when consistent, 1 with findings.
int Verify(const DeviceArgs& a) {
  // Exit 1 means findings, so what keeps the check from running at all is
  // the arguments' fault: exit 2.
  if (!EmulatedHandheld::Exists(a.image)) throw UsageError("no handheld image at " + a.image);
  return OnImage(a.image, [&](EmulatedHandheld& h) {
    std::string err;
    HandheldDump d;
    Check(h.Dump(&d, &err), err);
    std::vector<const HandheldDump::Volume*> volumes;
    if (a.registry.empty()) {
      for (const auto& v : d.volumes) volumes.push_back(&v);
    } else {
      std::string path = a.registry;
      if (path.back() != '\\') path += '\\';
      path += "dbp";
      auto entry = std::find_if(d.registry.begin(), d.registry.end(), [&](const auto& e) {
        return e.hasValue && hhsync::EqualsNoCase(e.path, path);
      });
      if (entry == d.registry.end()) throw UsageError("the handheld has no setting " + path);
      auto volume = std::find_if(d.volumes.begin(), d.volumes.end(), [&](const auto& v) {
        return hhsync::EqualsNoCase(v.name, entry->value);
      });
      if (volume == d.volumes.end()) {
        throw UsageError("the handheld has no volume \"" + entry->value + "\" (named by " + path +
                         ")");
      }
      volumes.push_back(&*volume);
    }
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    std::size_t count = 0;
    for (const HandheldDump::Volume* volume : volumes) {
      for (const Finding& f : CheckContent(*volume)) {
        ++count;
        if (a.json) {
          list.push_back({{"kind", f.kind},
                          {"database", f.database},
                          {"key", f.key},
                          {"detail", f.detail},
                          {"volume", volume->name}});
        } else {
          std::cout << volume->name << "  " << f.kind << "  " << f.database
                    << (f.key.empty() ? "" : "  " + f.key) << ": " << f.detail << "\n";
        }
      }
    }
    if (a.json) {
      std::cout << list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
                << "\n";
    } else if (count == 0) {
      std::cout << "consistent: " << Plural(volumes.size(), "volume") << " checked\n";
    } else {
      std::cout << Plural(count, "finding") << " in " << Plural(volumes.size(), "volume") << "\n";
    }
    return count == 0 ? 0 : 1;
  });
}

// Adds a command that runs fn with the arguments read.
CLI::App* Add(CommandLine& cli, CLI::App& parent, const std::string& name,
              const std::string& description, int (*fn)(const DeviceArgs&), const DeviceArgs& a) {
  return cli.AddCommand(parent, name, description, [fn, &a] { return fn(a); });
}

void AddStateCommands(CommandLine& cli, DeviceArgs& a) {
  CLI::App& app = cli.app();
  Add(cli, app, "init", "Make a new, connected, empty handheld image", Init, a);
  Add(cli, app, "connect", "Mark the handheld connected", Connect, a);
  Add(cli, app, "disconnect", "Mark the handheld not connected", Disconnect, a);
  CLI::App* dump = Add(cli, app, "dump", "Show everything the image holds", Dump, a);
  dump->add_flag("--json", a.json, "One JSON object instead of tables");
  CLI::App* verify = Add(cli, app, "verify",
                         "Check that the content databases agree with each other; exit 1 with "
                         "findings",
                         Verify, a);
  verify
      ->add_option("--registry", a.registry,
                   "The handheld registry path (Software\\Co\\App\\) whose dbp names the "
                   "volume; default: every volume")
      ->type_name("PATH");
  verify->add_flag("--json", a.json, "A JSON list of {kind, database, key, detail, volume}");
}

void AddRegistryCommands(CommandLine& cli, DeviceArgs& a) {
  CLI::App* reg = cli.app().add_subcommand("reg", "The handheld's registry (HKLM, default values)");
  CLI::App* get =
      Add(cli, *reg, "get", "Print a key's default value; exit 1 without one", RegGet, a);
  get->add_option("K", a.key, "The key path")->required();
  CLI::App* set = Add(cli, *reg, "set", "Set a key's default value, making the key", RegSet, a);
  set->add_option("K", a.key, "The key path")->required();
  cli.AcceptDashText(
      set,
      set->add_option("V", a.value, "The value (text); one beginning with '-' is taken as well")
          ->required());
  CLI::App* del = Add(cli, *reg, "del", "Delete a key and the keys below it", RegDel, a);
  del->add_option("K", a.key, "The key path")->required();
  Add(cli, *reg, "list", "List every key and its value", RegList, a);
}

void AddContentCommands(CommandLine& cli, DeviceArgs& a) {
  CLI::App& app = cli.app();
  CLI::App* volume = app.add_subcommand("volume", "Database volumes");
  Add(cli, *volume, "create", "Make an empty volume", VolumeCreate, a)
      ->add_option("NAME", a.name, "The volume's name")
      ->required();
  CLI::App* library = app.add_subcommand("library", "Libraries installed on the handheld");
  Add(cli, *library, "install", "Install a library", LibraryInstall, a)
      ->add_option("NAME", a.name, "The library's name")
      ->required();
  Add(cli, *library, "remove", "Remove an installed library", LibraryRemove, a)
      ->add_option("NAME", a.name, "The library's name")
      ->required();
  CLI::App* record = app.add_subcommand("record", "Records of the databases in a volume");
  CLI::App* add = Add(cli, *record, "add",
                      "Add a record, making the database (no sort order) when it is missing; "
                      "prints the record's id",
                      RecordAdd, a);
  add->add_option("VOLUME", a.volume, "An existing volume")->required();
  add->add_option("DB", a.database, "The database, at most 31 characters")->required();
  add->add_option("--prop", a.props,
                  "A property: ID in hex (0x0064001F); VALUE a number for type 0x13, text for "
                  "0x1F, hex bytes for 0x41")
      ->type_name("ID=VALUE")
      ->allow_extra_args(false)
      ->required();
}

void AddFaultCommands(CommandLine& cli, DeviceArgs& a) {
  CLI::App* fault = cli.app().add_subcommand("fault", "Injected faults");
  CLI::App* add =
      Add(cli, *fault, "add", "Make the Nth call of OP (and with --every each later one) fail",
          FaultAdd, a);
  const auto& ops = EmulatedHandheld::FaultableOperations();
  std::string names;
  for (const std::string& op : ops) names += (names.empty() ? "" : ", ") + op;
  add->add_option("OP", a.fault.operation, "The operation: " + names)
      ->required()
      ->check(CLI::Validator(
          [&ops](std::string& op) -> std::string {
            if (std::find(ops.begin(), ops.end(), op) != ops.end()) return "";
            return "unknown operation '" + op + "'";
          },
          ""));
  add->add_option("--nth", a.fault.nth, "The failing call, counted from 1 from now on")
      ->type_name("N")
      ->required()
      ->check(UnsignedIn(1, 0xFFFFFFFFul));
  add->add_flag("--every", a.fault.every, "Every call from the Nth on fails");
  add->add_option("--error", a.fault.error, "The handheld error code the failing call leaves")
      ->type_name("E")
      ->required()
      ->check(UnsignedIn(0, 0xFFFFFFFFul));
  Add(cli, *fault, "clear", "Remove every fault", FaultClear, a);
}

int Run(const Args& args) {
  CommandLine cli("device", "Make, change and inspect an emulated handheld image.", kUsage);
  DeviceArgs a;
  a.image = DefaultLocations().device;
  cli.app()
      .add_option(
          "--image", a.image,
          "The handheld image (default $HHSYNC_DEVICE, else handheld.db where hhsync keeps it)")
      ->type_name("P");
  AddStateCommands(cli, a);
  AddRegistryCommands(cli, a);
  AddContentCommands(cli, a);
  AddFaultCommands(cli, a);
  return cli.Run(args);
}

const CommandRegistration kRegistration("device", kUsage, Run);

}  // namespace
}  // namespace hhctl
