#pragma once
// An X server of a test's own: Xvfb on a display number it picks itself,
// and the X tools (xdotool, ImageMagick's import) run against it. Windows
// are found by name, keys pressed into them and screenshots read back as
// pixels; no window manager is needed.

#include <string>
#include <vector>

#include "base/rgb.h"
#include "support/processes.h"

namespace hhsync::test {

// A screenshot: width x height pixels, row by row from the top.
struct Screenshot {
  int width = 0;
  int height = 0;
  std::vector<Rgb> pixels;

  Rgb At(int x, int y) const { return pixels[static_cast<size_t>(y * width + x)]; }
  // Whether the w x h block at (x, y) holds exactly expected (row by row);
  // *where names the first pixel that differs.
  bool Holds(int x, int y, int w, int h, const std::vector<Rgb>& expected,
             std::string* where) const;
};

class XvfbProcess : public ServerProcess {
 public:
  XvfbProcess() { stopSignal_ = SIGTERM; }  // so that it removes its socket and lock

  // Starts Xvfb with one 1024x768 true-colour screen and waits until it
  // takes connections. False with *error filled when it cannot be started
  // (not installed, or it failed).
  bool Start(std::string* error = nullptr);
  // ":N"
  const std::string& display() const { return display_; }
  // What a program started by a test needs to show its windows here and
  // nowhere else: DISPLAY, the toolkit kept on X, no accessibility bus.
  std::vector<std::string> Environment() const;

  // Runs an X tool against this display.
  RunResult Tool(const std::vector<std::string>& argv) const;
  // The id of a shown window whose name matches pattern (a regular
  // expression, as xdotool takes it), waiting up to timeoutMs; empty when
  // none showed up.
  std::string WaitForWindow(const std::string& pattern, int timeoutMs = 20000) const;
  // The ids of the shown windows whose names match pattern, now.
  std::vector<std::string> Windows(const std::string& pattern) const;
  // Waits up to timeoutMs until no shown window's name matches pattern.
  bool WaitUntilNoWindow(const std::string& pattern, int timeoutMs = 10000) const;
  // Gives window the keyboard focus and types keys into it (xdotool key
  // names, e.g. "Escape", "Return", "Tab").
  bool PressKeys(const std::string& window, const std::vector<std::string>& keys) const;
  // Gives window the focus and types text.
  bool Type(const std::string& window, const std::string& text) const;
  // Double-clicks button (3: the right one) at (x, y) of window.
  bool DoubleClick(const std::string& window, int x, int y, int button) const;
  // What window shows now.
  bool Capture(const std::string& window, Screenshot* shot) const;

 private:
  std::string display_;
};

}  // namespace hhsync::test
