#pragma once
// Opening pages in the user's browser: first through the shell's opener and,
// when that fails, by starting the program registered for ".htm" files.

#include <string>

namespace hhsync {

class Registry;
class Shell;

// Whether the shell's opener or, when that failed, the registered browser
// started.
bool OpenInBrowser(Shell& shell, Registry& registry, const std::string& url, int showCommand);

// The command line that starts the registered browser for url: the
// registered command cut at its "%1" placeholder (at the opening quote when
// it is quoted), then a blank and the URL as one argument (quoted when it
// holds blanks or quotes).
std::string BrowserCommandLine(const std::string& registered, const std::string& url);

}  // namespace hhsync
