#include "device/records.h"

#include <cerrno>
#include <cstring>

namespace hhsync {

CEOID ReadNextRecord(Rapi& rapi, CeDbHandle handle, const std::vector<CEPROPID>& wanted,
                     std::vector<CePropVal>* values) {
  values->clear();
  if (handle == kInvalidHandle || handle == 0) return 0;
  return rapi.CeReadRecordProps(handle, CEDB_ALLOWREALLOC, wanted, values);
}

WriteResult WriteNewRecord(Rapi& rapi, CeDbHandle handle, const std::vector<CePropVal>& values) {
  WriteResult result;
  if (handle == kInvalidHandle || handle == 0) return result;
  errno = 0;
  if (rapi.CeWriteRecordProps(handle, 0, values) != 0) {
    result.ok = true;
    return result;
  }
  int desktopError = errno;
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
      result.failureText = std::strerror(desktopError);
      break;
    default:
      result.ok = true;
      break;
  }
  return result;
}

void DeleteRecordById(Rapi& rapi, CeDbHandle handle, CEOID oid) {
  if (oid != 0) rapi.CeDeleteRecord(handle, oid);
}

}  // namespace hhsync
