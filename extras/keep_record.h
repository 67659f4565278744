#pragma once
// KeepRecord: one entry of the handheld's "keep" database, read property by
// property and turned into one escaped text line for the keep list upload.
//
// Thread safety: none; used by the thread that runs the sync.

#include <cstdint>
#include <string>

#include "device/db_handle.h"
#include "platform/rapi.h"

namespace hhsync {

class DeviceDatabase;

class KeepRecord {
 public:
  // Property numbers of a keep entry.
  static constexpr uint16_t kValueProp = 100;  // number
  static constexpr uint16_t kTextProp101 = 101;
  static constexpr uint16_t kTextProp103 = 103;
  static constexpr uint16_t kTextProp104 = 104;
  static constexpr uint16_t kTextProp105 = 105;

  // Reads the next record of an open database: properties 100 (number) and
  // 101, 103, 104, 105 (text) of a database on volume. Every property the
  // record lacks is told to the volume's failure sink and leaves its field
  // empty (or 0). When no
  // record is left, every field stays empty; readFailed() tells whether a
  // record should have been there but could not be read.
  KeepRecord(const DeviceDatabase& volume, const DbHandle& handle);
  // An entry with the given fields.
  KeepRecord(uint32_t value100, std::string text101, std::string text103, std::string text104,
             std::string text105);
  virtual ~KeepRecord() = default;
  KeepRecord(const KeepRecord&) = delete;
  KeepRecord& operator=(const KeepRecord&) = delete;

  // "%u|%s|%s|%s|%s" of value100, text104, text101, text105, text103 (every
  // "|" of text103 replaced by a blank, which stays in text103), then
  // escaped in this order: "%" "&" "#" "*" "$" blank LF CR become "%25",
  // "%26", "%23", "%2a", "%24", "+", "%0a", "%0d". Nothing else changes.
  std::string ToText();

  // An entry whose text101 begins with "m:" asks for a page.
  bool IsPageRequest() const { return isPageRequest_; }

  uint32_t value100() const { return value100_; }
  const std::string& text101() const { return text101_; }
  const std::string& text103() const { return text103_; }
  const std::string& text104() const { return text104_; }
  const std::string& text105() const { return text105_; }
  // The id of the record read, 0 when none was.
  CEOID oid() const { return oid_; }
  bool readFailed() const { return readFailed_; }

 private:
  void UpdatePageRequest();

  CEOID oid_ = 0;
  bool readFailed_ = false;
  uint32_t value100_ = 0;
  std::string text101_;
  std::string text103_;
  std::string text104_;
  std::string text105_;
  bool isPageRequest_ = false;
};

// The escaping of a keep entry's text form (see KeepRecord::ToText).
std::string EscapeKeepText(const std::string& text);

}  // namespace hhsync
