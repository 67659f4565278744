// hhsync_rapi_bridge: answers the remote device calls of the test rapi.dll
// from an emulated handheld image. Listens on 127.0.0.1 (a free port, written
// to --port-file once it listens); every connection is one Windows process
// with a handheld of its own over the same image, as with the Linux
// program. Runs until it is terminated.
//
//   hhsync_rapi_bridge --image PATH --port-file FILE

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "emulator/emulated_handheld.h"
#include "platform/linux/system_clock.h"
#include "rapi_wire.h"

namespace {

// Answers one process's calls until it disconnects or sends a request that
// makes no sense.
void Serve(int fd, std::string image) {
  hhsync::SystemClock clock;
  hhsync::EmulatedHandheld handheld(image, clock);
  auto receive = [fd](uint8_t* p, std::size_t n) { return ::read(fd, p, n); };
  auto send = [fd](const uint8_t* p, std::size_t n) { return ::write(fd, p, n); };
  hhsync::rapi_wire::Message request;
  while (hhsync::rapi_wire::ReceiveFrame(receive, &request)) {
    const hhsync::rapi_wire::Message reply = hhsync::rapi_wire::AnswerRapiCall(handheld, request);
    if (reply.empty() || !hhsync::rapi_wire::SendFrame(send, reply)) break;
  }
  ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  std::string image, portFile;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--image") == 0) image = argv[i + 1];
    if (std::strcmp(argv[i], "--port-file") == 0) portFile = argv[i + 1];
  }
  if (image.empty() || portFile.empty()) {
    std::fprintf(stderr, "usage: hhsync_rapi_bridge --image PATH --port-file FILE\n");
    return 2;
  }
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (listener < 0 ||
      ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 8) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    std::perror("hhsync_rapi_bridge: listen");
    return 1;
  }
  // Written whole under another name first, so a reader never sees half.
  const std::string temp = portFile + ".tmp";
  std::FILE* f = std::fopen(temp.c_str(), "w");
  if (!f) return 1;
  std::fprintf(f, "%u\n", ntohs(address.sin_port));
  std::fclose(f);
  std::rename(temp.c_str(), portFile.c_str());
  for (;;) {
    const int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0) continue;
    std::thread(Serve, fd, image).detach();
  }
}
