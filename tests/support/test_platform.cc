#include "test_platform.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/config_file.h"
#include "device/device_database.h"

namespace hhsync::test {

namespace {

// An internet client that is never there: every request fails to connect.
class UnreachableHttp final : public Http {
 public:
  bool Initialise() override { return true; }
  std::unique_ptr<HttpSession> OpenSession(const HttpSessionOptions&) override;
};

class UnreachableRequest final : public HttpRequest {
 public:
  void AddHeaders(const std::string&) override {}
  void SetProxyCredentials(const std::string&, const std::string&) override {}
  bool Send(const std::string&, HttpError* error) override {
    error->code = http_error::kCannotConnect;
    error->message = "A connection with the server could not be established";
    return false;
  }
  int StatusCode() const override { return 0; }
  long long Read(void*, std::size_t, HttpError* error) override {
    error->code = http_error::kCannotConnect;
    return -1;
  }
};

class UnreachableSession final : public HttpSession {
 public:
  std::unique_ptr<HttpRequest> OpenRequest(const std::string&, const std::string&, uint16_t,
                                           const std::string&, const std::string&) override {
    return std::make_unique<UnreachableRequest>();
  }
};

std::unique_ptr<HttpSession> UnreachableHttp::OpenSession(const HttpSessionOptions&) {
  return std::make_unique<UnreachableSession>();
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "hhsync-test-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  if (made == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = made;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

void WriteSdat(const std::string& path, const std::string& syncProperties) {
  std::vector<uint8_t> image;
  std::string err;
  SdatItem item{"sync.properties", kSdatPropertySet,
                std::vector<uint8_t>(syncProperties.begin(), syncProperties.end())};
  if (!BuildSdat({item}, &image, &err)) ADD_FAILURE() << err;
  WriteFile(path, std::string(image.begin(), image.end()));
}

TestPlatform::TestPlatform() : paths_(dir_.path()) {
  DeviceDatabase::ResetSharedStateForTesting();
  std::string err;
  if (!EmulatedHandheld::Init(imagePath(), &err)) ADD_FAILURE() << err;
  handheld_ = std::make_unique<EmulatedHandheld>(imagePath(), clock_);
  noHttp_ = std::make_unique<UnreachableHttp>();
  ports_.rapi = handheld_.get();
  ports_.registry = &registry_;
  ports_.http = noHttp_.get();
  ports_.shell = &shell_;
  ports_.ui = &ui_;
  ports_.clock = &clock_;
  ports_.paths = &paths_;
}

TestPlatform::~TestPlatform() { DeviceDatabase::ResetSharedStateForTesting(); }

HandheldDump TestPlatform::Dump() {
  EmulatedHandheld view(imagePath(), clock_);
  HandheldDump dump;
  std::string err;
  if (!view.Dump(&dump, &err)) ADD_FAILURE() << err;
  return dump;
}

void TestPlatform::Connect() {
  RapiInit init;
  handheld_->CeRapiInitEx(&init);
  EXPECT_EQ(handheld_->WaitForInit(init, 5000), kWaitObject0);
}

}  // namespace hhsync::test
