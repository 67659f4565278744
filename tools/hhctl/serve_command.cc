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

// The arguments of serve.
struct ServeArgs {
  std::string root;
  unsigned port = 0;
  std::string portFile;
  std::string logPath;
};

int Serve(const ServeArgs& a) {
  struct stat st;
  if (::stat(a.root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    throw Failure("no directory " + a.root);
  }
  // The signals are taken by a thread of their own; every other thread,
  // the server's included, inherits them blocked.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  ReferenceServer::Options options;
  options.root = a.root;
  options.logPath = a.logPath;
  ReferenceServer server(options);
  std::string error;
  if (!server.Bind(static_cast<uint16_t>(a.port), &error)) throw Failure(error);
  if (!a.portFile.empty()) WritePortFile(a.portFile, server.port());
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

constexpr char kUsage[] = "serve --root DIR [--port N] [--port-file F] [--log F]";

int Run(const Args& args) {
  CommandLine cli("serve",
                  "Run the reference content server on 127.0.0.1 until SIGTERM or SIGINT; it "
                  "prints its URL on standard error when it is ready.",
                  kUsage);
  ServeArgs a;
  CLI::App& app = cli.app();
  app.add_option("--root", a.root, "The directory the answers come from")
      ->type_name("DIR")
      ->required();
  app.add_option("--port", a.port, "The port; 0 (the default) picks a free one")
      ->type_name("N")
      ->check(UnsignedIn(0, 65535));
  app.add_option("--port-file", a.portFile, "A file that receives the port once it is bound")
      ->type_name("F");
  app.add_option("--log", a.logPath, "A file that receives each request as one JSON line")
      ->type_name("F");
  if (!cli.Parse(args)) return 0;
  return Serve(a);
}

const CommandRegistration kRegistration("serve", kUsage, Run);

}  // namespace
}  // namespace hhctl
