#include "platform/win32/wininet_http.h"

#include <gtest/gtest.h>

#include "loopback_server.h"

namespace hhsync {
namespace {

using win32_test::LoopbackServer;

std::string Reply(int status, const std::string& body) {
  return "HTTP/1.0 " + std::to_string(status) + " X\r\nContent-Type: text/plain\r\n" +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

class WinInetHttpTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(http_.Initialise()); }
  // An HTTP/1.0 request through a session of its own, kept for the test.
  std::unique_ptr<HttpRequest> Open(const std::string& verb, uint16_t port,
                                    const std::string& object,
                                    const HttpSessionOptions& options = {},
                                    const std::string& host = "127.0.0.1") {
    sessions_.push_back(http_.OpenSession(options));
    return sessions_.back()->OpenRequest(verb, host, port, object, "HTTP/1.0");
  }

  WinInetHttp http_;
  std::vector<std::unique_ptr<HttpSession>> sessions_;
};

TEST_F(WinInetHttpTest, GetSendsAnHttp10RequestWithTheCallersHeaders) {
  LoopbackServer server(Reply(200, "profile body"));
  auto request = Open("GET", server.port(), "/zavrik/update/profile?u=1&v=2");
  request->AddHeaders("Accept: */*\r\nUser-Agent: Tessary Conduit\r\n");
  HttpError error;
  ASSERT_TRUE(request->Send("", &error)) << error.code << " " << error.message;
  EXPECT_EQ(request->StatusCode(), 200);
  char buffer[64] = {};
  EXPECT_EQ(request->Read(buffer, sizeof buffer, &error), 12);
  EXPECT_EQ(std::string(buffer), "profile body");
  EXPECT_EQ(request->Read(buffer, sizeof buffer, &error), 0);

  const std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].rfind("GET /zavrik/update/profile?u=1&v=2 HTTP/1.0\r\n", 0), 0u)
      << requests[0];
  EXPECT_NE(requests[0].find("\r\nUser-Agent: Tessary Conduit\r\n"), std::string::npos);
  EXPECT_NE(requests[0].find("\r\nAccept: */*\r\n"), std::string::npos);
}

TEST_F(WinInetHttpTest, AnOpenThatFailsIsATransferErrorNotANullRequest) {
  // No server name: the connection handle cannot be had.
  auto request = Open("GET", 80, "/", {}, "");
  ASSERT_TRUE(request);
  request->AddHeaders("Accept: */*\r\n");
  HttpError error;
  EXPECT_FALSE(request->Send("", &error));
  EXPECT_NE(error.code, 0);
  EXPECT_FALSE(error.message.empty());
  char buffer[8];
  EXPECT_EQ(request->Read(buffer, sizeof buffer, &error), -1);
}

TEST_F(WinInetHttpTest, ReadsFillTheCallersSizeHoweverTheBodyArrives) {
  std::string body;
  for (int i = 0; i < 3000; ++i) body += static_cast<char>('a' + i % 26);
  LoopbackServer server(Reply(200, body), 97);
  auto request = Open("GET", server.port(), "/f");
  HttpError error;
  ASSERT_TRUE(request->Send("", &error));
  std::string got;
  char buffer[1024];
  std::vector<long long> sizes;
  for (;;) {
    const long long n = request->Read(buffer, sizeof buffer, &error);
    ASSERT_GE(n, 0);
    sizes.push_back(n);
    if (n == 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(got, body);
  EXPECT_EQ(sizes, (std::vector<long long>{1024, 1024, 952, 0}));
}

TEST_F(WinInetHttpTest, PostSendsTheBodyAndStatusCodesComeBack) {
  LoopbackServer server(Reply(404, "nope"));
  auto request = Open("POST", server.port(), "/z/update/keep?");
  request->AddHeaders("Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 9\r\n");
  HttpError error;
  ASSERT_TRUE(request->Send("k=1&m=two", &error)) << error.code << " " << error.message;
  EXPECT_EQ(request->StatusCode(), 404);
  const std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].rfind("POST /z/update/keep? HTTP/1.0\r\n", 0), 0u) << requests[0];
  EXPECT_EQ(requests[0].substr(requests[0].size() - 9), "k=1&m=two");
}

TEST_F(WinInetHttpTest, ARefusedConnectionIsAnErrorWithTheClientsCode) {
  uint16_t closedPort;
  {
    LoopbackServer server(Reply(200, ""));
    closedPort = server.port();
  }
  HttpSessionOptions options;
  options.connectTimeoutMs = 2000;
  options.connectRetries = 2;
  auto request = Open("GET", closedPort, "/", options);
  HttpError error;
  EXPECT_FALSE(request->Send("", &error));
  EXPECT_EQ(error.code, http_error::kCannotConnect);
  EXPECT_FALSE(error.message.empty());
}

TEST_F(WinInetHttpTest, AProxySessionAsksTheProxyForTheWholeUrl) {
  LoopbackServer proxy(Reply(200, "via proxy"));
  HttpSessionOptions options;
  options.viaProxy = true;
  options.proxy = "127.0.0.1:" + std::to_string(proxy.port());
  options.agent = "Zavrik Session";
  auto request = Open("GET", 8080, "/z/update/profile?x=1", options, "content.invalid");
  HttpError error;
  ASSERT_TRUE(request->Send("", &error)) << error.code << " " << error.message;
  EXPECT_EQ(request->StatusCode(), 200);
  const std::vector<std::string> requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(
      requests[0].rfind("GET http://content.invalid:8080/z/update/profile?x=1 HTTP/1.0\r\n", 0), 0u)
      << requests[0];
}

}  // namespace
}  // namespace hhsync
