// A sync cancelled in the middle, against the reference server: the run goes
// on to its end, still opens the keep-list page, and records nothing.

#include <gtest/gtest.h>

#include "app/dialogs/progress_dialog.h"
#include "app/sync_runner.h"
#include "device/wide_text.h"
#include "platform/curl/curl_http.h"
#include "platform/fake/forwarding_rapi.h"
#include "platform/registry.h"
#include "support/edm_body.h"
#include "support/reference_server_fixture.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

// Presses the progress dialog's Cancel the first time "cats" is opened, that
// is while the profile is being read.
class CancelAtCats : public ForwardingRapi {
 public:
  CancelAtCats(Rapi& target, ScriptedUi& ui) : ForwardingRapi(target), ui_(ui) {}
  CeDbHandle CeOpenDatabaseEx(const CeGuid& g, CEOID* oid, const std::u16string& name,
                              CEPROPID sort, uint32_t flags) override {
    if (name == u"cats" && !cancelled_ && ui_.LastProgressDialog()) {
      cancelled_ = true;
      ui_.LastProgressDialog()->OnCancel();
    }
    return t_.CeOpenDatabaseEx(g, oid, name, sort, flags);
  }

 private:
  ScriptedUi& ui_;
  bool cancelled_ = false;
};

TEST(SyncRunCancelTest, ACancelledSyncOpensTheBrowserButRecordsNothing) {
  test::TestPlatform p;
  test::ReferenceServerProcess server;
  ASSERT_TRUE(server.Start());
  CurlHttp http;
  ASSERT_TRUE(http.Initialise());
  p.SetHttp(&http);
  test::WriteSdat(p.dir().File("S.DAT"), "name=Acme\nregistry=R\\\npartner=acme\n");
  std::string err;
  auto& h = p.handheld();
  ASSERT_TRUE(h.CreateVolume("v.vol", &err));
  for (auto [k, v] : std::vector<std::pair<std::string, std::string>>{
           {"dbp", "v.vol"}, {"ni", "YES"}, {"baseurl", server.BaseUrl()},
           {"loginurl", "http://login/p"}})
    ASSERT_TRUE(h.RegSet("R\\" + k, v, &err));
  CEOID id;
  ASSERT_TRUE(h.AddRecord("v.vol", "keep", {CePropVal::Text(0x0065001F, u"note")}, &id, &err));
  server.WriteFile("profile.txt", "OK\n1\nnews|1|0\n1\nA|1|x|y|1|news|z\n");
  server.WriteFile("data/1/1.edm", test::EdmBody(1, {test::Bytes(4)}));
  server.WriteFile("resources.txt", "OK\n\n1|DAT|r|n\n");
  server.WriteFile("resources/1", "abc");

  CancelAtCats rapi(h, p.ui());
  Ports ports = p.ports();
  ports.rapi = &rapi;
  EXPECT_TRUE(SyncRunner(ports).RunSync(false));

  EXPECT_EQ(p.shell().Opened(), (std::vector<std::string>{"http://login/p?m="}));
  std::optional<std::string> ni;
  ASSERT_TRUE(h.RegGet("R\\ni", &ni, &err));
  EXPECT_EQ(ni, "YES");
  EXPECT_FALSE(p.registry().Query(RegRoot::kLocalMachine, "R", "lst").has_value());
  // Nothing was posted after the cancel, so the keep entries stay.
  EXPECT_EQ(server.ReadFile("keep-received.txt"), "");
  auto dump = p.Dump();
  bool keepThere = false;
  for (const auto& db : dump.volumes[0].databases) keepThere |= db.name == "keep";
  EXPECT_TRUE(keepThere);
}

}  // namespace
}  // namespace hhsync
