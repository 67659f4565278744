// The WinINet adapter against a server on loopback, and a proxy's refusal
// answered with the internet client's own dialog.

#include "platform/win32/wininet_http.h"

#include <winsock2.h>
//
#include <gtest/gtest.h>
#include <windows.h>

#include <mutex>
#include <thread>

#include "platform/win32/win32_ui.h"

namespace hhsync {
namespace {

// An HTTP server on 127.0.0.1: every connection gets one canned reply, sent
// in pieces of `piece` bytes with a pause between when piece is not 0, and
// every request is kept as it arrived (head and body).
class LoopbackServer {
 public:
  explicit LoopbackServer(std::string reply, std::size_t piece = 0)
      : reply_(std::move(reply)), piece_(piece ? piece : reply_.size()) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 8);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      for (SOCKET c; (c = accept(listener_, nullptr, nullptr)) != INVALID_SOCKET;) Answer(c);
    });
  }
  ~LoopbackServer() {
    closesocket(listener_);
    thread_.join();
    WSACleanup();
  }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
  }
  uint16_t port = 0;

 private:
  void Answer(SOCKET connection) {
    std::string request;
    char buffer[4096];
    for (int n; (n = recv(connection, buffer, sizeof buffer, 0)) > 0;) {
      request.append(buffer, static_cast<std::size_t>(n));
      const std::size_t head = request.find("\r\n\r\n");
      const std::size_t length = request.find("Content-Length: ");
      if (head != std::string::npos &&
          request.size() >= head + 4 + (length < head ? std::atoi(&request[length + 16]) : 0)) {
        break;
      }
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      requests_.push_back(request);
    }
    for (std::size_t sent = 0; sent < reply_.size(); sent += piece_) {
      send(connection, reply_.data() + sent,
           static_cast<int>(std::min(piece_, reply_.size() - sent)), 0);
      if (piece_ < reply_.size()) Sleep(20);
    }
    shutdown(connection, SD_SEND);
    while (recv(connection, buffer, sizeof buffer, 0) > 0) {
    }  // the client has read everything
    closesocket(connection);
  }

  const std::string reply_;
  const std::size_t piece_;
  SOCKET listener_;
  std::mutex mu_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

std::string Reply(int status, const std::string& body, const std::string& headers = "") {
  return "HTTP/1.0 " + std::to_string(status) + " X\r\n" + headers +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

class WinInetHttpTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(http_.Initialise()); }
  // An HTTP/1.0 request through a session of its own, kept for the test.
  std::unique_ptr<HttpRequest> Open(const std::string& verb, const std::string& host, uint16_t port,
                                    const std::string& object,
                                    const HttpSessionOptions& options = {}) {
    sessions_.push_back(http_.OpenSession(options));
    return sessions_.back()->OpenRequest(verb, host, port, object, "HTTP/1.0");
  }
  static HttpSessionOptions ViaProxy(uint16_t port) {
    HttpSessionOptions options;
    options.viaProxy = true;
    options.proxy = "127.0.0.1:" + std::to_string(port);
    return options;
  }

  WinInetHttp http_;
  std::vector<std::unique_ptr<HttpSession>> sessions_;
  HttpError error_;
};

TEST_F(WinInetHttpTest, RequestsGoOutAsGivenAndStatusAndBodyComeBack) {
  LoopbackServer server(Reply(404, "not here"));
  auto get = Open("GET", "127.0.0.1", server.port, "/zavrik/update/profile?u=1&v=2");
  get->AddHeaders("Accept: */*\r\nUser-Agent: Tessary Conduit\r\n");
  ASSERT_TRUE(get->Send("", &error_)) << error_.code << " " << error_.message;
  EXPECT_EQ(get->StatusCode(), 404);
  char buffer[64] = {};
  EXPECT_EQ(get->Read(buffer, sizeof buffer, &error_), 8);
  EXPECT_EQ(std::string(buffer), "not here");
  EXPECT_EQ(get->Read(buffer, sizeof buffer, &error_), 0);
  get.reset();  // the server answers one connection at a time

  auto post = Open("POST", "127.0.0.1", server.port, "/z/update/keep?");
  post->AddHeaders("Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 9\r\n");
  ASSERT_TRUE(post->Send("k=1&m=two", &error_)) << error_.code << " " << error_.message;
  EXPECT_EQ(post->StatusCode(), 404);

  const std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].rfind("GET /zavrik/update/profile?u=1&v=2 HTTP/1.0\r\n", 0), 0u);
  EXPECT_NE(requests[0].find("\r\nUser-Agent: Tessary Conduit\r\n"), std::string::npos);
  EXPECT_NE(requests[0].find("\r\nAccept: */*\r\n"), std::string::npos);
  EXPECT_EQ(requests[1].rfind("POST /z/update/keep? HTTP/1.0\r\n", 0), 0u) << requests[1];
  EXPECT_EQ(requests[1].substr(requests[1].size() - 9), "k=1&m=two");
}

TEST_F(WinInetHttpTest, ReadsFillTheCallersSizeHoweverTheBodyArrives) {
  std::string body;
  for (int i = 0; i < 3000; ++i) body += static_cast<char>('a' + i % 26);
  LoopbackServer server(Reply(200, body), 97);
  auto request = Open("GET", "127.0.0.1", server.port, "/f");
  ASSERT_TRUE(request->Send("", &error_));
  std::string got;
  char buffer[1024];
  std::vector<long long> sizes;
  for (long long n = -1; n != 0;) {
    n = request->Read(buffer, sizeof buffer, &error_);
    ASSERT_GE(n, 0);
    sizes.push_back(n);
    got.append(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(got, body);
  EXPECT_EQ(sizes, (std::vector<long long>{1024, 1024, 952, 0}));
}

TEST_F(WinInetHttpTest, FailuresAreErrorsWithTheClientsCodeAndText) {
  uint16_t closedPort;
  {
    LoopbackServer server(Reply(200, ""));
    closedPort = server.port;
  }
  HttpSessionOptions options;
  options.connectTimeoutMs = 2000;
  options.connectRetries = 2;
  // A refused connection, and a request whose connection cannot be had (no
  // server name): both fail as transfers, never as a null request.
  for (const auto& [host, code] : {std::pair<std::string, int>{"127.0.0.1", 12029}, {"", 0}}) {
    auto request = Open("GET", host, closedPort, "/", options);
    ASSERT_TRUE(request);
    request->AddHeaders("Accept: */*\r\n");
    EXPECT_FALSE(request->Send("", &error_)) << host;
    EXPECT_EQ(error_.code == http_error::kCannotConnect, code != 0) << error_.code;
    EXPECT_NE(error_.code, 0);
    EXPECT_FALSE(error_.message.empty()) << host;
    char buffer[8];
    if (!code) {
      EXPECT_EQ(request->Read(buffer, sizeof buffer, &error_), -1);
    }
  }
}

TEST_F(WinInetHttpTest, AProxyIsAskedForTheWholeUrlAndItsRefusalGetsTheClientsDialog) {
  LoopbackServer proxy(Reply(407, "", "Proxy-Authenticate: Basic realm=\"acme\"\r\n"));
  auto request =
      Open("GET", "content.invalid", 8080, "/z/update/profile?x=1", ViaProxy(proxy.port));
  ASSERT_TRUE(request->Send("", &error_)) << error_.code << " " << error_.message;
  ASSERT_EQ(request->StatusCode(), 407);
  EXPECT_EQ(proxy.Requests().at(0).rfind(
                "GET http://content.invalid:8080/z/update/profile?x=1 HTTP/1.0\r\n", 0),
            0u);
  ASSERT_NE(ProxyRefusedRequest(), nullptr);

  // A person types into the first two edit fields of the dialog and presses OK.
  std::thread user([] {
    for (int i = 0; i < 100; ++i, Sleep(50)) {
      HWND dialog = FindWindowA("#32770", nullptr);
      if (!dialog || !IsWindowVisible(dialog)) continue;
      HWND name = FindWindowExA(dialog, nullptr, "Edit", nullptr);
      SetWindowTextA(name, "alice");
      SetWindowTextA(FindWindowExA(dialog, name, "Edit", nullptr), "s3cret");
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      return;
    }
  });
  std::string name, password;
  EXPECT_EQ(Win32Ui("hhsync").AskProxyCredentials(&name, &password), kErrorInternetForceRetry);
  user.join();
  EXPECT_EQ(name + ":" + password, "alice:s3cret");
  request.reset();
  EXPECT_EQ(ProxyRefusedRequest(), nullptr);
}

}  // namespace
}  // namespace hhsync
