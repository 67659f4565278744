#include "support/test_platform.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "device/device_database.h"
#include "formats/sdat.h"

namespace hhsync::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "hhsync-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

void WriteSdat(const std::string& path, const std::string& syncProperties,
               const std::vector<uint8_t>& mainBitmap) {
  std::vector<SdatItem> items = {
      {"sync.properties", kSdatPropertySet,
       std::vector<uint8_t>(syncProperties.begin(), syncProperties.end())}};
  if (!mainBitmap.empty()) items.push_back({"main.bmp", kSdatBitmap, mainBitmap});
  std::vector<uint8_t> image;
  std::string err;
  if (!BuildSdat(items, &image, &err)) ADD_FAILURE() << err;
  WriteFile(path, std::string(image.begin(), image.end()));
}

std::vector<std::string> LogMessages(const std::string& bytes) {
  static const std::regex kHeader(
      "\r\n[A-Z][a-z]+day, [A-Z][a-z]+ [0-9]{2}, [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} --\r\n");
  std::vector<std::string> out;
  std::size_t start = std::string::npos;
  for (auto it = std::sregex_iterator(bytes.begin(), bytes.end(), kHeader);
       it != std::sregex_iterator(); ++it) {
    const auto at = static_cast<std::size_t>(it->position());
    if (start != std::string::npos) out.push_back(bytes.substr(start, at - start));
    start = at + static_cast<std::size_t>(it->length());
  }
  if (start != std::string::npos) out.push_back(bytes.substr(start));
  return out;
}

TestPlatform::TestPlatform() : paths_(dir_.path()) {
  std::string err;
  if (!EmulatedHandheld::Init(imagePath(), &err)) ADD_FAILURE() << err;
  handheld_ = std::make_unique<EmulatedHandheld>(imagePath(), clock_);
  noHttp_.Serve("", MemoryReply{0, "", -1});
  ports_ = {handheld_.get(), &registry_, &noHttp_, &shell_, &ui_, &ui_, &clock_, &paths_};
  mount_ = std::make_unique<VolumeMount>(*handheld_, clock_, dbFailures_);
}

TestPlatform::~TestPlatform() = default;

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
  EXPECT_EQ(handheld_->WaitForInit(&init, 5000), kWaitObject0);
}

void TestPlatform::SetDevice(const std::string& path, const std::string& value) {
  std::string err;
  if (!handheld_->RegSet(path, value, &err)) ADD_FAILURE() << path << ": " << err;
}

std::optional<std::string> TestPlatform::Device(const std::string& path) {
  std::optional<std::string> value;
  std::string err;
  if (!handheld_->RegGet(path, &value, &err)) ADD_FAILURE() << path << ": " << err;
  return value;
}

void TestPlatform::AddFault(const std::string& operation, uint32_t nth, bool every,
                            uint32_t error) {
  std::string err;
  if (!handheld_->AddFault({operation, nth, every, error, 0}, &err)) ADD_FAILURE() << err;
}

void TestPlatform::ClearFaults() {
  std::string err;
  if (!handheld_->ClearFaults(&err)) ADD_FAILURE() << err;
}

CEOID TestPlatform::AddRecord(const std::string& volume, const std::string& database,
                              const std::vector<CePropVal>& props) {
  CEOID id = 0;
  std::string err;
  if (!handheld_->AddRecord(volume, database, props, &id, &err)) ADD_FAILURE() << err;
  return id;
}

}  // namespace hhsync::test
