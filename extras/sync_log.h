#pragma once
// The optional text log of sync runs, sync.txt in the program directory.
//
// Every opening appends to the file (it is created when missing and never
// truncated) and starts with the entry "****Sync Started***". An entry is a
// header with the local time, "\r\n<Weekday>, <Month> <dd>, <yyyy> <hh:mm:ss>
// --\r\n", followed directly by the message bytes as given, with no line end
// after them; the next header ends the line. Each write goes straight to the
// file, so every entry is on disk once WriteEntry returns.
//
// The file is held exclusively while the log is open: a second opener, in
// this process or another, fails and shows "Unable to open log file.".
//
// Thread safety: WriteEntry may be called from several threads; the two
// writes of one entry are never interleaved with another entry's.

#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace hhsync {

class Clock;
class OutputFile;
class Paths;
class Prompter;

class SyncLog {
 public:
  // Opens the log and writes its first entry. Never throws: on failure the
  // message box is shown and openFailed() stays true; an owner keeps a
  // SyncLog only while openFailed() is false.
  SyncLog(Paths& paths, Clock& clock, Prompter& ui);
  virtual ~SyncLog();  // closes the file; nothing is written on closing
  SyncLog(const SyncLog&) = delete;
  SyncLog& operator=(const SyncLog&) = delete;

  bool openFailed() const { return openFailed_; }

  // Appends one entry: the time header, then text. Only for a log that is
  // open. False when the file refused a write (the entry may be partial).
  bool WriteEntry(std::string_view text);

  // The header for the broken-down time t, always with the English (C
  // locale) weekday and month names.
  static std::string FormatHeader(const std::tm& t);

 private:
  Clock& clock_;
  bool openFailed_ = true;
  std::unique_ptr<OutputFile> file_;
  std::mutex mu_;  // holds one entry's two writes together
};

}  // namespace hhsync
