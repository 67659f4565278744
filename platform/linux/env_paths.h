#pragma once
#include <string>

#include "platform/paths.h"

namespace hhsync {

// The program directory is the one given, else $HHSYNC_HOME, else the
// directory of the running executable. Files are POSIX files; exclusive
// opens hold an advisory lock for as long as they are open.
class EnvPaths final : public Paths {
 public:
  explicit EnvPaths(std::string dir = "") : dir_(std::move(dir)) {}
  std::string ProgramDir() override;
  std::unique_ptr<OutputFile> OpenExclusiveAppend(const std::string& path) override;
  std::unique_ptr<OutputFile> CreateFile(const std::string& path) override;

 private:
  std::string dir_;
};

}  // namespace hhsync
