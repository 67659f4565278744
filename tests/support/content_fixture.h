#pragma once
// A fixture for the content steps over the in-memory internet client: the
// handheld connected with the volume "content.vol" mounted, the server at
// http://content.test:8080/zavrik (pages under .../login) in its registry,
// logging on, and a run's settings and progress dialog.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/dialogs/progress_dialog.h"
#include "device/device_database.h"
#include "formats/sdat.h"
#include "net/server_link.h"
#include "settings/sync_settings.h"
#include "support/test_platform.h"

namespace hhsync::test {

class ContentStepTest : public ::testing::Test {
 public:
  static constexpr const char* kPath = "Software\\Acme\\News\\";
  static constexpr const char* kVolume = "content.vol";

 protected:
  void SetUp() override {
    platform_.Connect();
    platform_.SetHttp(&http_);
    SetDevice("baseurl", "http://content.test:8080/zavrik");
    SetDevice("loginurl", "http://content.test:8080/login");
    SetDevice("log", "YES");
    props_.Set("registry", kPath);
    std::string err;
    ASSERT_TRUE(platform_.handheld().CreateVolume(kVolume, &err)) << err;
    volume_ = std::make_unique<DeviceDatabase>(platform_.ports(), mount_, kVolume);
    NewRun();
  }
  void SetDevice(const std::string& name, const std::string& value) {
    platform_.SetDevice(kPath + name, value);
  }
  // Fresh settings (read from the registry now) and dialog (bars step by 1);
  // one at a time, since the dialog holds the log file.
  void NewRun() {
    progress_.reset();
    settings_ = std::make_unique<SyncSettings>(platform_.ports(), &props_);
    link_ = std::make_unique<ServerLink>(*platform_.ports().http, *platform_.ports().prompter,
                                         settings_->proxyConfig());
    progress_ =
        std::make_unique<ProgressDialog>(platform_.ports(), nullptr, "News", true, false, kPath);
    progress_->OnInitDialog();
  }
  std::string Log() { return ReadFile(platform_.dir().File("sync.txt")); }

  TestPlatform platform_;
  MemoryHttp http_;
  PropertySet props_;
  VolumeMount mount_;  // the volume as the run shares it; outlives every holder
  std::unique_ptr<DeviceDatabase> volume_;
  std::unique_ptr<SyncSettings> settings_;
  std::unique_ptr<ServerLink> link_;
  std::unique_ptr<ProgressDialog> progress_;
};

}  // namespace hhsync::test
