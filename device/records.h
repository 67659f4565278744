#pragma once
// The record conventions every reader and writer of handheld records follows:
// reads ask for a fixed list of properties and match the answers by
// identifier; writes always add a new record with all its properties in one
// call; a refused write is judged by the handheld's error code.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/rapi.h"

namespace hhsync {

// Reads the next record of an open database. Returns its id, 0 when no record
// was read (the end, or a failure); values are those the handheld returned.
CEOID ReadNextRecord(Rapi& rapi, CeDbHandle handle, const std::vector<CEPROPID>& wanted,
                     std::vector<CePropVal>* values);

struct WriteResult {
  bool ok = false;
  // When the write failed: the handheld's error code, and the text that a
  // writer may log ("ERROR_INVALID_PARAMETER", "ERROR_DISK_FULL", or the
  // desktop's own error text when the handheld reported no code).
  uint32_t error = 0;
  std::string failureText;
};

// Writes one new record. An invalid handle fails at once without a call. A
// write the handheld refused still counts as done unless its error code is
// 87 (invalid parameter), 112 (disk full) or 0 (no code at all).
WriteResult WriteNewRecord(Rapi& rapi, CeDbHandle handle, const std::vector<CePropVal>& values);

// Deletes a record by id; an id of 0 is never sent. The result is ignored.
void DeleteRecordById(Rapi& rapi, CeDbHandle handle, CEOID oid);

// Property identifiers of the three value types.
constexpr CEPROPID UintProp(uint16_t number) { return MakePropId(number, CEVT_UI4); }
constexpr CEPROPID TextProp(uint16_t number) { return MakePropId(number, CEVT_LPWSTR); }
constexpr CEPROPID BlobProp(uint16_t number) { return MakePropId(number, CEVT_BLOB); }

}  // namespace hhsync
