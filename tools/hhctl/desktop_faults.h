#pragma once
// What can go wrong on the PC's side while hhsync runs, for `hhctl sweep`:
// the registry store locked by another process or damaged, the program
// directory read-only or full, the handheld image cut short, damaged or
// empty. A fault is set up on a program directory that no run is using and
// undone when its object is destroyed: the lock released, the damaged file
// back as it was, the directory writable again with what the run left in
// it.
//
// The read-only and the full directory are mounts. The sweep first moves
// into a mount namespace of its own (PrivateMountNamespace), so that no
// mount outlives it; where that is not allowed, those two faults are not
// available and say why.
//
// Thread safety: PrivateMountNamespace before any thread starts; faults are
// used by one thread.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace hhctl {

// A program directory and the files in it that the faults touch.
struct DesktopPlace {
  std::filesystem::path home;
  std::filesystem::path image;    // the handheld image
  std::filesystem::path store;    // the desktop registry store
  std::filesystem::path scratch;  // a directory of the fault's own, outside home
};

class DesktopFault {
 public:
  DesktopFault() = default;
  virtual ~DesktopFault() = default;  // undoes the fault
  DesktopFault(const DesktopFault&) = delete;
  DesktopFault& operator=(const DesktopFault&) = delete;

  // Where the faulted run finds its program directory and files.
  virtual DesktopPlace RunPlace() const = 0;
  // What the run's report must name as the cause: one of these words.
  virtual std::vector<std::string> CauseWords() const = 0;
};

// "store-locked", "store-corrupt", "dir-readonly", "disk-full",
// "image-truncated", "image-corrupt", "image-empty".
const std::vector<std::string>& DesktopFaultNames();

// Moves this process into a mount namespace of its own whose mounts do not
// reach the system's. False with *why when mounting is not allowed here.
bool PrivateMountNamespace(std::string* why);

// Sets up the named fault on place, whose stores must have no open
// connection. mounts: whether PrivateMountNamespace succeeded. Null with
// *why when the fault cannot be had here.
std::unique_ptr<DesktopFault> MakeDesktopFault(const std::string& name, const DesktopPlace& place,
                                               bool mounts, std::string* why);

}  // namespace hhctl
