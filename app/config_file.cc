#include "app/config_file.h"

#include "platform/paths.h"
#include "platform/prompter.h"

namespace hhsync {

ConfigFile::ConfigFile(Paths& paths, Prompter& prompter) {
  std::vector<uint8_t> image;
  if (!paths.ReadFile(paths.InProgramDir(kConfigFileName), &image)) {
    prompter.MessageBox("Unable to open configuration file.", MessageBoxStyle{});
    return;
  }
  loadFailed_ = false;
  contents_ = SdatContents::Parse(image);
}

}  // namespace hhsync
