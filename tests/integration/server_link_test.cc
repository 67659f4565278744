// The HTTP operations against the reference server on loopback, directly and
// through tinyproxy asking for Basic credentials.

#include "net/server_link.h"

#include <gtest/gtest.h>

#include "app/config_file.h"
#include "app/dialogs/progress_dialog.h"
#include "platform/curl/curl_http.h"
#include "settings/sync_settings.h"
#include "support/reference_server_fixture.h"
#include "support/sync_log_reader.h"
#include "support/test_platform.h"
#include "support/tinyproxy_fixture.h"

namespace hhsync {
namespace {

using test::ReferenceServerProcess;
using test::TestPlatform;
using test::TinyproxyProcess;

constexpr const char* kPath = "Software\\Acme\\News\\";

// A file that keeps what is written to it.
class StringFile final : public OutputFile {
 public:
  bool Write(const void* data, std::size_t size) override {
    bytes.append(static_cast<const char*>(data), size);
    return true;
  }
  std::string bytes;
};

class ServerLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start());
    ASSERT_TRUE(http_.Initialise());
    p_.SetHttp(&http_);
    p_.Connect();
    props_.Set("registry", kPath);
  }
  void SetDevice(const std::string& name, const std::string& value) {
    std::string err;
    ASSERT_TRUE(p_.handheld().RegSet(std::string(kPath) + name, value, &err)) << err;
  }
  std::unique_ptr<SyncSettings> Settings() {
    return std::make_unique<SyncSettings>(p_.ports(), &props_);
  }
  // A progress dialog that logs into the test's sync.txt.
  std::unique_ptr<ProgressDialog> Progress() {
    return std::make_unique<ProgressDialog>(p_.ports(), nullptr, "Acme", true, false, kPath);
  }
  std::vector<std::string> Logged() {
    auto all = test::LogMessages(test::ReadFile(p_.dir().File("sync.txt")));
    if (!all.empty()) all.erase(all.begin());  // "****Sync Started***"
    return all;
  }
  std::string Url(const std::string& path) { return "http://127.0.0.1:" + std::to_string(server_.port()) + path; }

  TestPlatform p_;
  ReferenceServerProcess server_;
  CurlHttp http_;
  PropertySet props_;
};

TEST_F(ServerLinkTest, TextFetchesAndTheirFailures) {
  std::string body(2000, 'x');
  body[10] = '\0';
  server_.WriteFile("profile.txt", body);
  server_.WriteFile("missing/update/data/1/1.edm.status", "404");
  auto settings = Settings();
  {
    auto progress = Progress();
    ServerLink& link = settings->link();
    std::string text = link.FetchText(Url("/zavrik/update/profile?x=1"), progress.get());
    // The first 1024-byte read is cut at its zero byte, the second is whole.
    EXPECT_EQ(text, std::string(10, 'x') + std::string(976, 'x'));
    EXPECT_EQ(link.FetchText("https://127.0.0.1/zavrik/update/profile?", progress.get()), "");
    EXPECT_EQ(link.FetchText(Url("/zavrik/nothing"), progress.get()), "");
  }
  EXPECT_EQ(Logged(), (std::vector<std::string>{"https://127.0.0.1/zavrik/update/profile?:invalid url",
                                                "error return code=404"}));
  auto log = server_.RequestLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0]["headers"]["User-Agent"], "Tessary Conduit");
  EXPECT_EQ(log[0]["headers"]["Accept"], "*/*");
}

TEST_F(ServerLinkTest, ACutConnectionIsATransferError) {
  server_.WriteFile("profile.txt", std::string(5000, 'a'));
  server_.WriteFile("profile.txt.cut", "3000");
  auto settings = Settings();
  {
    auto progress = Progress();
    EXPECT_EQ(settings->link().FetchText(Url("/zavrik/update/profile?"), progress.get()), "");
  }
  auto logged = Logged();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].rfind("Error:  12030 ", 0), 0u) << logged[0];

  StringFile file;
  server_.WriteFile("resources/7", std::string(64000 + 100, 'r'));
  server_.WriteFile("resources/7.cut", "40000");
  settings->link().FetchIntoFile(file, Url("/zavrik/update/resource?x=1&rid=7"));
  EXPECT_EQ(file.bytes.size(), 32000u) << "what was written before the cut stays";
}

TEST_F(ServerLinkTest, BufferAndFileFetchesFollowTheirSizeRules) {
  auto settings = Settings();
  ServerLink& link = settings->link();
  server_.WriteFile("resources/1", std::string(500, 'b'));
  std::vector<uint8_t> buffer(100);
  EXPECT_EQ(link.FetchIntoBuffer(Url("/zavrik/update/resource?rid=1"), buffer.data(), 100), 100u);
  EXPECT_EQ(link.FetchIntoBuffer(Url("/zavrik/update/resource?rid=9"), buffer.data(), 100), 0u);
  EXPECT_EQ(link.FetchIntoBuffer("https://127.0.0.1/", buffer.data(), 100), 0u);

  struct Case {
    std::size_t body;
    std::size_t written;
  } cases[] = {{100, 98}, {32000, 32000}, {32001, 32000}, {64003, 64001}, {1, 0}};
  for (const auto& c : cases) {
    server_.WriteFile("resources/f", std::string(c.body, 'f'));
    StringFile file;
    link.FetchIntoFile(file, Url("/zavrik/update/resource?rid=f"));
    EXPECT_EQ(file.bytes.size(), c.written) << c.body;
  }
  EXPECT_TRUE(settings->useProxy() == false);
}

TEST_F(ServerLinkTest, FormPostSendsTheBodyWithItsHeaders) {
  auto settings = Settings();
  ServerLink& link = settings->link();
  ParsedUrl url;
  ASSERT_TRUE(ParseHttpUrl(Url("/zavrik/update/keep?"), &url));
  auto session = link.OpenSession();
  std::vector<std::string> steps;
  ServerLink::PostSteps hooks{[&] { steps.push_back("connected"); },
                              [&] { steps.push_back("opened"); },
                              [&] { steps.push_back("headers"); },
                              [&] { steps.push_back("sent"); }};
  HttpError error;
  auto reply = link.PostForm(*session, url, "p=acme&count=0&keep=", hooks, &error);
  ASSERT_NE(reply, nullptr) << error.message;
  std::string line;
  EXPECT_TRUE(ReadReplyLine(*reply, 2048, &line, &error));
  EXPECT_EQ(line, "OK");
  EXPECT_FALSE(ReadReplyLine(*reply, 2048, &line, &error));
  EXPECT_EQ(steps, (std::vector<std::string>{"connected", "opened", "headers", "sent"}));
  EXPECT_EQ(server_.ReadFile("keep-received.txt"), "p=acme&count=0&keep=\n");
  auto log = server_.RequestLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0]["headers"]["Content-Type"], "application/x-www-form-urlencoded");
  EXPECT_EQ(log[0]["headers"]["Content-Length"], "20");

  server_.WriteFile("keep-reply.txt.status", "500");
  EXPECT_EQ(link.PostForm(*session, url, "p=x", hooks, &error), nullptr);
}

TEST(ParseHttpUrlTest, OnlyPlainHttp) {
  ParsedUrl u;
  ASSERT_TRUE(ParseHttpUrl("http://127.0.0.1:8080/zavrik/update/profile?a=1", &u));
  EXPECT_EQ(u.host, "127.0.0.1");
  EXPECT_EQ(u.port, 8080);
  EXPECT_EQ(u.object, "/zavrik/update/profile?a=1");
  ASSERT_TRUE(ParseHttpUrl("HTTP://example.test", &u));
  EXPECT_EQ(u.port, 80);
  EXPECT_EQ(u.object, "/");
  EXPECT_FALSE(ParseHttpUrl("https://example.test/", &u));
  EXPECT_FALSE(ParseHttpUrl("ftp://example.test/", &u));
  EXPECT_FALSE(ParseHttpUrl("http:///x", &u));
  EXPECT_FALSE(ParseHttpUrl("http://host:99999/", &u));
  EXPECT_FALSE(ParseHttpUrl("", &u));
}

class ServerLinkProxyTest : public ServerLinkTest {
 protected:
  void SetUp() override {
    if (!TinyproxyProcess::Available()) GTEST_SKIP() << "tinyproxy is not installed";
    ServerLinkTest::SetUp();
    ASSERT_TRUE(proxy_.Start());
    SetDevice("useproxy", "YES");
    SetDevice("proxy", "127.0.0.1");
    SetDevice("proxyport", std::to_string(proxy_.port()));
  }
  TinyproxyProcess proxy_{"acme", "s3cret"};
};

TEST_F(ServerLinkProxyTest, CredentialsFromTheSettingsGoThroughTheProxy) {
  SetDevice("username", "acme");
  SetDevice("password", "s3cret");
  server_.WriteFile("profile.txt", "OK\n0\n0\n");
  auto settings = Settings();
  auto progress = Progress();
  EXPECT_EQ(settings->link().FetchText(Url("/zavrik/update/profile?"), progress.get()),
            "OK\n0\n0\n");
  EXPECT_TRUE(settings->useProxy());
  auto log = server_.RequestLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(log[0]["headers"].contains("Via")) << log[0].dump();
}

TEST_F(ServerLinkProxyTest, AnEmptyBodyThroughTheProxyIsFetchedAgainDirectly) {
  SetDevice("username", "acme");
  SetDevice("password", "s3cret");
  server_.WriteFile("profile.txt", "");
  auto settings = Settings();
  auto progress = Progress();
  EXPECT_EQ(settings->link().FetchText(Url("/zavrik/update/profile?"), progress.get()), "");
  EXPECT_FALSE(settings->useProxy());
  auto log = server_.RequestLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(log[0]["headers"].contains("Via"));
  EXPECT_FALSE(log[1]["headers"].contains("Via")) << "the second try goes direct";
}

TEST_F(ServerLinkProxyTest, ThePromptsCredentialsAnswerTheProxy) {
  server_.WriteFile("profile.txt", "OK\n");
  p_.ui().QueueCredentials("acme", "s3cret");
  auto settings = Settings();
  EXPECT_EQ(settings->link().FetchText(Url("/zavrik/update/profile?"), nullptr), "OK\n");
  EXPECT_TRUE(settings->useProxy());
  EXPECT_EQ(p_.ui().CredentialPrompts(), 1);
}

TEST_F(ServerLinkTest, A407LoopsThroughThePromptUntilItIsCancelled) {
  // A server that keeps asking for proxy credentials: retry, then cancel.
  server_.WriteFile("profile.txt", "OK\n");
  server_.WriteFile("profile.txt.status", "407");
  p_.ui().QueueCredentials("acme", "first");
  auto settings = Settings();
  {
    auto progress = Progress();
    EXPECT_EQ(settings->link().FetchText(Url("/zavrik/update/profile?"), progress.get()), "");
  }
  EXPECT_EQ(p_.ui().CredentialPrompts(), 2);
  EXPECT_EQ(server_.RequestLog().size(), 2u);
  EXPECT_EQ(Logged(), (std::vector<std::string>{"proxy return code=1223"}));
  EXPECT_FALSE(settings->useProxy());
}

}  // namespace
}  // namespace hhsync
