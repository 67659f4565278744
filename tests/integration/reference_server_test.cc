// The reference content server (`hhctl serve`), spoken to over a plain
// socket so that what goes over the wire is exactly what the test wrote: the
// routes and the request log as the documented contract has them. Its
// statuses, cuts and delays are relied on (and so checked) by the tests that
// talk to it through the program. How it copes with clients that misbehave
// (oversized or broken heads, silent or stalled clients, chunked bodies) is
// not tested: only the program, which sends none of that, talks to it.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

#include "support/processes.h"

namespace hhsync {
namespace {

struct Answer {
  int status = 0;  // 0 when no HTTP answer came
  std::string body;
  bool operator==(const Answer&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Answer& a) {
  return out << a.status << " \"" << a.body << "\"";
}

// Sends request as it is to 127.0.0.1:port and reads the answer until the
// server closes the connection.
Answer Exchange(uint16_t port, const std::string& request) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
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
    for (ssize_t r; (r = ::recv(fd, buf, sizeof buf, 0)) > 0;) all.append(buf, r);
  }
  ::close(fd);
  const std::size_t end = all.find("\r\n\r\n");
  if (all.rfind("HTTP/1.", 0) != 0 || end == std::string::npos) return {};
  return {std::stoi(all.substr(9, 3)), all.substr(end + 4)};
}

// How bytes that are not UTF-8 show in the request log: each one replaced.
std::string Logged(std::string text) {
  for (std::size_t at = 0; (at = text.find('\xE9', at)) != std::string::npos; at += 3) {
    text.replace(at, 1, "\xEF\xBF\xBD");
  }
  return text;
}

class ReferenceServerTest : public ::testing::Test {
 protected:
  Answer Exchange(const std::string& request) { return hhsync::Exchange(server_.port(), request); }
  int Status(const std::string& verb, const std::string& target) {
    return Exchange(verb + " " + target + " HTTP/1.0\r\nContent-Length: 1\r\n\r\nx").status;
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
  EXPECT_EQ(Exchange("GET /other/update/profile HTTP/1.0\r\n\r\n"), (Answer{200, "profile\n"}));
  for (const char* missing :
       {"/zavrik/update/data/42/8.edm", "/zavrik/update/data/42/7.txt",
        "/zavrik/update/resource?rid=nothing", "/zavrik/update/resource?rid=..",
        "/zavrik/update/resource?rid=../profile.txt", "/zavrik/update/elsewhere?",
        "/zavrik/update/profile.txt", "/zavrik/update/keep?", "/zavrik/update/data/42"}) {
    EXPECT_EQ(Status("GET", missing), 404) << missing;
  }
  EXPECT_EQ(Status("POST", "/zavrik/update/profile?"), 404);
  EXPECT_EQ(Status("POST", "/zavrik/update/keep?"), 200);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Exchange("GET /zavrik/update/resource? HTTP/1.0\r\n\r\n").body, "slow\n");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
}

TEST_F(ReferenceServerTest, TheTargetIsTakenAsSentBlanksTabsHashesAnd8BitBytesIncluded) {
  const std::string id = "a b\tc&d#e\xE9";
  server_.WriteFile("data/" + id + "/1 2.edm", "edm bytes");
  const std::string rid = "r 1\t#\xE9";
  server_.WriteFile("resources/" + rid, "resource bytes");
  ASSERT_TRUE(server_.Start());

  const std::string dataPath = "/zavrik/update/data/" + id + "/1 2.edm";
  const std::string dataHead = "GET " + dataPath + " HTTP/1.0\r\nHost: h\r\n\r\n";
  EXPECT_EQ(Exchange(dataHead), (Answer{200, "edm bytes"}));
  const std::string query = "p=acme corp&sd6=x\ty#z\xE9&rid=" + rid;
  const std::string resourceHead = "GET /zavrik/update/resource?" + query +
                                   " HTTP/1.1\r\nHost: h\r\nX-Name:  a b\t\r\nx-name: c\r\n\r\n";
  EXPECT_EQ(Exchange(resourceHead), (Answer{200, "resource bytes"}));

  auto log = server_.RequestLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0]["method"], "GET");
  EXPECT_EQ(log[0]["path"], Logged(dataPath));
  EXPECT_EQ(log[0]["query"], "");
  EXPECT_EQ(log[0]["version"], "HTTP/1.0");
  EXPECT_EQ(log[0]["head"], Logged(dataHead));
  EXPECT_EQ(log[1]["path"], "/zavrik/update/resource");
  EXPECT_EQ(log[1]["query"], Logged(query));
  EXPECT_EQ(log[1]["version"], "HTTP/1.1");
  EXPECT_EQ(log[1]["head"], Logged(resourceHead));
  // A repeated header is one value under the name first sent.
  EXPECT_EQ(log[1]["headers"], (nlohmann::json{{"Host", "h"}, {"X-Name", "a b, c"}}));
  EXPECT_EQ(log[1]["body"], "");
}

TEST_F(ReferenceServerTest, AnAbsoluteFormTargetIsRoutedByItsPath) {
  server_.WriteFile("profile.txt", "profile\n");
  server_.WriteFile("resources/7", "seven");
  ASSERT_TRUE(server_.Start());
  const std::string url = server_.Url("/zavrik/update/profile");

  EXPECT_EQ(Exchange("GET " + url +
                     "?p=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                     "Proxy-Connection: Keep-Alive\r\n\r\n"),
            (Answer{200, "profile\n"}));
  EXPECT_EQ(Exchange("GET HTTP://example.test/z/update/resource?p=1&rid=7 HTTP/1.0\r\n\r\n"),
            (Answer{200, "seven"}));
  EXPECT_EQ(Status("GET", "http://example.test"), 404);
  EXPECT_EQ(Status("GET", "update/profile"), 404) << "a relative target is no route";

  auto log = server_.RequestLog();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0]["path"], url) << "logged as sent";
  EXPECT_EQ(log[0]["query"], "p=1");
  EXPECT_EQ(log[0]["headers"]["Proxy-Connection"], "Keep-Alive");
}

}  // namespace
}  // namespace hhsync
