#include "base/command_line.h"

namespace hhsync {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The program name at line[*i] (no escapes), with *i moved past it.
std::string ProgramName(const std::string& line,
                        const std::function<bool(const std::string&)>& isProgram, std::size_t* i) {
  const std::size_t n = line.size();
  std::string program;
  if (line[*i] == '"') {
    ++*i;
    while (*i < n && line[*i] != '"') program += line[(*i)++];
    if (*i < n) ++*i;
    return program;
  }
  std::size_t end = *i;
  while (end < n && !IsBlank(line[end])) ++end;
  std::size_t chosen = end;
  if (isProgram) {
    // The successively longer blank-separated prefixes, shortest first.
    for (std::size_t e = end;;) {
      if (isProgram(line.substr(*i, e - *i))) {
        chosen = e;
        break;
      }
      if (e >= n) break;
      while (e < n && IsBlank(line[e])) ++e;
      while (e < n && !IsBlank(line[e])) ++e;
    }
  }
  program = line.substr(*i, chosen - *i);
  *i = chosen;
  return program;
}

}  // namespace

std::string QuoteArgument(const std::string& text) {
  if (!text.empty() && text.find_first_of(" \t\"") == std::string::npos) return text;
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : text) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(2 * backslashes + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(2 * backslashes, '\\');  // the closing quote must stay a quote
  out += '"';
  return out;
}

std::vector<std::string> SplitCommandLine(
    const std::string& line, const std::function<bool(const std::string&)>& isProgram) {
  std::vector<std::string> args;
  std::size_t i = 0, n = line.size();
  while (i < n && IsBlank(line[i])) ++i;
  if (i >= n) return args;

  args.push_back(ProgramName(line, isProgram, &i));

  for (;;) {
    while (i < n && IsBlank(line[i])) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(line[i]))) {
      if (line[i] == '\\') {
        std::size_t count = 0;
        while (i < n && line[i] == '\\') ++count, ++i;
        if (i < n && line[i] == '"') {
          arg.append(count / 2, '\\');
          if (count % 2 == 1) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(count, '\\');
        }
      } else if (line[i] == '"') {
        if (quoted && i + 1 < n && line[i + 1] == '"') {
          arg += '"';  // "" inside quotes is a literal quote
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += line[i++];
      }
    }
    args.push_back(arg);
  }
  return args;
}

std::string JoinArguments(int argc, const char* const* argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  return line;
}

std::string ProgramCaptionOf(const std::string& programPath) {
  std::string caption = programPath.substr(programPath.find_last_of("\\/") + 1);
  if (auto dot = caption.rfind('.'); dot != std::string::npos && dot > 0) caption.resize(dot);
  if (caption.empty()) caption = "hhsync";
  return caption;
}

}  // namespace hhsync
