#include "device/records.h"

#include "device/db_failure.h"

namespace hhsync {

RecordRead ReadNextRecord(Rapi& rapi, const DbHandle& handle, const std::vector<CEPROPID>& wanted,
                          std::vector<CePropVal>* values) {
  values->clear();
  if (!handle.open()) return {0, ReadOutcome::kFailed};
  for (int attempt = 0; attempt < 2; ++attempt) {
    CEOID oid = rapi.CeReadRecordProps(handle.get(), CEDB_ALLOWREALLOC, wanted, values);
    if (oid != 0) return {oid, ReadOutcome::kRecord};
    // The end of the database is an answer, not a failure.
    if (rapi.CeGetLastError() == ce_error::kNoMoreItems) return {0, ReadOutcome::kEnd};
  }
  return {0, ReadOutcome::kFailed};
}

RecordRead ReadRecordValues(Rapi& rapi, DbFailureSink* failures, const DbHandle& handle,
                            const std::vector<CEPROPID>& wanted,
                            const std::function<void(const CePropVal&)>& take) {
  std::vector<CePropVal> values;
  const RecordRead read = ReadNextRecord(rapi, handle, wanted, &values);
  if (read.outcome != ReadOutcome::kRecord) return read;
  for (const CePropVal& value : values) {
    if (value.flags & CEDB_PROPNOTFOUND) {
      if (failures) failures->Failed(DbFailure::kPropertyMissing, "");
      continue;
    }
    take(value);
  }
  return read;
}

WriteResult WriteNewRecord(Rapi& rapi, const DbHandle& handle,
                           const std::vector<CePropVal>& values) {
  WriteResult result;
  if (!handle.open()) return result;
  result.oid = rapi.CeWriteRecordProps(handle.get(), 0, values);
  if (result.oid != 0) {
    result.ok = true;
    return result;
  }
  result.error = rapi.CeGetLastError();
  switch (result.error) {
    case ce_error::kInvalidParameter:
      result.failureText = "ERROR_INVALID_PARAMETER";
      break;
    case ce_error::kDiskFull:
      result.failureText = "ERROR_DISK_FULL";
      break;
    case 0:
      // No handheld code: the connection itself failed; the desktop's own
      // error says why.
      result.failureText = rapi.DesktopErrorText();
      break;
    default:
      result.failureText = "write refused with error " + std::to_string(result.error);
      break;
  }
  return result;
}

bool DeleteRecordById(Rapi& rapi, const DbHandle& handle, CEOID oid) {
  if (oid == 0) return false;
  return rapi.CeDeleteRecord(handle.get(), oid) || rapi.CeDeleteRecord(handle.get(), oid);
}

}  // namespace hhsync
