// hhsync_probe.exe: a program the Windows tests start, directly or through
// the shell, in place of a browser or an installer. It waits a second (so
// that a caller that does not wait for it can be told from one that does),
// then appends one line with its arguments to the file HHSYNC_PROBE_LOG
// names.

#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  Sleep(1000);
  const char* log = std::getenv("HHSYNC_PROBE_LOG");
  std::FILE* f = log && *log ? std::fopen(log, "ab") : nullptr;
  if (!f) return 1;
  std::fprintf(f, "[probe]");
  for (int i = 1; i < argc; ++i) std::fprintf(f, " %s", argv[i]);
  std::fprintf(f, "\n");
  return std::fclose(f) == 0 ? 0 : 1;
}
