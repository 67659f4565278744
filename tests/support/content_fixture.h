#pragma once
// Fixtures for the steps of a run below the run sequence: the handheld
// connected with the volume "content.vol" mounted, the server's base URL
// and the login pages in its registry, logging on, and a run's settings,
// server link and progress dialog. ContentStepTest talks to an in-memory
// internet client at http://content.test:8080/zavrik; HandheldServerTest to
// the reference server on loopback over libcurl.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/dialogs/progress_dialog.h"
#include "base/text.h"
#include "device/device_database.h"
#include "device/records.h"
#include "formats/sdat.h"
#include "net/server_link.h"
#include "platform/curl/curl_http.h"
#include "settings/sync_settings.h"
#include "support/processes.h"
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
    volume_ = std::make_unique<DeviceDatabase>(mount_, kVolume);
    ASSERT_TRUE(volume_->mounted());
    NewRun();
  }
  void SetDevice(const std::string& name, const std::string& value) {
    platform_.SetDevice(kPath + name, value);
  }
  void AddRecord(const std::string& database, const std::vector<CePropVal>& props) {
    platform_.AddRecord(kVolume, database, props);
  }
  // Fresh settings (read from the registry now) and dialog (bars step by 1);
  // one at a time, since the dialog holds the log file.
  void NewRun() {
    progress_.reset();
    settings_ = std::make_unique<SyncSettings>(platform_.ports(), &props_);
    link_ = std::make_unique<ServerLink>(*platform_.ports().http, *platform_.ports().prompter,
                                         settings_->proxyConfig());
    progress_ = std::make_unique<ProgressDialog>(platform_.progressDesktop(), nullptr, "News",
                                                 ProgressDialog::Log::kOpen,
                                                 ProgressDialog::Logo::kHidden, kPath);
    progress_->OnInitDialog();
  }
  std::string Log() { return ReadFile(platform_.dir().File("sync.txt")); }

  TestPlatform platform_;
  MemoryHttp http_;
  PropertySet props_;
  VolumeMount& mount_ = platform_.mount();  // the volume as the run shares it
  std::unique_ptr<DeviceDatabase> volume_;
  std::unique_ptr<SyncSettings> settings_;
  std::unique_ptr<ServerLink> link_;
  std::unique_ptr<ProgressDialog> progress_;
};

// The steps against the reference server, in a program directory one level
// below the test directory, so that a file written outside it shows.
class HandheldServerTest : public ContentStepTest {
 protected:
  void SetUp() override {
    std::string err;
    ASSERT_TRUE(server_.Start(&err)) << err;
    std::filesystem::create_directory(programDir_);
    platform_.SetPaths(&paths_);
    ASSERT_NO_FATAL_FAILURE(ContentStepTest::SetUp());
    platform_.SetHttp(&curl_);
    props_.Set("partner", "acme");
    SetDevice("baseurl", server_.BaseUrl());
    NewRun();
  }

  // The records of a database in traversal order, each as its values in
  // property order joined by "|" (numbers in decimal, byte blocks in hex).
  std::vector<std::string> Records(const std::string& name) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::vector<std::string> out;
    const HandheldDump dump = platform_.Dump();
    for (const auto& db : dump.volumes.at(0).databases) {
      if (db.name != name) continue;
      for (const auto& record : db.records) {
        std::string text;
        for (const auto& prop : record.props) {
          text += "|";
          if ((prop.propid & 0xFFFF) == CEVT_UI4) text += std::to_string(prop.ulVal);
          text += WideToAnsi(prop.lpwsz);
          for (uint8_t b : prop.blob) text += {kHex[b >> 4], kHex[b & 15]};
        }
        out.push_back(text.erase(0, 1));
      }
    }
    return out;
  }

  std::string Program(const std::string& name) const { return programDir_ + "/" + name; }

  ReferenceServerProcess server_;
  CurlHttp curl_;
  std::string programDir_ = platform_.dir().File("program");
  EnvPaths paths_{programDir_};
};

}  // namespace hhsync::test
