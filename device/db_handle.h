#pragma once
// DbHandle: an open database on the handheld, closed when the DbHandle goes
// away or is given another database. Move-only. A default DbHandle holds
// nothing, and so does one made from a failed open (kInvalidHandle, or 0,
// which the handheld never hands out for an open database).
//
// Thread safety: none; used by the thread that runs the sync.

#include <utility>

#include "platform/rapi.h"

namespace hhsync {

class DbHandle {
 public:
  DbHandle() = default;
  // Takes over raw, an answer of rapi's CeOpenDatabaseEx.
  DbHandle(Rapi& rapi, CeDbHandle raw) : rapi_(&rapi), raw_(raw == 0 ? kInvalidHandle : raw) {}
  ~DbHandle() { Close(); }
  DbHandle(DbHandle&& other) noexcept
      : rapi_(other.rapi_), raw_(std::exchange(other.raw_, kInvalidHandle)) {}
  DbHandle& operator=(DbHandle&& other) noexcept {
    if (this != &other) {
      Close();
      rapi_ = other.rapi_;
      raw_ = std::exchange(other.raw_, kInvalidHandle);
    }
    return *this;
  }
  DbHandle(const DbHandle&) = delete;
  DbHandle& operator=(const DbHandle&) = delete;

  bool open() const { return raw_ != kInvalidHandle; }
  // The handle for a remote call; kInvalidHandle when nothing is open.
  CeDbHandle get() const { return raw_; }
  void Close() {
    if (open()) rapi_->CeCloseHandle(raw_);
    raw_ = kInvalidHandle;
  }

 private:
  Rapi* rapi_ = nullptr;
  CeDbHandle raw_ = kInvalidHandle;
};

}  // namespace hhsync
