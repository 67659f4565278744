#pragma once
// Where the program's own files live (S.DAT, sync.txt, downloaded
// installation files sit in the program directory) and the two ways the
// program writes files there.
//
// Thread safety: safe to call from any thread; an OutputFile is used by one
// thread at a time.

#include <cstddef>
#include <memory>
#include <string>

namespace hhsync {

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

class Paths {
 public:
  Paths() = default;
  virtual ~Paths() = default;
  Paths(const Paths&) = delete;
  Paths& operator=(const Paths&) = delete;

  // The program directory, without a trailing separator.
  virtual std::string ProgramDir() = 0;
  // The path of a file in the program directory.
  std::string InProgramDir(const std::string& fileName) { return ProgramDir() + "/" + fileName; }

  // Opens a file for appending, creating it when missing, with no sharing:
  // while it is open no other process can open it this way. Null on failure.
  virtual std::unique_ptr<OutputFile> OpenExclusiveAppend(const std::string& path) = 0;
  // Creates a file for writing, replacing an existing one. Null on failure.
  virtual std::unique_ptr<OutputFile> CreateFile(const std::string& path) = 0;
};

}  // namespace hhsync
