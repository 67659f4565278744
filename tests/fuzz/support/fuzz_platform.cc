#include "fuzz/support/fuzz_platform.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "device/device_database.h"

namespace hhsync::fuzz {

MbAnswer QuietUi::MessageBox(std::string_view, const MessageBoxStyle& style) {
  return DefaultAnswer(style.buttons);
}

int QuietUi::AskProxyCredentials(std::string*, std::string*) { return kErrorCancelled; }

void QuietUi::RunUpdateFrequencyDialog(FrequencyDialogModel&) {}

std::unique_ptr<DialogWindow> QuietUi::CreateProgressWindow(ProgressWindowModel&) {
  return nullptr;
}

std::unique_ptr<DialogWindow> QuietUi::CreateWaitWindow(WaitWindowModel&) { return nullptr; }

bool NullShell::OpenUrl(const std::string&, int) {
  ++opened_;
  return true;
}

bool NullShell::RunCommandLine(const std::string&, int) { return true; }

bool NullShell::RunAndWait(const std::string&) { return true; }

void NullShell::MessageBeep(unsigned) {}

ScratchDir::ScratchDir() {
  std::error_code ec;
  std::filesystem::path base = "/dev/shm";
  if (!std::filesystem::is_directory(base, ec) || ::access(base.c_str(), W_OK) != 0) {
    base = std::filesystem::temp_directory_path();
  }
  std::string pattern = (base / "hhsync-fuzz-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) Fail("cannot make a scratch directory");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

FuzzPlatform::FuzzPlatform() : paths_(dir_.path()) {
  http_.SetRecording(false);
  const std::string image = dir_.File("handheld.db");
  std::string err;
  if (!EmulatedHandheld::Init(image, &err)) Fail(err.c_str());
  handheld_ = std::make_unique<EmulatedHandheld>(image, clock_);
  ports_ = {handheld_.get(), &registry_, &http_, &shell_, &ui_, &ui_, &clock_, &paths_};
  RapiInit init;
  handheld_->CeRapiInitEx(&init);
  if (handheld_->WaitForInit(&init, 5000) != kWaitObject0) Fail("the handheld does not connect");
  if (!handheld_->CreateVolume(kVolume, &err)) Fail(err.c_str());
  mount_ = std::make_unique<VolumeMount>(*handheld_, clock_, dbFailures_);
  volume_ = std::make_unique<DeviceDatabase>(*mount_, kVolume);
  if (!volume_->mounted()) Fail("the volume does not mount");
  SetDevice("baseurl", "http://content.test:8080/zavrik");
  SetDevice("loginurl", "http://content.test:8080/login");
}

FuzzPlatform::~FuzzPlatform() { volume_.reset(); }

void FuzzPlatform::SetDevice(const std::string& name, const std::string& value) {
  std::string err;
  if (!handheld_->RegSet(kRegistryPath + name, value, &err)) Fail(err.c_str());
}

void FuzzPlatform::AddRecord(const std::string& database, const std::vector<CePropVal>& props) {
  std::string err;
  if (!handheld_->AddRecord(kVolume, database, props, nullptr, &err)) Fail(err.c_str());
}

bool FuzzPlatform::HasDatabase(const std::string& database) {
  DbHandle handle;
  CEOID oid = 0;
  return volume_->OpenExisting(database, &handle, &oid);
}

void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::fflush(stderr);
  abort();
}

}  // namespace hhsync::fuzz
