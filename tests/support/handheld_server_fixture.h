#pragma once
// A fixture for the steps that talk to the reference server and the handheld
// at once: the server running, the handheld connected with the volume "vol"
// mounted and the server's base URL in its registry, a program directory of
// its own, and a run's settings and progress dialog (log forced on).

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

namespace hhsync::test {

class HandheldServerTest : public ::testing::Test {
 protected:
  static constexpr const char* kPath = "Software\\Acme\\News\\";

  void SetUp() override {
    std::string err;
    ASSERT_TRUE(server_.Start(&err)) << err;
    ASSERT_TRUE(p_.handheld().CreateVolume("vol", &err)) << err;
    p_.SetDevice(std::string(kPath) + "baseurl", server_.BaseUrl());
    p_.Connect();
    volume_ = std::make_unique<DeviceDatabase>(p_.ports(), mount_, "vol");
    ASSERT_TRUE(volume_->mounted());
    // One level below the test directory, so a file written outside it shows.
    std::filesystem::create_directory(programDir_);
    ports_ = p_.ports();
    ports_.http = &http_;
    ports_.paths = &paths_;
    props_.Set("registry", kPath);
    props_.Set("partner", "acme");
    settings_ = std::make_unique<SyncSettings>(ports_, &props_);
    link_ = std::make_unique<ServerLink>(*ports_.http, *ports_.prompter, settings_->proxyConfig());
    progress_ = std::make_unique<ProgressDialog>(ports_, nullptr, "News", true, false, kPath);
    progress_->OnInitDialog();
  }

  void AddRecord(const std::string& database, const std::vector<CePropVal>& props) {
    p_.AddRecord("vol", database, props);
  }

  // The records of a database in traversal order, each as its values in
  // property order joined by "|" (numbers in decimal, byte blocks in hex).
  std::vector<std::string> Records(const std::string& name) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::vector<std::string> out;
    const HandheldDump dump = p_.Dump();
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
  CurlHttp http_;
  TestPlatform p_;
  VolumeMount mount_;  // the volume as the run shares it; outlives every holder
  std::unique_ptr<DeviceDatabase> volume_;
  std::string programDir_ = p_.dir().File("program");
  EnvPaths paths_{programDir_};
  Ports ports_;
  PropertySet props_;
  std::unique_ptr<SyncSettings> settings_;
  std::unique_ptr<ServerLink> link_;
  std::unique_ptr<ProgressDialog> progress_;
};

}  // namespace hhsync::test
