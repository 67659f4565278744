#pragma once
#include <string>
#include <vector>

#include "platform/paths.h"

namespace hhsync {

// The program directory is the one given, else %HHSYNC_HOME%, else the
// directory of the running executable (GetModuleFileNameA). Files are Win32
// files: an exclusive open shares nothing with other opens for as long as it
// is open; a replacement is written beside its target and moved over it.
class Win32Paths final : public Paths {
 public:
  explicit Win32Paths(std::string dir = "") : dir_(std::move(dir)) {}
  std::string ProgramDir() override;
  using Paths::ReadFile;
  bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* why) override;
  std::unique_ptr<OutputFile> OpenExclusiveAppend(const std::string& path) override;
  std::unique_ptr<PendingFile> CreateReplacement(const std::string& path) override;
  bool IsPlatformFile(const std::string& fileName) override;
  char Separator() const override { return '\\'; }

  // Marks a file of the platform's own (an executable, the handheld image):
  // when it lies in the program directory, its name counts as a platform
  // file.
  void Reserve(const std::string& path);

  // Removes the temporary files a killed run left in the program directory
  // (a download or report cut short). Only for a run that holds the
  // directory's lock: no other writer's file can be among them. Returns how
  // many went.
  int RemoveLeftoverTemporaries();

  // The prefix of temporary files in the program directory.
  static constexpr const char* kTempPrefix = ".hhsync-";
  static constexpr const char* kReplacementPrefix = ".hhsync-download-";

 private:
  std::string dir_;
  std::vector<std::string> reserved_;  // file names, lower case
};

// The path of the running executable; empty when it cannot be found.
std::string ModulePath();

// The directory part of a path with either separator; "." when it has none.
std::string DirectoryOfPath(const std::string& path);

}  // namespace hhsync
