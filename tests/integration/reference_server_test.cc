// The reference content server (`hhctl serve`), spoken to over plain
// sockets so that what goes over the wire is exactly what the test wrote.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "support/reference_server_fixture.h"

namespace hhsync {
namespace {

using test::ReferenceServerProcess;

struct RawReply {
  bool ok = false;  // connected and got a status line
  int status = 0;
  std::string headers;  // the header block, lower-cased names as sent
  std::string body;     // everything after the header block until the close
  long long contentLength = -1;
};

// Sends request as it is and reads until the server closes the connection.
RawReply Exchange(uint16_t port, const std::string& request) {
  RawReply reply;
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval timeout{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return reply;
  }
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string all;
  char buf[4096];
  for (;;) {
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    all.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  std::size_t end = all.find("\r\n\r\n");
  if (all.rfind("HTTP/1.", 0) != 0 || end == std::string::npos) return reply;
  reply.ok = true;
  reply.status = std::stoi(all.substr(9, 3));
  reply.headers = all.substr(0, end + 2);
  reply.body = all.substr(end + 4);
  std::size_t cl = reply.headers.find("Content-Length: ");
  if (cl != std::string::npos) reply.contentLength = std::stoll(reply.headers.substr(cl + 16));
  return reply;
}

RawReply Get(uint16_t port, const std::string& target) {
  return Exchange(port, "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
}

RawReply Post(uint16_t port, const std::string& target, const std::string& body) {
  return Exchange(port, "POST " + target +
                            " HTTP/1.0\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                            "Content-Length: " +
                            std::to_string(body.size()) + "\r\n\r\n" + body);
}

class ReferenceServerTest : public ::testing::Test {
 protected:
  void Start() {
    std::string error;
    ASSERT_TRUE(server_.Start(&error)) << error;
  }
  ReferenceServerProcess server_;
};

TEST_F(ReferenceServerTest, AnswersEachRouteFromItsFile) {
  server_.WriteFile("profile.txt", "profile\n");
  server_.WriteFile("resources.txt", "resource list\n");
  server_.WriteFile("resources/pic1", std::string("bin\0ary", 7));
  server_.WriteFile("data/42/7.edm", "edm 42 7");
  Start();
  uint16_t port = server_.port();

  RawReply r = Get(port, "/zavrik/update/profile?uid=1&v=2");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "profile\n");
  EXPECT_EQ(r.contentLength, 8);
  EXPECT_EQ(Get(port, "/other/prefix/update/profile").body, "profile\n");
  EXPECT_EQ(Get(port, "/zavrik/update/resource?uid=1").body, "resource list\n");
  r = Get(port, "/zavrik/update/resource?uid=1&rid=pic1");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, std::string("bin\0ary", 7));
  EXPECT_NE(r.headers.find("application/octet-stream"), std::string::npos);
  EXPECT_EQ(Get(port, "/zavrik/update/data/42/7.edm").body, "edm 42 7");

  EXPECT_EQ(Get(port, "/zavrik/update/data/42/8.edm").status, 404);  // missing file
  EXPECT_EQ(Get(port, "/zavrik/update/data/42/7.txt").status, 404);  // not an .edm
  EXPECT_EQ(Get(port, "/zavrik/update/resource?rid=nothing").status, 404);
  EXPECT_EQ(Get(port, "/zavrik/update/resource?rid=..").status, 404);
  EXPECT_EQ(Get(port, "/zavrik/update/resource?rid=../profile.txt").status, 404);
  EXPECT_EQ(Get(port, "/zavrik/update/elsewhere?").status, 404);
  EXPECT_EQ(Get(port, "/zavrik/update/profile.txt").status, 404);
  EXPECT_EQ(Get(port, "/zavrik/update/keep?").status, 404);           // keep is POST only
  EXPECT_EQ(Post(port, "/zavrik/update/profile?", "x").status, 404);  // profile is GET only
}

TEST_F(ReferenceServerTest, KeepPostsAreAppendedAndAnswered) {
  Start();
  uint16_t port = server_.port();
  RawReply r = Post(port, "/zavrik/update/keep?", "uid=1&keep=a");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "OK\n");
  EXPECT_EQ(server_.ReadFile("keep-received.txt"), "uid=1&keep=a\n");

  server_.WriteFile("keep-reply.txt", "thanks\n");
  r = Post(port, "/zavrik/update/keep?", "uid=1&keep=b");
  EXPECT_EQ(r.body, "thanks\n");
  EXPECT_EQ(server_.ReadFile("keep-received.txt"), "uid=1&keep=a\nuid=1&keep=b\n");
}

TEST_F(ReferenceServerTest, CompanionFilesSetStatusDelayAndCut) {
  server_.WriteFile("profile.txt", "busy\n");
  server_.WriteFile("profile.txt.status", "503\n");
  server_.WriteFile("resources.txt", "slow\n");
  server_.WriteFile("resources.txt.delay", "400");
  server_.WriteFile("data/1/2.edm", std::string(5000, 'x'));
  server_.WriteFile("data/1/2.edm.cut", "1234");
  server_.WriteFile("keep-reply.txt.status", "500");
  Start();
  uint16_t port = server_.port();

  RawReply r = Get(port, "/zavrik/update/profile?");
  EXPECT_EQ(r.status, 503);
  EXPECT_EQ(r.body, "busy\n");

  auto start = std::chrono::steady_clock::now();
  r = Get(port, "/zavrik/update/resource?");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
  EXPECT_EQ(r.body, "slow\n");

  r = Get(port, "/zavrik/update/data/1/2.edm");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.contentLength, 5000);
  EXPECT_EQ(r.body, std::string(1234, 'x'));

  r = Post(port, "/zavrik/update/keep?", "k");
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(r.body, "OK\n");
}

TEST_F(ReferenceServerTest, AnswersHttp10RequestsWithoutHost) {
  server_.WriteFile("profile.txt", "old client\n");
  Start();
  RawReply r = Exchange(server_.port(), "GET /zavrik/update/profile?a=b HTTP/1.0\r\n\r\n");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "old client\n");
}

TEST_F(ReferenceServerTest, LogsEveryRequestAsOneJsonLine) {
  server_.WriteFile("profile.txt", "p");
  Start();
  uint16_t port = server_.port();
  Exchange(port,
           "GET /zavrik/update/profile?uid=7&x=%20y HTTP/1.0\r\nHost: here\r\n"
           "User-Agent: Tessary Conduit\r\nAccept: */*\r\n\r\n");
  Post(port, "/zavrik/update/keep?", "uid=7&k=1");
  Get(port, "/nowhere");

  auto log = server_.RequestLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0]["method"], "GET");
  EXPECT_EQ(log[0]["path"], "/zavrik/update/profile");
  EXPECT_EQ(log[0]["query"], "uid=7&x=%20y");
  EXPECT_EQ(log[0]["version"], "HTTP/1.0");
  EXPECT_EQ(log[0]["body"], "");
  EXPECT_EQ(
      log[0]["headers"],
      (nlohmann::json{{"Host", "here"}, {"User-Agent", "Tessary Conduit"}, {"Accept", "*/*"}}));
  EXPECT_EQ(log[1]["method"], "POST");
  EXPECT_EQ(log[1]["path"], "/zavrik/update/keep");
  EXPECT_EQ(log[1]["query"], "");
  EXPECT_EQ(log[1]["body"], "uid=7&k=1");
  EXPECT_EQ(log[1]["headers"]["Content-Length"], "9");
  EXPECT_EQ(log[2]["path"], "/nowhere");
}

TEST_F(ReferenceServerTest, StopsOnRequestAndFreesItsPort) {
  server_.WriteFile("profile.txt", "p");
  Start();
  uint16_t port = server_.port();
  EXPECT_EQ(Get(port, "/zavrik/update/profile?").status, 200);
  server_.Stop();
  EXPECT_FALSE(server_.running());
  EXPECT_FALSE(Get(port, "/zavrik/update/profile?").ok);
}

}  // namespace
}  // namespace hhsync
