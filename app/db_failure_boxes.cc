#include "app/db_failure_boxes.h"

#include "platform/prompter.h"

namespace hhsync {

namespace {

constexpr MessageBoxStyle kPlain{MbButtons::kOk, MbIcon::kNone, false};
constexpr MessageBoxStyle kStopOk{MbButtons::kOk, MbIcon::kStop, true};
constexpr MessageBoxStyle kStopYesNo{MbButtons::kYesNo, MbIcon::kStop, true};

}  // namespace

void DbFailureBoxes::Failed(DbFailure failure, const std::string& database) {
  switch (failure) {
    case DbFailure::kMountBadParameter:
      prompter_.MessageBox("ERROR_INVALID_PARAMETER", kPlain);
      return;
    case DbFailure::kMountDiskFull:
      prompter_.MessageBox("ERROR_DISK_FULL", kPlain);
      return;
    case DbFailure::kMountUnnamed:
      prompter_.MessageBox("ERROR OPENING DATABASE ON PPC", kPlain);
      return;
    case DbFailure::kOpenBadParameter:
      prompter_.MessageBox("could not open database bad parameter:" + database, kStopOk);
      return;
    case DbFailure::kOpenNoMemory:
      prompter_.MessageBox("could not open database not enough memory", kStopYesNo);
      return;
    case DbFailure::kCreateDupName:
      prompter_.MessageBox("could not create database dupe name", kPlain);
      return;
    case DbFailure::kReopenBadParameter:
      prompter_.MessageBox("could not open database bad parameter", kStopOk);
      return;
    case DbFailure::kReopenNoMemory:
      prompter_.MessageBox("could not open database not enough memory", kStopOk);
      return;
    case DbFailure::kCountFailed:
      prompter_.MessageBox("DB Problem", kStopYesNo);
      return;
    case DbFailure::kPropertyMissing:
      prompter_.MessageBox("prop not found", MessageBoxStyle{});
      return;
  }
}

}  // namespace hhsync
