#include "app/config_file.h"

#include "platform/paths.h"
#include "platform/prompter.h"

namespace hhsync {

ConfigFile ConfigFile::Load(Paths& paths, Prompter& prompter) {
  ConfigFile config;
  std::vector<uint8_t> image;
  const std::string path = paths.InProgramDir(kConfigFileName);
  std::string why;
  if (!paths.ReadFile(path, &image, &why)) {
    config.problem_ = std::string(kConfigFileName) + " at " + path + " cannot be read: " + why;
    prompter.MessageBox("Unable to open configuration file.", MessageBoxStyle{});
    return config;
  }
  config.loadFailed_ = false;
  config.contents_ = SdatContents::Parse(image);
  if (config.contents_.GetPropertySet("sync.properties") == nullptr) {
    config.problem_ = std::string(kConfigFileName) + " at " + path + " holds no sync.properties";
  }
  return config;
}

}  // namespace hhsync
