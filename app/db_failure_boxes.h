#pragma once
// DbFailureBoxes: how the run tells the user of a failure on the handheld's
// database volume: one message box, shown the moment the storage layer
// reports the failure, with the text and style that failure has always had.
//
// Thread safety: none; used by the thread that runs the sync.

#include <string>

#include "device/db_failure.h"

namespace hhsync {

class Prompter;

class DbFailureBoxes final : public DbFailureSink {
 public:
  explicit DbFailureBoxes(Prompter& prompter) : prompter_(prompter) {}
  void Failed(DbFailure failure, const std::string& database) override;

 private:
  Prompter& prompter_;
};

}  // namespace hhsync
