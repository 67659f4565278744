#include "app/config_file.h"

#include "platform/paths.h"
#include "platform/prompter.h"

namespace hhsync {

ConfigFile::ConfigFile(Paths& paths, Prompter& prompter) {
  std::vector<uint8_t> image;
  const std::string path = paths.InProgramDir(kConfigFileName);
  std::string why;
  if (!paths.ReadFile(path, &image, &why)) {
    problem_ = std::string(kConfigFileName) + " at " + path + " cannot be read: " + why;
    prompter.MessageBox("Unable to open configuration file.", MessageBoxStyle{});
    return;
  }
  loadFailed_ = false;
  contents_ = SdatContents::Parse(image);
  if (contents_.GetPropertySet("sync.properties") == nullptr) {
    problem_ = std::string(kConfigFileName) + " at " + path + " holds no sync.properties";
  }
}

}  // namespace hhsync
