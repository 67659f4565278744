// The reference content server, spoken to over plain sockets so that what
// goes over the wire is exactly what the test wrote: as `hhctl serve`, and in
// process where a test needs small limits or to stop it. Its usual routes,
// statuses, cuts and request log are relied on (and so checked) by the tests
// that talk to it through the program; these are the rest.

#include "tools/hhctl/reference_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "support/processes.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Answer {
  int status = 0;  // 0 when no HTTP answer came
  std::string body;
  bool operator==(const Answer&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Answer& a) {
  return out << a.status << " \"" << a.body << "\"";
}

// A connection to 127.0.0.1:port over which the test writes raw bytes.
class RawClient {
 public:
  explicit RawClient(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    // Each Send goes out as a segment of its own.
    int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~RawClient() { ::close(fd_); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool connected() const { return connected_; }
  void Send(const std::string& bytes) { ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
  // Exactly n bytes, or fewer when the server closes first.
  std::string Read(std::size_t n) {
    std::string got;
    char buf[4096];
    while (got.size() < n) {
      ssize_t r = ::recv(fd_, buf, std::min(sizeof buf, n - got.size()), 0);
      if (r <= 0) break;
      got.append(buf, static_cast<std::size_t>(r));
    }
    return got;
  }
  // Everything until the server closes the connection (or 10 s pass).
  std::string ReadAll() { return Read(std::string::npos); }
  // The status and body of the answer that ends the connection.
  Answer ReadAnswer() {
    const std::string all = ReadAll();
    const std::size_t end = all.find("\r\n\r\n");
    if (all.rfind("HTTP/1.", 0) != 0 || end == std::string::npos) return {};
    return {std::stoi(all.substr(9, 3)), all.substr(end + 4)};
  }

 private:
  int fd_;
  bool connected_ = false;
};

// Sends request as it is and reads the answer.
Answer Exchange(uint16_t port, const std::string& request) {
  RawClient client(port);
  if (!client.connected()) return {};
  client.Send(request);
  return client.ReadAnswer();
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

  const auto start = Clock::now();
  EXPECT_EQ(Exchange("GET /zavrik/update/resource? HTTP/1.0\r\n\r\n").body, "slow\n");
  EXPECT_GE(Clock::now() - start, milliseconds(400));
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

TEST_F(ReferenceServerTest, PercentEscapesAreDecodedInThePathAndInQueryValues) {
  server_.WriteFile("profile.txt", "profile\n");
  server_.WriteFile("data/42/7.edm", "edm");
  server_.WriteFile("resources/a b&c", "amp");
  server_.WriteFile("resources/x%zz", "raw");
  ASSERT_TRUE(server_.Start());

  EXPECT_EQ(Exchange("GET /zavrik/update/data/%34%32/7%2eedm HTTP/1.0\r\n\r\n"),
            (Answer{200, "edm"}));
  EXPECT_EQ(Exchange("GET /zavrik/update/resource?p=1&rid=a+b%26c HTTP/1.0\r\n\r\n"),
            (Answer{200, "amp"}));
  EXPECT_EQ(Exchange("GET /zavrik/update/resource?rid=x%zz HTTP/1.0\r\n\r\n"),
            (Answer{200, "raw"}));
  // Names are checked once decoded.
  EXPECT_EQ(Status("GET", "/zavrik/update/resource?rid=%2E%2E%2Fprofile.txt"), 404);
  EXPECT_EQ(Status("GET", "/zavrik/update/data/%2e%2e/profile.txt%2Eedm"), 404);
  EXPECT_EQ(server_.RequestLog().at(0)["path"], "/zavrik/update/data/%34%32/7%2eedm");
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

TEST_F(ReferenceServerTest, ARequestSplitOverManyWritesIsReadWhole) {
  ASSERT_TRUE(server_.Start());
  const std::string head =
      "POST /zavrik/update/keep? HTTP/1.0\r\nContent-Type: text/plain\n"
      "Content-Length: 11\r\n\r\n";
  const std::string request = head + "hello world";
  RawClient client(server_.port());
  ASSERT_TRUE(client.connected());
  std::size_t sent = 0;
  for (std::size_t cut : std::vector<std::size_t>{2, 15, 34, 35, 70, head.size() - 1,
                                                  head.size() + 5, request.size()}) {
    client.Send(request.substr(sent, cut - sent));
    sent = cut;
    std::this_thread::sleep_for(milliseconds(20));
  }
  EXPECT_EQ(client.ReadAnswer(), (Answer{200, "OK\n"}));

  EXPECT_EQ(server_.ReadFile("keep-received.txt"), "hello world\n");
  auto log = server_.RequestLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0]["head"], head);
  EXPECT_EQ(log[0]["body"], "hello world");
  EXPECT_EQ(log[0]["headers"]["Content-Type"], "text/plain");
}

TEST_F(ReferenceServerTest, AnOversizedHeadIsRefusedAndTheServerGoesOn) {
  server_.WriteFile("profile.txt", "profile\n");
  ASSERT_TRUE(server_.Start());
  const std::string filler(100 * 1024, 'a');

  EXPECT_EQ(
      Exchange("GET /zavrik/update/profile HTTP/1.0\r\nX-Filler: " + filler + "\r\n\r\n").status,
      431);
  EXPECT_EQ(Exchange("GET /zavrik/update/profile?" + filler + " HTTP/1.0\r\n\r\n").status, 414);
  EXPECT_EQ(Exchange("GET /zavrik/update/profile HTTP/1.0\r\n\r\n"), (Answer{200, "profile\n"}));
  EXPECT_EQ(server_.RequestLog().size(), 1u) << "refused requests are not logged";
}

TEST_F(ReferenceServerTest, BadRequestLinesAre400AndBareLineFeedsAreLineEnds) {
  server_.WriteFile("profile.txt", "profile\n");
  ASSERT_TRUE(server_.Start());
  for (const char* bad : {"GET\r\n\r\n", "GET /zavrik/update/profile\r\n\r\n",
                          "GET  HTTP/1.0\r\n\r\n", "GET /zavrik/update/profile FTP/1.0\r\n\r\n",
                          "G\x01T /zavrik/update/profile HTTP/1.0\r\n\r\n",
                          "GET /zavrik/update/pro\rfile HTTP/1.0\r\n\r\n"}) {
    EXPECT_EQ(Exchange(bad).status, 400) << bad;
  }
  EXPECT_TRUE(server_.RequestLog().empty());
  EXPECT_EQ(Exchange("\r\nGET /zavrik/update/profile HTTP/1.0\nHost: h\n\n"),
            (Answer{200, "profile\n"}));
  EXPECT_EQ(server_.RequestLog().at(0)["head"], "GET /zavrik/update/profile HTTP/1.0\nHost: h\n\n");
}

TEST_F(ReferenceServerTest, ClientsThatSayNothingDoNotHoldUpOthers) {
  server_.WriteFile("profile.txt", "profile\n");
  ASSERT_TRUE(server_.Start());
  std::vector<std::unique_ptr<RawClient>> silent;
  for (int i = 0; i < 4; ++i) {
    silent.push_back(std::make_unique<RawClient>(server_.port()));
    ASSERT_TRUE(silent.back()->connected());
  }
  silent.back()->Send("GET /zavrik/upd");  // and no more

  const auto start = Clock::now();
  EXPECT_EQ(Exchange("GET /zavrik/update/profile HTTP/1.0\r\n\r\n"), (Answer{200, "profile\n"}));
  EXPECT_LT(Clock::now() - start, milliseconds(2000)) << "the server waits 10 s for a client";
}

// The server in this process, with limits a test can wait out; files_
// holds its root and request log.
class InProcessServerTest : public ::testing::Test {
 protected:
  void TearDown() override { StopServer(); }

  void StartServer() {
    options_.root = files_.root();
    options_.logPath = files_.logPath();
    server_ = std::make_unique<hhctl::ReferenceServer>(options_);
    std::string error;
    ASSERT_TRUE(server_->Bind(0, &error)) << error;
    runner_ = std::thread([this] { ran_ = server_->Run(); });
  }
  void StopServer() {
    if (!server_) return;
    server_->Stop();
    if (runner_.joinable()) runner_.join();
    server_.reset();
  }
  std::size_t LoggedRequests() const { return files_.RequestLog().size(); }
  uint16_t port() const { return server_->port(); }
  Answer Exchange(const std::string& request) { return hhsync::Exchange(port(), request); }

  test::ReferenceServerProcess files_;
  hhctl::ReferenceServer::Options options_;
  std::unique_ptr<hhctl::ReferenceServer> server_;
  std::thread runner_;
  bool ran_ = false;
};

TEST_F(InProcessServerTest, IdleAndStalledClientsAreDroppedAfterTheReadTimeout) {
  options_.readTimeout = milliseconds(200);
  StartServer();
  RawClient idle(port());
  RawClient stalledHead(port());
  RawClient stalledBody(port());
  stalledHead.Send("GET /zavrik/update/profile HTTP/1.0\r\nHost");
  stalledBody.Send("POST /zavrik/update/keep? HTTP/1.0\r\nContent-Length: 10\r\n\r\nabc");

  const auto start = Clock::now();
  EXPECT_EQ(idle.ReadAll(), "") << "closed without an answer";
  EXPECT_GE(Clock::now() - start, milliseconds(150));
  EXPECT_EQ(stalledHead.ReadAnswer().status, 408);
  EXPECT_EQ(stalledBody.ReadAnswer().status, 408);
  EXPECT_LT(Clock::now() - start, milliseconds(3000));
  EXPECT_EQ(LoggedRequests(), 0u);
  EXPECT_EQ(files_.ReadFile("keep-received.txt"), "");
}

TEST_F(InProcessServerTest, BodiesGoByContentLengthAndChunkedOnesAreRefused) {
  options_.maxBodyBytes = 16;
  StartServer();
  const std::string keep = "POST /zavrik/update/keep? HTTP/1.1\r\nHost: h\r\n";

  EXPECT_EQ(Exchange(keep + "\r\n"), (Answer{200, "OK\n"})) << "no length: no body";
  EXPECT_EQ(Exchange(keep + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n").status, 411);
  EXPECT_EQ(Exchange(keep + "Content-Length: 17\r\n\r\n" + std::string(17, 'x')).status, 413);
  EXPECT_EQ(Exchange(keep + "Content-Length: 3\r\nContent-Length: 4\r\n\r\nabcd").status, 400);
  EXPECT_EQ(Exchange(keep + "Content-Length: 3x\r\n\r\nabc").status, 400);
  EXPECT_EQ(Exchange(keep + "Content-Length: 3\r\n\r\nabcdef"), (Answer{200, "OK\n"}))
      << "bytes past the length are not the body";

  // A client that waits to be told to go on with its body is told.
  RawClient waiting(port());
  waiting.Send(keep + "Expect: 100-continue\r\nContent-Length: 16\r\n\r\n");
  const std::string goOn = "HTTP/1.1 100 Continue\r\n\r\n";
  EXPECT_EQ(waiting.Read(goOn.size()), goOn);
  waiting.Send(std::string(16, 'y'));
  EXPECT_EQ(waiting.ReadAnswer(), (Answer{200, "OK\n"}));

  EXPECT_EQ(files_.ReadFile("keep-received.txt"), "\nabc\n" + std::string(16, 'y') + "\n");
  EXPECT_EQ(LoggedRequests(), 3u);
}

TEST_F(InProcessServerTest, StopEndsRunPromptlyWhileConnectionsAreOpen) {
  files_.WriteFile("profile.txt", "profile\n");
  files_.WriteFile("profile.txt.delay", "10000");
  StartServer();
  RawClient idle(port());
  RawClient delayed(port());
  delayed.Send("GET /zavrik/update/profile HTTP/1.0\r\n\r\n");
  // Once it is logged, the delayed request is waiting out its delay.
  for (int i = 0; i < 200 && LoggedRequests() == 0; ++i) {
    std::this_thread::sleep_for(milliseconds(10));
  }
  ASSERT_EQ(LoggedRequests(), 1u);

  const auto start = Clock::now();
  server_->Stop();
  runner_.join();
  EXPECT_LT(Clock::now() - start, milliseconds(2000));
  EXPECT_TRUE(ran_);
  EXPECT_EQ(idle.ReadAll(), "");
  EXPECT_EQ(delayed.ReadAll(), "");

  // A stop that comes before Run holds too.
  hhctl::ReferenceServer early(options_);
  std::string error;
  ASSERT_TRUE(early.Bind(0, &error)) << error;
  early.Stop();
  EXPECT_TRUE(early.Run());
}

TEST_F(InProcessServerTest, ConnectionsBeyondTheCapWaitToBeAccepted) {
  files_.WriteFile("profile.txt", "profile\n");
  options_.maxConnections = 1;
  options_.readTimeout = milliseconds(300);
  StartServer();
  RawClient idle(port());
  const auto start = Clock::now();
  EXPECT_EQ(Exchange("GET /zavrik/update/profile HTTP/1.0\r\n\r\n"), (Answer{200, "profile\n"}));
  EXPECT_GE(Clock::now() - start, milliseconds(200)) << "answered only once the idle one left";
}

TEST_F(InProcessServerTest, APortInUseIsReported) {
  StartServer();
  hhctl::ReferenceServer other(options_);
  std::string error;
  EXPECT_FALSE(other.Bind(port(), &error));
  EXPECT_NE(error.find("127.0.0.1:" + std::to_string(port())), std::string::npos) << error;
  EXPECT_EQ(other.port(), 0);
}

}  // namespace
}  // namespace hhsync
