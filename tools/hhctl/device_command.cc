// hhctl device: makes, changes and inspects an emulated handheld image.
//   hhctl device [--image P] init | connect | disconnect | reg get K | reg set K V | reg del K
//     | reg list | volume create NAME | library install NAME | library remove NAME
//     | record add VOLUME DB --prop ID=VALUE... | fault add OP --nth N [--every] --error E
//     | fault clear | dump [--json]

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>

#include "command.h"
#include "base/text.h"
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
    "fault clear | dump [--json]";

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

// Throws Failure with the reason when an administration step failed.
void Check(bool ok, const std::string& err) {
  if (!ok) throw Failure(err);
}

int Run(const Args& args) {
  ArgReader r(args);
  std::string image = EnvOr("HHSYNC_DEVICE", HomeDir() + "/handheld.db");
  r.Option("--image", &image);
  std::string verb = r.Next("device subcommand");
  std::string err;

  if (verb == "init") {
    r.ExpectDone();
    Check(EmulatedHandheld::Init(image, &err), err);
    return 0;
  }

  // Everything below works on an existing image; check the arguments first,
  // then that the image exists, so that nothing is ever created here.
  std::function<int(EmulatedHandheld&)> action;
  if (verb == "connect" || verb == "disconnect") {
    r.ExpectDone();
    bool on = verb == "connect";
    action = [on, &err](EmulatedHandheld& h) {
      Check(h.SetConnected(on, &err), err);
      return 0;
    };
  } else if (verb == "reg") {
    std::string what = r.Next("reg subcommand (get, set, del or list)");
    if (what == "get") {
      std::string key = r.Next("registry key");
      r.ExpectDone();
      action = [key, &err](EmulatedHandheld& h) {
        std::optional<std::string> value;
        Check(h.RegGet(key, &value, &err), err);
        if (!value) {
          std::cerr << "hhctl: no value at " << key << "\n";
          return 1;
        }
        std::cout << *value << "\n";
        return 0;
      };
    } else if (what == "set") {
      std::string key = r.Next("registry key");
      std::string value = r.Next("value");
      r.ExpectDone();
      action = [key, value, &err](EmulatedHandheld& h) {
        Check(h.RegSet(key, value, &err), err);
        return 0;
      };
    } else if (what == "del") {
      std::string key = r.Next("registry key");
      r.ExpectDone();
      action = [key, &err](EmulatedHandheld& h) {
        Check(h.RegDelete(key, &err), err);
        return 0;
      };
    } else if (what == "list") {
      r.ExpectDone();
      action = [&err](EmulatedHandheld& h) {
        HandheldDump d;
        Check(h.Dump(&d, &err), err);
        PrintRegistry(d, "");
        return 0;
      };
    } else {
      throw UsageError("unknown reg subcommand '" + what + "'");
    }
  } else if (verb == "volume") {
    std::string what = r.Next("volume subcommand (create)");
    if (what != "create") throw UsageError("unknown volume subcommand '" + what + "'");
    std::string name = r.Next("volume NAME");
    r.ExpectDone();
    action = [name, &err](EmulatedHandheld& h) {
      Check(h.CreateVolume(name, &err), err);
      return 0;
    };
  } else if (verb == "library") {
    std::string what = r.Next("library subcommand (install or remove)");
    if (what != "install" && what != "remove") {
      throw UsageError("unknown library subcommand '" + what + "'");
    }
    std::string name = r.Next("library NAME");
    r.ExpectDone();
    bool install = what == "install";
    action = [install, name, &err](EmulatedHandheld& h) {
      Check(install ? h.InstallLibrary(name, &err) : h.RemoveLibrary(name, &err), err);
      return 0;
    };
  } else if (verb == "record") {
    std::string what = r.Next("record subcommand (add)");
    if (what != "add") throw UsageError("unknown record subcommand '" + what + "'");
    std::string volume = r.Next("VOLUME");
    std::string db = r.Next("DB");
    std::vector<CePropVal> props;
    while (!r.Done()) {
      std::string prop;
      if (!r.Option("--prop", &prop)) throw UsageError("unexpected argument '" + r.Peek() + "'");
      props.push_back(ParseProp(prop));
    }
    if (props.empty()) throw UsageError("record add needs at least one --prop ID=VALUE");
    if (hhsync::Utf8ToWide(db).size() > hhsync::kMaxDbNameChars) {
      throw UsageError("database name '" + db + "' is longer than 31 characters");
    }
    action = [volume, db, props, &err](EmulatedHandheld& h) {
      hhsync::CEOID id = 0;
      Check(h.AddRecord(volume, db, props, &id, &err), err);
      std::cout << id << "\n";
      return 0;
    };
  } else if (verb == "fault") {
    std::string what = r.Next("fault subcommand (add or clear)");
    if (what == "add") {
      hhsync::InjectedFault f;
      f.operation = r.Next("operation");
      const auto& ops = EmulatedHandheld::FaultableOperations();
      if (std::find(ops.begin(), ops.end(), f.operation) == ops.end()) {
        throw UsageError("unknown operation '" + f.operation + "'");
      }
      bool haveNth = false, haveError = false;
      while (!r.Done()) {
        std::string v;
        if (r.Option("--nth", &v)) {
          unsigned long n = ParseUnsigned(v, "--nth");
          if (n == 0 || n > 0xFFFFFFFFul) throw UsageError("--nth counts calls from 1");
          f.nth = static_cast<uint32_t>(n);
          haveNth = true;
        } else if (r.Option("--error", &v)) {
          unsigned long e = ParseUnsigned(v, "--error");
          if (e > 0xFFFFFFFFul) throw UsageError("--error does not fit 32 bits");
          f.error = static_cast<uint32_t>(e);
          haveError = true;
        } else if (r.Flag("--every")) {
          f.every = true;
        } else {
          throw UsageError("unexpected argument '" + r.Peek() + "'");
        }
      }
      if (!haveNth || !haveError) throw UsageError("fault add needs --nth N and --error E");
      action = [f, &err](EmulatedHandheld& h) {
        Check(h.AddFault(f, &err), err);
        return 0;
      };
    } else if (what == "clear") {
      r.ExpectDone();
      action = [&err](EmulatedHandheld& h) {
        Check(h.ClearFaults(&err), err);
        return 0;
      };
    } else {
      throw UsageError("unknown fault subcommand '" + what + "'");
    }
  } else if (verb == "dump") {
    bool json = r.Flag("--json");
    r.ExpectDone();
    action = [json, image, &err](EmulatedHandheld& h) {
      HandheldDump d;
      Check(h.Dump(&d, &err), err);
      if (json) {
        PrintJson(d);
      } else {
        PrintHuman(image, d);
      }
      return 0;
    };
  } else {
    throw UsageError("unknown device subcommand '" + verb + "'");
  }

  if (!EmulatedHandheld::Exists(image)) {
    throw Failure("no handheld image at " + image + " (make one with 'hhctl device init')");
  }
  hhsync::SystemClock clock;
  EmulatedHandheld handheld(image, clock);
  return action(handheld);
}

const CommandRegistration kRegistration("device", kUsage, Run);

}  // namespace
}  // namespace hhctl
