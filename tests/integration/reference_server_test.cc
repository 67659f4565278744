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

struct RawReply {
  int status = 0;       // 0 without a status line
  std::string headers;  // the header block as sent
  std::string body;     // everything after the header block until the close
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
  if (all.rfind("HTTP/1.", 0) != 0 || end == std::string::npos) return reply;
  reply.status = std::stoi(all.substr(9, 3));
  reply.headers = all.substr(0, end + 2);
  reply.body = all.substr(end + 4);
  return reply;
}

class ReferenceServerTest : public ::testing::Test {
 protected:
  void Start() {
    std::string error;
    ASSERT_TRUE(server_.Start(&error)) << error;
  }
  RawReply Get(const std::string& target) {
    return Exchange(server_.port(), "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  }
  RawReply Post(const std::string& target, const std::string& body) {
    return Exchange(server_.port(), "POST " + target +
                                        " HTTP/1.0\r\nContent-Type: "
                                        "application/x-www-form-urlencoded\r\nContent-Length: " +
                                        std::to_string(body.size()) + "\r\n\r\n" + body);
  }

  test::ReferenceServerProcess server_;
};

TEST_F(ReferenceServerTest, AnswersEachRouteFromItsFile) {
  server_.WriteFile("profile.txt", "profile\n");
  server_.WriteFile("resources.txt", "resource list\n");
  server_.WriteFile("resources/pic1", std::string("bin\0ary", 7));
  server_.WriteFile("data/42/7.edm", "edm 42 7");
  Start();

  RawReply r = Get("/zavrik/update/profile?uid=1&v=2");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "profile\n");
  EXPECT_NE(r.headers.find("Content-Length: 8\r\n"), std::string::npos) << r.headers;
  // An old client's request without Host is answered too.
  EXPECT_EQ(Exchange(server_.port(), "GET /other/update/profile HTTP/1.0\r\n\r\n").body,
            "profile\n");
  EXPECT_EQ(Get("/zavrik/update/resource?uid=1").body, "resource list\n");
  EXPECT_EQ(Get("/zavrik/update/resource?uid=1&rid=pic1").body, std::string("bin\0ary", 7));
  EXPECT_EQ(Get("/zavrik/update/data/42/7.edm").body, "edm 42 7");

  for (const char* missing :
       {"/zavrik/update/data/42/8.edm", "/zavrik/update/data/42/7.txt",
        "/zavrik/update/resource?rid=nothing", "/zavrik/update/resource?rid=..",
        "/zavrik/update/resource?rid=../profile.txt", "/zavrik/update/elsewhere?",
        "/zavrik/update/profile.txt", "/zavrik/update/keep?"}) {
    EXPECT_EQ(Get(missing).status, 404) << missing;
  }
  EXPECT_EQ(Post("/zavrik/update/profile?", "x").status, 404);

  // Keep posts are appended, each with a line feed, and answered.
  r = Post("/zavrik/update/keep?", "uid=1&keep=a");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "OK\n");
  server_.WriteFile("keep-reply.txt", "thanks\n");
  EXPECT_EQ(Post("/zavrik/update/keep?", "uid=1&keep=b").body, "thanks\n");
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

  RawReply r = Get("/zavrik/update/profile?");
  EXPECT_EQ(r.status, 503);
  EXPECT_EQ(r.body, "busy\n");

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Get("/zavrik/update/resource?").body, "slow\n");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));

  r = Get("/zavrik/update/data/1/2.edm");
  EXPECT_EQ(r.status, 200);
  EXPECT_NE(r.headers.find("Content-Length: 5000\r\n"), std::string::npos) << r.headers;
  EXPECT_EQ(r.body, std::string(1234, 'x'));

  r = Post("/zavrik/update/keep?", "k");
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(r.body, "OK\n");
}

TEST_F(ReferenceServerTest, LogsEveryRequestAsOneJsonLine) {
  server_.WriteFile("profile.txt", "p");
  Start();
  Exchange(server_.port(),
           "GET /zavrik/update/profile?uid=7&x=%20y HTTP/1.0\r\nHost: here\r\n"
           "User-Agent: Tessary Conduit\r\nAccept: */*\r\n\r\n");
  Post("/zavrik/update/keep?", "uid=7&k=1");
  Get("/nowhere");

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
  EXPECT_EQ(log[1]["query"], "");
  EXPECT_EQ(log[1]["body"], "uid=7&k=1");
  EXPECT_EQ(log[2]["path"], "/nowhere");
}

}  // namespace
}  // namespace hhsync
