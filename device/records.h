#pragma once
// The record conventions every reader and writer of handheld records follows:
// reads ask for a fixed list of properties and match the answers by
// identifier; writes always add a new record with all its properties in one
// call; a refused write is judged by the handheld's error code.
//
// A call over the cable may fail once and succeed when asked again, so reads
// and deletes are tried a second time before they count as failed, and a
// failed read is told apart from the end of a database: a reader that took
// one for the other would treat records it never saw as gone.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device/db_handle.h"
#include "platform/rapi.h"

namespace hhsync {

class DbFailureSink;

// What reading the next record of a database came to.
enum class ReadOutcome {
  kRecord,  // a record was read
  kEnd,     // the database has no more records
  kFailed,  // no record was read for another reason, even after a second try
};

struct RecordRead {
  CEOID oid = 0;  // the record read; 0 unless a record was read
  ReadOutcome outcome = ReadOutcome::kEnd;
};

// Reads the next record of an open database; values are those the handheld
// returned. A handle that is not open fails.
RecordRead ReadNextRecord(Rapi& rapi, const DbHandle& handle, const std::vector<CEPROPID>& wanted,
                          std::vector<CePropVal>* values);

// Reads the next record like ReadNextRecord and hands each value the
// handheld returned to take, matched by identifier. A value flagged as
// missing is skipped; with failures given it is first told there.
RecordRead ReadRecordValues(Rapi& rapi, DbFailureSink* failures, const DbHandle& handle,
                            const std::vector<CEPROPID>& wanted,
                            const std::function<void(const CePropVal&)>& take);

struct WriteResult {
  bool ok = false;
  CEOID oid = 0;  // the new record's id when written
  // When the write failed: the handheld's error code, and the text that a
  // writer may log ("ERROR_INVALID_PARAMETER", "ERROR_DISK_FULL", the
  // desktop's own error text when the handheld reported no code, or the code
  // itself for any other refusal).
  uint32_t error = 0;
  std::string failureText;
};

// Writes one new record. A handle that is not open fails at once without a call. A
// write the handheld did not do (no record id came back) is a failure
// whatever its error code: counting it as done would record content as
// present that is not there.
WriteResult WriteNewRecord(Rapi& rapi, const DbHandle& handle,
                           const std::vector<CePropVal>& values);

// Deletes a record by id; an id of 0 is never sent. A refused delete is
// tried once more. True when the handheld reported the record deleted.
bool DeleteRecordById(Rapi& rapi, const DbHandle& handle, CEOID oid);

// Property identifiers of the three value types.
constexpr CEPROPID UintProp(uint16_t number) { return MakePropId(number, CEVT_UI4); }
constexpr CEPROPID TextProp(uint16_t number) { return MakePropId(number, CEVT_LPWSTR); }
constexpr CEPROPID BlobProp(uint16_t number) { return MakePropId(number, CEVT_BLOB); }

}  // namespace hhsync
