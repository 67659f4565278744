// The HTTP operations over libcurl against the reference server on
// loopback, directly and through tinyproxy asking for Basic credentials.

#include "net/server_link.h"

#include <gtest/gtest.h>

#include "app/dialogs/progress_dialog.h"
#include "app/report_collector.h"
#include "formats/report_json.h"
#include "formats/sdat.h"
#include "platform/curl/curl_http.h"
#include "settings/sync_settings.h"
#include "support/processes.h"

namespace hhsync {
namespace {

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
    settings_ = std::make_unique<SyncSettings>(p_.ports(), &props_);
  }
  void SetDevice(const std::string& name, const std::string& value) {
    p_.SetDevice(kPath + name, value);
  }
  // FetchText of the profile with a progress dialog that logs into the
  // test's sync.txt.
  std::string FetchProfile(const std::string& url = "") {
    ProgressDialog progress(p_.progressDesktop(), nullptr, "Acme", ProgressDialog::Log::kOpen,
                            ProgressDialog::Logo::kHidden, kPath);
    return Link().FetchText(url.empty() ? Url("/zavrik/update/profile?") : url, &progress);
  }
  // What was logged, without the lines that open each dialog's log.
  std::vector<std::string> Logged() {
    std::vector<std::string> out;
    for (auto& m : test::LogMessages(test::ReadFile(p_.dir().File("sync.txt")))) {
      if (m != "****Sync Started***") out.push_back(m);
    }
    return out;
  }
  std::string Url(const std::string& path) { return server_.Url(path); }
  // The link over the current settings (made again when they are replaced).
  ServerLink& Link() {
    if (!link_ || linkSettings_ != settings_.get()) {
      link_ = std::make_unique<ServerLink>(*p_.ports().http, *p_.ports().prompter,
                                           settings_->proxyConfig(), report_);
      linkSettings_ = settings_.get();
    }
    return *link_;
  }

  test::TestPlatform p_;
  test::ReferenceServerProcess server_;
  CurlHttp http_;
  PropertySet props_;
  std::unique_ptr<SyncSettings> settings_;
  // Every request is reported here, as in a run that keeps a report.
  ReportCollector report_{*p_.ports().clock, RunMode::kSync};
  std::unique_ptr<ServerLink> link_;
  const SyncSettings* linkSettings_ = nullptr;
};

TEST_F(ServerLinkTest, TextFetchesAndTheirFailures) {
  std::string body(2000, 'x');
  body[10] = '\0';
  server_.WriteFile("profile.txt", body);
  // The first 1024-byte read is cut at its zero byte, the second is whole.
  EXPECT_EQ(FetchProfile(), std::string(10, 'x') + std::string(976, 'x'));
  EXPECT_EQ(FetchProfile("https://127.0.0.1/zavrik/update/profile?"), "");
  EXPECT_EQ(FetchProfile(Url("/zavrik/nothing")), "");
  // Cut off in the third read: a transfer error.
  server_.WriteFile("profile.txt", std::string(5000, 'a'));
  server_.WriteFile("profile.txt.cut", "3000");
  EXPECT_EQ(FetchProfile(), "");
  auto logged = Logged();
  ASSERT_EQ(logged.size(), 3u);
  EXPECT_EQ(logged[0], "https://127.0.0.1/zavrik/update/profile?:invalid url");
  EXPECT_EQ(logged[1], "error return code=404");
  EXPECT_EQ(logged[2].rfind("Error:  12030 ", 0), 0u) << logged[2];
}

TEST_F(ServerLinkTest, BufferAndFileFetchesFollowTheirSizeRules) {
  ServerLink& link = Link();
  server_.WriteFile("resources/1", std::string(500, 'b'));
  std::vector<uint8_t> buffer(100);
  EXPECT_EQ(link.FetchIntoBuffer(Url("/zavrik/update/resource?rid=1"), buffer.data(), 100), 100u);
  EXPECT_EQ(link.FetchIntoBuffer(Url("/zavrik/update/resource?rid=9"), buffer.data(), 100), 0u);
  EXPECT_EQ(link.FetchIntoBuffer("https://127.0.0.1/", buffer.data(), 100), 0u);

  // Reads of 32000 bytes come whole until the body ends; a short one loses
  // its last two bytes, and a connection cut keeps what was written before.
  struct Case {
    std::size_t body;
    const char* cut;
    std::size_t written;
  } cases[] = {{100, "", 98},      {32000, "", 32000}, {32001, "", 32000},
               {64003, "", 64001}, {1, "", 0},         {64100, "40000", 32000}};
  for (const auto& c : cases) {
    server_.WriteFile("resources/f", std::string(c.body, 'f'));
    if (*c.cut) server_.WriteFile("resources/f.cut", c.cut);  // the last case
    StringFile file;
    link.FetchIntoFile(file, Url("/zavrik/update/resource?rid=f"));
    EXPECT_EQ(file.bytes.size(), c.written) << c.body;
  }
}

TEST_F(ServerLinkTest, FormPostSendsTheBodyWithItsHeaders) {
  ServerLink& link = Link();
  ParsedUrl url;
  ASSERT_TRUE(ParseHttpUrl(Url("/zavrik/update/keep?"), &url));
  auto session = link.OpenSession();
  std::vector<std::string> steps;
  ServerLink::PostSteps hooks{
      [&] { steps.push_back("connected"); }, [&] { steps.push_back("opened"); },
      [&] { steps.push_back("headers"); }, [&] { steps.push_back("sent"); }};
  HttpError error;
  auto reply = link.PostForm(*session, url, "p=acme&count=0&keep=", hooks, &error);
  ASSERT_NE(reply, nullptr) << error.message;
  std::string line;
  EXPECT_TRUE(ReadReplyLine(*reply, 2048, &line, &error));
  EXPECT_EQ(line, "OK");
  EXPECT_FALSE(ReadReplyLine(*reply, 2048, &line, &error));
  EXPECT_EQ(steps, (std::vector<std::string>{"connected", "opened", "headers", "sent"}));
  auto log = server_.RequestLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0]["body"], "p=acme&count=0&keep=");
  EXPECT_EQ(log[0]["headers"]["Content-Type"], "application/x-www-form-urlencoded");

  // A line longer than the reader takes comes in pieces of that length.
  reply = link.PostForm(*session, url, "p=acme&count=0&keep=", hooks, &error);
  ASSERT_NE(reply, nullptr) << error.message;
  EXPECT_TRUE(ReadReplyLine(*reply, 1, &line, &error));
  EXPECT_EQ(line, "O");
  // The last line needs no line feed.
  server_.WriteFile("keep-reply.txt", "OK");
  reply = link.PostForm(*session, url, "p=acme&count=0&keep=", hooks, &error);
  ASSERT_NE(reply, nullptr) << error.message;
  EXPECT_TRUE(ReadReplyLine(*reply, 2048, &line, &error));
  EXPECT_EQ(line, "OK");

  server_.WriteFile("keep-reply.txt.status", "500");
  EXPECT_EQ(link.PostForm(*session, url, "p=x", hooks, &error), nullptr);
}

TEST(ParseHttpUrlTest, OnlyPlainHttp) {
  ParsedUrl u;
  ASSERT_TRUE(ParseHttpUrl("http://127.0.0.1:8080/zavrik/update/profile?a=1", &u));
  EXPECT_EQ(u.host, "127.0.0.1");
  EXPECT_EQ(u.port, 8080);
  EXPECT_EQ(u.object, "/zavrik/update/profile?a=1");
  for (const char* bad :
       {"https://example.test/", "ftp://example.test/", "http:///x", "http://host:99999/",
        "http://host:65536/", "http://host:0/", "", "http://"}) {
    EXPECT_FALSE(ParseHttpUrl(bad, &u)) << bad;
  }
  // The last port there is, and the first.
  ASSERT_TRUE(ParseHttpUrl("http://host:65535/", &u));
  EXPECT_EQ(u.port, 65535);
  ASSERT_TRUE(ParseHttpUrl("http://host:1/", &u));
  EXPECT_EQ(u.port, 1);
}

TEST_F(ServerLinkTest, A407LoopsThroughThePromptUntilItIsCancelled) {
  // A server that keeps asking for proxy credentials: retry, then cancel.
  server_.WriteFile("profile.txt", "OK\n");
  server_.WriteFile("profile.txt.status", "407");
  p_.ui().QueueCredentials("acme", "first");
  EXPECT_EQ(FetchProfile(), "");
  EXPECT_EQ(p_.ui().CredentialPrompts(), 2);
  EXPECT_EQ(server_.RequestLog().size(), 2u);
  EXPECT_EQ(Logged(), (std::vector<std::string>{"proxy return code=1223"}));
  EXPECT_FALSE(Link().useProxy());
}

class ServerLinkProxyTest : public ServerLinkTest {
 protected:
  void SetUp() override {
    if (!TinyproxyProcess::Available()) GTEST_SKIP() << "tinyproxy is not installed";
    ServerLinkTest::SetUp();
    std::string err;
    ASSERT_TRUE(proxy_.Start(&err)) << err;
    SetDevice("useproxy", "YES");
    SetDevice("proxy", "127.0.0.1");
    SetDevice("proxyport", std::to_string(proxy_.port()));
  }
  TinyproxyProcess proxy_{"acme", "s3cret"};
};

TEST_F(ServerLinkProxyTest, CredentialsFromTheSettingsGoThroughAndAnEmptyBodyIsFetchedDirectly) {
  SetDevice("username", "acme");
  SetDevice("password", "s3cret");
  server_.WriteFile("profile.txt", "OK\n0\n0\n");
  settings_ = std::make_unique<SyncSettings>(p_.ports(), &props_);
  EXPECT_EQ(FetchProfile(), "OK\n0\n0\n");
  EXPECT_TRUE(Link().useProxy());

  server_.WriteFile("profile.txt", "");
  EXPECT_EQ(FetchProfile(), "");
  EXPECT_FALSE(Link().useProxy());
  auto log = server_.RequestLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_TRUE(log[0]["headers"].contains("Via")) << log[0].dump();
  EXPECT_TRUE(log[1]["headers"].contains("Via"));
  EXPECT_FALSE(log[2]["headers"].contains("Via")) << "the second try goes direct";
  // The report has every request, and the proxy's credentials nowhere.
  const std::string report = ReportJson(report_.Finish());
  EXPECT_EQ(report_.Finish().requests.size(), 3u) << report;
  EXPECT_EQ(report.find("s3cret"), std::string::npos) << report;
}

TEST_F(ServerLinkProxyTest, ThePromptsCredentialsAnswerTheProxy) {
  server_.WriteFile("profile.txt", "OK\n");
  p_.ui().QueueCredentials("acme", "s3cret");
  settings_ = std::make_unique<SyncSettings>(p_.ports(), &props_);
  EXPECT_EQ(Link().FetchText(Url("/zavrik/update/profile?"), nullptr), "OK\n");
  EXPECT_TRUE(Link().useProxy());
  EXPECT_EQ(p_.ui().CredentialPrompts(), 1);
  const std::string report = ReportJson(report_.Finish());
  EXPECT_FALSE(report_.Finish().requests.empty());
  EXPECT_EQ(report.find("s3cret"), std::string::npos) << report;
}

}  // namespace
}  // namespace hhsync
