// The reference content server (`hhctl serve`), spoken to over plain sockets
// so that what goes over the wire is exactly what the test wrote. Its usual
// routes, statuses, cuts and request log are relied on (and so checked) by
// the tests that talk to it through the program; these are the rest.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "support/processes.h"

namespace hhsync {
namespace {

class ReferenceServerTest : public ::testing::Test {
 protected:
  // Sends request as it is and reads until the server closes the connection;
  // the status code and the body.
  std::pair<int, std::string> Exchange(const std::string& request) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(server_.port());
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string all;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
      char buf[4096];
      for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) {
        all.append(buf, static_cast<std::size_t>(n));
      }
    }
    ::close(fd);
    const std::size_t end = all.find("\r\n\r\n");
    if (all.rfind("HTTP/1.", 0) != 0 || end == std::string::npos) return {0, ""};
    return {std::stoi(all.substr(9, 3)), all.substr(end + 4)};
  }
  int Status(const std::string& verb, const std::string& target) {
    return Exchange(verb + " " + target + " HTTP/1.0\r\nContent-Length: 1\r\n\r\nx").first;
  }

  test::ReferenceServerProcess server_;
};

TEST_F(ReferenceServerTest, AnswersOnlyItsRoutesFromFilesUnderTheRoot) {
  server_.WriteFile("profile.txt", "profile\n");
  server_.WriteFile("data/42/7.edm", "edm 42 7");
  server_.WriteFile("resources.txt", "slow\n");
  server_.WriteFile("resources.txt.delay", "400");
  ASSERT_TRUE(server_.Start());

  // An old client's request without Host is answered too.
  EXPECT_EQ(Exchange("GET /other/update/profile HTTP/1.0\r\n\r\n"),
            (std::pair<int, std::string>{200, "profile\n"}));
  for (const char* missing :
       {"/zavrik/update/data/42/8.edm", "/zavrik/update/data/42/7.txt",
        "/zavrik/update/resource?rid=nothing", "/zavrik/update/resource?rid=..",
        "/zavrik/update/resource?rid=../profile.txt", "/zavrik/update/elsewhere?",
        "/zavrik/update/profile.txt", "/zavrik/update/keep?"}) {
    EXPECT_EQ(Status("GET", missing), 404) << missing;
  }
  EXPECT_EQ(Status("POST", "/zavrik/update/profile?"), 404);
  EXPECT_EQ(Status("POST", "/zavrik/update/keep?"), 200);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Exchange("GET /zavrik/update/resource? HTTP/1.0\r\n\r\n").second, "slow\n");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
}

}  // namespace
}  // namespace hhsync
