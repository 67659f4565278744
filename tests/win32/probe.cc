// hhsync_probe.exe: a program the Windows tests start through the shell.
// It waits a little (so that a caller that does not wait for it can be told
// from one that does), then writes the arguments it was given, one per line,
// into the file named by its first argument with ".seen" added. With
// HHSYNC_PROBE_LOG set it appends one line with its name and arguments to
// that file instead: the stand-in for a browser or an installer.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  Sleep(1000);
  if (const char* log = std::getenv("HHSYNC_PROBE_LOG"); log && *log) {
    std::FILE* f = std::fopen(log, "ab");
    if (!f) return 1;
    std::fprintf(f, "[probe]");
    for (int i = 1; i < argc; ++i) std::fprintf(f, " %s", argv[i]);
    std::fprintf(f, "\n");
    std::fclose(f);
    return 0;
  }
  const std::string out = std::string(argv[1]) + ".seen";
  std::FILE* f = std::fopen(out.c_str(), "wb");
  if (!f) return 1;
  for (int i = 1; i < argc; ++i) std::fprintf(f, "%s\n", argv[i]);
  std::fclose(f);
  return 0;
}
