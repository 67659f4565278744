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

bool ReadAll(int fd, void* data, std::size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = ::read(fd, p, size);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Answers one process's calls until it disconnects.
void Serve(int fd, std::string image) {
  hhsync::SystemClock clock;
  hhsync::EmulatedHandheld handheld(image, clock);
  for (;;) {
    uint8_t length[4];
    if (!ReadAll(fd, length, 4)) break;
    const uint32_t n =
        length[0] | (length[1] << 8) | (length[2] << 16) | (static_cast<uint32_t>(length[3]) << 24);
    if (n > (64u << 20)) break;  // no call is this large
    hhsync::rapi_wire::Message request(n);
    if (!ReadAll(fd, request.data(), n)) break;
    const hhsync::rapi_wire::Message reply = hhsync::rapi_wire::AnswerRapiCall(handheld, request);
    if (reply.empty()) break;  // a request that makes no sense ends the connection
    for (int i = 0; i < 4; ++i) length[i] = static_cast<uint8_t>(reply.size() >> (8 * i));
    if (!WriteAll(fd, length, 4) || !WriteAll(fd, reply.data(), reply.size())) break;
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
