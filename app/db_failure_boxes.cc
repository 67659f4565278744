#include "app/db_failure_boxes.h"

#include "platform/prompter.h"

namespace hhsync {

namespace {

constexpr MessageBoxStyle kPlain{MbButtons::kOk, MbIcon::kNone, false};
constexpr MessageBoxStyle kStopOk{MbButtons::kOk, MbIcon::kStop, true};
constexpr MessageBoxStyle kStopYesNo{MbButtons::kYesNo, MbIcon::kStop, true};

struct Box {
  std::string text;
  MessageBoxStyle style;
};

Box BoxFor(DbFailure failure, const std::string& database) {
  switch (failure) {
    case DbFailure::kMountBadParameter:
      return {"ERROR_INVALID_PARAMETER", kPlain};
    case DbFailure::kMountDiskFull:
      return {"ERROR_DISK_FULL", kPlain};
    case DbFailure::kMountUnnamed:
      return {"ERROR OPENING DATABASE ON PPC", kPlain};
    case DbFailure::kOpenBadParameter:
      return {"could not open database bad parameter:" + database, kStopOk};
    case DbFailure::kOpenNoMemory:
      return {"could not open database not enough memory", kStopYesNo};
    case DbFailure::kCreateDupName:
      return {"could not create database dupe name", kPlain};
    case DbFailure::kReopenBadParameter:
      return {"could not open database bad parameter", kStopOk};
    case DbFailure::kReopenNoMemory:
      return {"could not open database not enough memory", kStopOk};
    case DbFailure::kCountFailed:
      return {"DB Problem", kStopYesNo};
    case DbFailure::kPropertyMissing:
      return {"prop not found", MessageBoxStyle{}};
  }
  return {"", kPlain};
}

}  // namespace

void DbFailureBoxes::Failed(DbFailure failure, const std::string& database) {
  const Box box = BoxFor(failure, database);
  prompter_.MessageBox(box.text, box.style);
}

}  // namespace hhsync
