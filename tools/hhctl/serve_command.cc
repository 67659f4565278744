// hhctl serve: runs the reference content server until SIGTERM or SIGINT.
//   hhctl serve --root DIR [--port N] [--port-file F] [--log F]

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <thread>

#include "command.h"
#include "reference_server.h"

namespace hhctl {
namespace {

// Writes the port so that a reader sees either no file or the whole number.
void WritePortFile(const std::string& path, uint16_t port) {
  std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << port << "\n";
    if (!out.flush()) throw Failure("cannot write " + temp);
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) throw Failure("cannot write " + path);
}

int Run(const Args& args) {
  ArgReader r(args);
  std::string root, portText = "0", portFile, logPath;
  while (!r.Done()) {
    if (r.Option("--root", &root) || r.Option("--port", &portText) ||
        r.Option("--port-file", &portFile) || r.Option("--log", &logPath)) {
      continue;
    }
    throw UsageError("unexpected argument '" + r.Peek() + "'");
  }
  if (root.empty()) throw UsageError("serve needs --root DIR");
  unsigned long port = ParseUnsigned(portText, "port");
  if (port > 65535) throw UsageError("bad port '" + portText + "'");
  struct stat st;
  if (::stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) throw Failure("no directory " + root);

  // The signals are taken by a thread of their own; every other thread,
  // the server's included, inherits them blocked.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  ReferenceServer::Options options;
  options.root = root;
  options.logPath = logPath;
  ReferenceServer server(options);
  std::string error;
  if (!server.Bind(static_cast<uint16_t>(port), &error)) throw Failure(error);
  if (!portFile.empty()) WritePortFile(portFile, server.port());
  std::cerr << "hhctl serve: listening on http://127.0.0.1:" << server.port() << "/\n";

  std::thread waiter([&server, stopSignals] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    // A stop holds even when it comes before Run.
    server.Stop();
  });
  bool ok = server.Run();
  if (!ok) {
    // The server ended on its own: wake the waiter so it can be joined.
    kill(getpid(), SIGTERM);
  }
  waiter.join();
  return ok ? 0 : 1;
}

const CommandRegistration kRegistration("serve",
                                        "serve --root DIR [--port N] [--port-file F] [--log F]",
                                        Run);

}  // namespace
}  // namespace hhctl
