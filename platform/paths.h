#pragma once
// Where the program's own files live (S.DAT, sync.txt, downloaded
// installation files sit in the program directory), and how the program
// reads and writes files there.
//
// Thread safety: safe to call from any thread; an OutputFile is used by one
// thread at a time.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace hhsync {

// The program's own files in the program directory.
inline constexpr const char* kConfigFileName = "S.DAT";
inline constexpr const char* kLogFileName = "sync.txt";

// A file open for writing. Each Write goes straight to the operating system
// (nothing is buffered), so what was written survives a killed process.
class OutputFile {
 public:
  OutputFile() = default;
  virtual ~OutputFile() = default;  // closes the file
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Writes all bytes; false when the system refused.
  virtual bool Write(const void* data, std::size_t size) = 0;
};

// A file being written in place of another. The bytes go to a temporary file
// beside the target, which takes the target's place only on Commit, so a
// download that breaks off never leaves a half file under the real name.
// Destroyed without Commit, the temporary file is removed.
class PendingFile : public OutputFile {
 public:
  // Makes the bytes durable and renames them over the target. False (and
  // the target untouched) when that fails.
  virtual bool Commit() = 0;
};

class Paths {
 public:
  Paths() = default;
  virtual ~Paths() = default;
  Paths(const Paths&) = delete;
  Paths& operator=(const Paths&) = delete;

  // The program directory, without a trailing separator.
  virtual std::string ProgramDir() = 0;
  // The path of a file in the program directory, joined with the platform's
  // own separator (it reaches command lines other programs read).
  std::string InProgramDir(const std::string& fileName) {
    return ProgramDir() + Separator() + fileName;
  }
  virtual char Separator() const { return '/'; }

  // Reads a whole file into *bytes; false when it cannot be opened or read,
  // with *why (when given) saying why in the system's words.
  virtual bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* why) = 0;
  bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes) {
    return ReadFile(path, bytes, nullptr);
  }
  // Opens a file for appending, creating it when missing, with no sharing:
  // while it is open no other process can open it this way. Null on failure.
  virtual std::unique_ptr<OutputFile> OpenExclusiveAppend(const std::string& path) = 0;
  // Starts writing a replacement for the file at path. A symbolic link is
  // never followed: on Commit the link itself is replaced. Null on failure.
  virtual std::unique_ptr<PendingFile> CreateReplacement(const std::string& path) = 0;

  // Whether fileName names one of the files the platform keeps in the
  // program directory (the executables, the registry store, the handheld
  // image and their companions, temporary files), compared without regard
  // to case. Such a name must never be written from outside.
  virtual bool IsPlatformFile(const std::string& fileName) = 0;
};

// Writes text to path through a replacement file: the old file stays as it
// was until the whole text is there. False when that could not be done.
inline bool WriteWholeFile(Paths& paths, const std::string& path, const std::string& text) {
  std::unique_ptr<PendingFile> file = paths.CreateReplacement(path);
  return file && file->Write(text.data(), text.size()) && file->Commit();
}

}  // namespace hhsync
