// What every hhctl group shares: reading its command line with CLI11 and
// the small argument helpers.

#include "command.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iostream>

#include "platform/locations.h"

namespace hhctl {
namespace {

bool ReadUnsigned(const std::string& text, unsigned long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(text.c_str(), &end, 0);
  if (*end != '\0' || errno != 0 || text[0] == '-') return false;
  *value = v;
  return true;
}

std::string JoinNames(const std::vector<const CLI::App*>& apps) {
  std::string out;
  for (const CLI::App* a : apps) out += (out.empty() ? "" : ", ") + a->get_name();
  return out;
}

}  // namespace

CommandLine::CommandLine(const std::string& group, const std::string& description,
                         const std::string& usage)
    : app_(description, group.empty() ? "hhctl" : "hhctl " + group) {
  if (!usage.empty()) app_.footer("Synopsis:\n  hhctl " + usage);
}

CLI::App* CommandLine::AddCommand(CLI::App& parent, const std::string& name,
                                  const std::string& description, std::function<int()> run) {
  parent.require_subcommand(1);
  // The group's synopsis stays on the group's own help.
  if (&parent != &app_) parent.footer("");
  CLI::App* command = parent.add_subcommand(name, description);
  command->footer("");
  // Runs at the end of a successful parse only; the work itself waits until
  // the parse has returned.
  command->callback([this, run = std::move(run)] { chosen_ = run; });
  return command;
}

void CommandLine::AcceptDashText(CLI::App* command, CLI::Option* text) {
  command->allow_extras();
  // A required text is checked once the leftovers have been read.
  dashTexts_.push_back({command, text, text->get_required()});
  text->required(false);
}

bool CommandLine::Parse(const Args& args) {
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app_.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    std::cout << app_.help();
    return false;
  } catch (const CLI::CallForAllHelp&) {
    std::cout << app_.help("", CLI::AppFormatMode::All);
    return false;
  } catch (const CLI::CallForVersion& e) {
    std::cout << e.what() << "\n";
    return false;
  } catch (const CLI::ParseError& e) {
    throw UsageError(Describe(e));
  }
  TakeDashTexts();
  return true;
}

int CommandLine::Run(const Args& args) {
  if (!Parse(args)) return 0;
  return chosen_ ? chosen_() : 0;
}

void CommandLine::TakeDashTexts() {
  for (const DashText& d : dashTexts_) {
    if (!d.command->parsed()) continue;
    for (const std::string& arg : d.command->remaining()) {
      if (arg == "--") continue;
      bool dashText = arg.size() > 1 && arg[0] == '-' && arg[1] != '-';
      if (!dashText || d.text->count() > 0) {
        throw UsageError(Describe(CLI::ExtrasError(std::vector<std::string>{arg})));
      }
      d.text->add_result(arg);
      d.text->run_callback();
    }
    if (d.required && d.text->count() == 0) {
      throw UsageError(Describe(CLI::RequiredError(d.text->get_name())));
    }
  }
}

std::string CommandLine::Describe(const CLI::ParseError& error) {
  // The group and the commands read before the error.
  const CLI::App* deepest = &app_;
  std::string path = app_.get_name();
  while (!deepest->get_subcommands().empty()) {
    deepest = deepest->get_subcommands().front();
    path += " " + deepest->get_name();
  }
  std::string message = error.what();
  // CLI11 names what is missing before what is left over; a word that is no
  // command or an unknown option says more.
  if (dynamic_cast<const CLI::RequiredError*>(&error)) {
    std::vector<std::string> extra = deepest->remaining();
    extra.erase(std::remove(extra.begin(), extra.end(), "--"), extra.end());
    bool lacksCommand =
        deepest->get_require_subcommand_min() > 0 && deepest->get_subcommands().empty();
    if (lacksCommand && !extra.empty() && extra.front()[0] != '-') {
      message = "unknown command '" + extra.front() + "'";
    } else if (!extra.empty()) {
      message = CLI::ExtrasError(extra).what();
    } else if (lacksCommand) {
      auto all = deepest->get_subcommands([](const CLI::App*) { return true; });
      message = "missing command (" + JoinNames(all) + ")";
    }
  }
  std::replace(message.begin(), message.end(), '\n', ' ');
  return message + " (see " + path + " --help)";
}

CLI::Validator UnsignedIn(unsigned long min, unsigned long max) {
  return CLI::Validator(
      [min, max](std::string& text) -> std::string {
        unsigned long v = 0;
        if (ReadUnsigned(text, &v) && v >= min && v <= max) return "";
        return "wants a number from " + std::to_string(min) + " to " + std::to_string(max) +
               ", got '" + text + "'";
      },
      "");
}

unsigned long ParseUnsigned(const std::string& text, const char* what) {
  if (text.empty()) throw UsageError(std::string("empty ") + what);
  unsigned long v = 0;
  if (!ReadUnsigned(text, &v)) throw UsageError(std::string("bad ") + what + " '" + text + "'");
  return v;
}

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : fallback;
}

const hhsync::Locations& DefaultLocations() {
  static const hhsync::Locations where =
      hhsync::ResolveLocations(hhsync::ProcessLocationRules("."));
  return where;
}

void MakeDefaultDirectoryFor(const std::string& file) {
  const std::string dir =
      file.substr(0, file.rfind('/') == std::string::npos ? 0 : file.rfind('/'));
  for (const std::string& ours : DefaultLocations().toCreate) {
    if (dir == ours && !hhsync::MakeDirectories(dir)) throw Failure("cannot create " + dir);
  }
}

}  // namespace hhctl
