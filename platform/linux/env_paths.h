#pragma once
#include <string>
#include <vector>

#include "platform/paths.h"

namespace hhsync {

// The program directory is the one given, else $HHSYNC_HOME, else the
// directory of the running executable. Files are POSIX files; exclusive
// opens hold an advisory lock for as long as they are open.
class EnvPaths final : public Paths {
 public:
  explicit EnvPaths(std::string dir = "") : dir_(std::move(dir)) {}
  std::string ProgramDir() override;
  using Paths::ReadFile;
  bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* why) override;
  std::unique_ptr<OutputFile> OpenExclusiveAppend(const std::string& path) override;
  std::unique_ptr<PendingFile> CreateReplacement(const std::string& path) override;
  bool IsPlatformFile(const std::string& fileName) override;

  // Marks a file of the platform's own (a store, an executable): when it
  // lies in the program directory, its name and its companions' names
  // ("-wal", "-shm", "-journal") count as platform files.
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
std::string ExecutablePath();

}  // namespace hhsync
