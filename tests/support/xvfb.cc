#include "support/xvfb.h"

#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace hhsync::test {

namespace {

constexpr const char* kXvfb = "/usr/bin/Xvfb";
constexpr const char* kXdotool = "/usr/bin/xdotool";
constexpr const char* kImport = "/usr/bin/import";

// Reads a binary PPM (P6, 8 bits a sample).
bool ParsePpm(const std::string& bytes, Screenshot* shot) {
  std::size_t at = 0;
  auto token = [&]() {
    for (;;) {
      while (at < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[at]))) ++at;
      if (at < bytes.size() && bytes[at] == '#') {
        while (at < bytes.size() && bytes[at] != '\n') ++at;
        continue;
      }
      break;
    }
    const std::size_t start = at;
    while (at < bytes.size() && !std::isspace(static_cast<unsigned char>(bytes[at]))) ++at;
    return bytes.substr(start, at - start);
  };
  if (token() != "P6") return false;
  const int width = std::atoi(token().c_str());
  const int height = std::atoi(token().c_str());
  if (token() != "255" || width <= 0 || height <= 0) return false;
  ++at;  // the one blank after the maximum
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (bytes.size() - at < count * 3) return false;
  shot->width = width;
  shot->height = height;
  shot->pixels.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data() + at + 3 * i);
    shot->pixels[i] = Rgb{p[0], p[1], p[2]};
  }
  return true;
}

}  // namespace

bool Screenshot::Holds(int x, int y, int w, int h, const std::vector<Rgb>& expected,
                       std::string* where) const {
  if (x < 0 || y < 0 || x + w > width || y + h > height ||
      expected.size() < static_cast<std::size_t>(w) * static_cast<std::size_t>(h)) {
    *where = "the block does not fit the " + std::to_string(width) + "x" + std::to_string(height) +
             " screenshot";
    return false;
  }
  for (int row = 0; row < h; ++row) {
    for (int col = 0; col < w; ++col) {
      const Rgb want = expected[static_cast<std::size_t>(row * w + col)];
      const Rgb got = At(x + col, y + row);
      if (got != want) {
        std::ostringstream s;
        s << "pixel (" << col << ", " << row << ") of the block at (" << x << ", " << y << ") is ("
          << int{got.red} << ", " << int{got.green} << ", " << int{got.blue} << "), not ("
          << int{want.red} << ", " << int{want.green} << ", " << int{want.blue} << ")";
        *where = s.str();
        return false;
      }
    }
  }
  return true;
}

bool XvfbProcess::Start(std::string* error) {
  if (process_.Running()) return true;
  if (::access(kXvfb, X_OK) != 0) {
    if (error) *error = std::string(kXvfb) + " is not installed";
    return false;
  }
  // Xvfb picks a free display number and writes it once it takes
  // connections.
  const std::string number = dir_.File("display");
  const bool up = Launch(
      {kXvfb, "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"},
      [&] {
        const std::string text = test::ReadFile(number);
        return !text.empty() && text.back() == '\n';
      },
      error, number);
  if (!up) return false;
  std::string text = test::ReadFile(number);
  display_ = ":" + text.substr(0, text.size() - 1);
  return true;
}

std::vector<std::string> XvfbProcess::Environment() const {
  return {"DISPLAY=" + display_, "WAYLAND_DISPLAY=", "GDK_BACKEND=x11", "NO_AT_BRIDGE=1"};
}

RunResult XvfbProcess::Tool(const std::vector<std::string>& argv) const {
  return RunProcess(argv, Environment());
}

std::vector<std::string> XvfbProcess::Windows(const std::string& pattern) const {
  std::vector<std::string> ids;
  std::istringstream in(Tool({kXdotool, "search", "--onlyvisible", "--name", pattern}).out);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) ids.push_back(line);
  }
  return ids;
}

std::string XvfbProcess::WaitForWindow(const std::string& pattern, int timeoutMs) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  do {
    std::vector<std::string> ids = Windows(pattern);
    if (!ids.empty()) return ids.front();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (std::chrono::steady_clock::now() < deadline);
  return "";
}

bool XvfbProcess::WaitUntilNoWindow(const std::string& pattern, int timeoutMs) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  do {
    if (Windows(pattern).empty()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

bool XvfbProcess::PressKeys(const std::string& window, const std::vector<std::string>& keys) const {
  if (Tool({kXdotool, "windowfocus", "--sync", window}).exitCode != 0) return false;
  std::vector<std::string> argv = {kXdotool, "key", "--delay", "50"};
  argv.insert(argv.end(), keys.begin(), keys.end());
  return Tool(argv).exitCode == 0;
}

bool XvfbProcess::Type(const std::string& window, const std::string& text) const {
  if (Tool({kXdotool, "windowfocus", "--sync", window}).exitCode != 0) return false;
  return Tool({kXdotool, "type", "--delay", "30", text}).exitCode == 0;
}

bool XvfbProcess::DoubleClick(const std::string& window, int x, int y, int button) const {
  return Tool({kXdotool, "mousemove", "--window", window, "--sync", std::to_string(x),
               std::to_string(y)})
                 .exitCode == 0 &&
         Tool({kXdotool, "click", "--repeat", "2", "--delay", "80", std::to_string(button)})
                 .exitCode == 0;
}

bool XvfbProcess::Capture(const std::string& window, Screenshot* shot) const {
  TempDir scratch;
  const std::string path = scratch.File("shot.ppm");
  if (Tool({kImport, "-window", window, "-depth", "8", "ppm:" + path}).exitCode != 0) return false;
  return ParsePpm(test::ReadFile(path), shot);
}

}  // namespace hhsync::test
