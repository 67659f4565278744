#include "desktop_faults.h"

#include <fcntl.h>
#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "command.h"
#include "sqlite_files.h"
#include "sweep_catalogue.h"

namespace hhctl {
namespace {

namespace fs = std::filesystem;

// Bytes that are no part of any SQLite file.
std::string Noise(std::size_t size) {
  std::string out(size, '\0');
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>((i * 197 + 11) & 0xFF);
  return out;
}

// The companions SQLite keeps beside a file in WAL mode.
void RemoveCompanions(const fs::path& path) {
  std::error_code ec;
  fs::remove(path.string() + "-wal", ec);
  fs::remove(path.string() + "-shm", ec);
  fs::remove(path.string() + "-journal", ec);
}

class Unmoved : public DesktopFault {
 public:
  explicit Unmoved(DesktopPlace place) : place_(std::move(place)) {}
  DesktopPlace RunPlace() const override { return place_; }

 protected:
  DesktopPlace place_;
};

// Another process holds the store's lock for the whole run.
class StoreLocked final : public Unmoved {
 public:
  explicit StoreLocked(const DesktopPlace& place) : Unmoved(place) {
    if (sqlite3_open_v2(place.store.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_exec(db_,
                     "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE;"
                     " SELECT count(*) FROM sqlite_master;",
                     nullptr, nullptr, nullptr) != SQLITE_OK) {
      const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      throw Failure("cannot lock " + place.store.string() + ": " + why);
    }
  }
  ~StoreLocked() override {
    sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
  }
  std::vector<std::string> CauseWords() const override { return {"registry store"}; }

 private:
  sqlite3* db_ = nullptr;
};

// A file replaced by a damaged copy, and put back afterwards.
class DamagedFile final : public Unmoved {
 public:
  enum class Damage { kHeader, kMiddle, kHalf, kEmpty };
  DamagedFile(const DesktopPlace& place, fs::path file, Damage damage,
              std::vector<std::string> words)
      : Unmoved(place), file_(std::move(file)), words_(std::move(words)) {
    Quiesce(file_);
    saved_ = ReadBytes(file_);
    std::string bytes = saved_;
    switch (damage) {
      case Damage::kHeader:
        bytes.replace(0, std::min<std::size_t>(100, bytes.size()), Noise(100));
        break;
      case Damage::kMiddle: {
        const std::size_t from = bytes.size() / 3;
        bytes.replace(from, bytes.size() / 3, Noise(bytes.size() / 3));
        break;
      }
      case Damage::kHalf:
        bytes.resize(bytes.size() / 2);
        break;
      case Damage::kEmpty:
        bytes.clear();
        break;
    }
    WriteBytes(file_, bytes);
  }
  ~DamagedFile() override {
    RemoveCompanions(file_);
    try {
      WriteBytes(file_, saved_);
    } catch (const Failure&) {
    }
  }
  std::vector<std::string> CauseWords() const override { return words_; }

 private:
  fs::path file_;
  std::vector<std::string> words_;
  std::string saved_;
};

// The program directory made read-only by a read-only bind mount over it.
class ReadOnlyDirectory final : public Unmoved {
 public:
  explicit ReadOnlyDirectory(const DesktopPlace& place) : Unmoved(place) {
    Quiesce(place.image);
    Quiesce(place.store);
    const char* dir = place.home.c_str();
    if (::mount(dir, dir, nullptr, MS_BIND, nullptr) != 0) {
      throw Failure("cannot bind " + place.home.string() + ": " + std::strerror(errno));
    }
    if (::mount(nullptr, dir, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
      const int e = errno;
      ::umount2(dir, MNT_DETACH);
      throw Failure("cannot make " + place.home.string() + " read-only: " + std::strerror(e));
    }
  }
  ~ReadOnlyDirectory() override { ::umount2(place_.home.c_str(), MNT_DETACH); }
  std::vector<std::string> CauseWords() const override {
    return {"Read-only file system", "readonly"};
  }
};

// The program directory copied onto a small file system with next to no
// room left, and copied back with whatever the run left in it.
class FullDirectory final : public DesktopFault {
 public:
  static constexpr std::size_t kRoomLeft = 64 * 1024;

  explicit FullDirectory(const DesktopPlace& place) : home_(place), run_(place) {
    Quiesce(place.image);
    Quiesce(place.store);
    run_.home = place.scratch / "full";
    run_.image = run_.home / place.image.filename();
    run_.store = run_.home / place.store.filename();
    fs::create_directories(run_.home);
    std::uintmax_t used = 0;
    for (const auto& entry : fs::recursive_directory_iterator(place.home)) {
      if (entry.is_regular_file()) used += entry.file_size();
    }
    const std::string size = "size=" + std::to_string(used + 4 * kRoomLeft);
    if (::mount("tmpfs", run_.home.c_str(), "tmpfs", 0, size.c_str()) != 0) {
      throw Failure("cannot mount a small file system: " + std::string(std::strerror(errno)));
    }
    mounted_ = true;
    fs::copy(place.home, run_.home, fs::copy_options::recursive);
    Fill();
  }
  ~FullDirectory() override {
    std::error_code ec;
    fs::remove(filler(), ec);
    for (const auto& entry : fs::directory_iterator(home_.home, ec)) fs::remove_all(entry, ec);
    fs::copy(run_.home, home_.home, fs::copy_options::recursive, ec);
    if (mounted_) ::umount2(run_.home.c_str(), MNT_DETACH);
  }
  DesktopPlace RunPlace() const override { return run_; }
  std::vector<std::string> CauseWords() const override { return {"full", "No space left"}; }

 private:
  fs::path filler() const { return home_.scratch / "full" / ".filler"; }

  // Fills the file system, then gives back a little room.
  void Fill() {
    const int fd = ::open(filler().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) throw Failure("cannot fill " + run_.home.string());
    const std::string block(64 * 1024, 'f');
    off_t size = 0;
    for (;;) {
      const ssize_t n = ::write(fd, block.data(), block.size());
      if (n <= 0) break;
      size += n;
    }
    const int failed = ::ftruncate(fd, size > static_cast<off_t>(kRoomLeft) ? size - kRoomLeft : 0);
    ::close(fd);
    if (failed != 0) throw Failure("cannot make room in " + run_.home.string());
  }

  DesktopPlace home_;
  DesktopPlace run_;
  bool mounted_ = false;
};

}  // namespace

const std::vector<std::string>& DesktopFaultNames() {
  static const std::vector<std::string> kNames = {
      "store-locked",    "store-corrupt", "dir-readonly", "disk-full",
      "image-truncated", "image-corrupt", "image-empty"};
  return kNames;
}

bool PrivateMountNamespace(std::string* why) {
  if (::unshare(CLONE_NEWNS) != 0) {
    *why = std::string("no mount namespace of its own: ") + std::strerror(errno);
    return false;
  }
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    *why = std::string("mounts cannot be made private: ") + std::strerror(errno);
    return false;
  }
  return true;
}

std::unique_ptr<DesktopFault> MakeDesktopFault(const std::string& name, const DesktopPlace& place,
                                               bool mounts, std::string* why) {
  using Damage = DamagedFile::Damage;
  const std::vector<std::string> image = {"handheld image"};
  if (name == "store-locked") return std::make_unique<StoreLocked>(place);
  if (name == "store-corrupt") {
    return std::make_unique<DamagedFile>(place, place.store, Damage::kHeader,
                                         std::vector<std::string>{"registry store"});
  }
  if (name == "image-truncated") {
    return std::make_unique<DamagedFile>(place, place.image, Damage::kHalf, image);
  }
  if (name == "image-corrupt") {
    return std::make_unique<DamagedFile>(place, place.image, Damage::kMiddle, image);
  }
  if (name == "image-empty") {
    return std::make_unique<DamagedFile>(place, place.image, Damage::kEmpty, image);
  }
  if (name == "dir-readonly" || name == "disk-full") {
    if (!mounts) {
      *why = "needs a mount namespace of its own, which this process could not have";
      return nullptr;
    }
    if (name == "dir-readonly") return std::make_unique<ReadOnlyDirectory>(place);
    return std::make_unique<FullDirectory>(place);
  }
  *why = "unknown desktop fault " + name;
  return nullptr;
}

}  // namespace hhctl
