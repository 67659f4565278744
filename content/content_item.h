#pragma once
// One content item of the profile and its data. A ContentItem is built from
// one status line of the profile reply (or read back from a category's
// content table on the handheld). Its data comes from the server as one
// ".edm" body: a record count followed by length-prefixed data records, all
// numbers unsigned 32-bit, most significant byte first. The item writes
// itself onto the handheld: an index record into the category's content table
// and, when it holds more than one data record, the two halves of every
// record into the record databases "J" + id and "JJ" + id.
//
// Thread safety: none; used by the thread that runs the sync.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/db_handle.h"
#include "device/records.h"
#include "formats/edm.h"
#include "platform/rapi.h"
#include "settings/sync_context.h"

namespace hhsync {

class DeviceDatabase;
class Prompter;
class HttpRequest;
class ProgressSink;
class ServerLink;
class SyncSettings;
struct HttpError;

// Index record of a content table.
inline constexpr CEPROPID kPropContentId = 0x00640013;  // number
inline constexpr CEPROPID kPropVersion = 0x0065001F;
inline constexpr CEPROPID kPropTitle = 0x0067001F;
inline constexpr CEPROPID kPropField3 = 0x0068001F;
inline constexpr CEPROPID kPropField4 = 0x0069001F;
inline constexpr CEPROPID kPropField7 = 0x006A001F;
inline constexpr CEPROPID kPropInlineData = 0x006C0041;  // the only record's part 1
// Record databases "J" + id and "JJ" + id.
inline constexpr CEPROPID kPropPart1 = 0x007A0041;
inline constexpr CEPROPID kPropPart2 = 0x007B0041;
inline constexpr CEPROPID kPropSequence = 0x007C0013;

using ContentRecords = std::vector<EdmRecord>;

// Reads an .edm body (formats/edm.h) from an HTTP reply, appending the
// records to *records. With progress (may be null) and a count above 1 the
// lower bar gets the range count x 3 and steps once per record received. A
// body that outgrows kMaxEdmBodyBytes ends as a transfer error, as a cut
// connection does (*error filled).
EdmResult ReadEdmBody(HttpRequest& body, ProgressSink* progress, ContentRecords* records,
                      HttpError* error);

class ContentItem {
 public:
  ContentItem() = default;
  // The seven fields of a profile status line, in the order of the line.
  ContentItem(std::string_view title, std::string_view contentId, std::string_view field3,
              std::string_view field4, std::string_view version, std::string_view categoryKey,
              std::string_view field7);
  ContentItem(const ContentItem&) = delete;
  ContentItem& operator=(const ContentItem&) = delete;
  ContentItem(ContentItem&&) = default;
  ContentItem& operator=(ContentItem&&) = default;

  // Fetches baseUrl + "/update/data/" + id + "/" + version + ".edm" and
  // splits it into records. False only on a transfer error; a data problem
  // (bad URL, status other than 200, an unusable body) leaves downloadOk()
  // false and returns true.
  bool Download(const SyncContext& run);

  // Writes the index record into an open content table; one data record is
  // stored inside it. Failures are logged through progress. On success oid
  // names the record written.
  bool WriteIndexRecord(Rapi& rapi, const DbHandle& handle, ProgressSink& progress);
  // Reads the next index record (content id and version) of an open content
  // table on volume; a missing property is told to the volume's failure sink.
  ReadOutcome ReadIndexRecord(const DeviceDatabase& volume, const DbHandle& handle);
  // Writes part 1 or 2 of every record into "J" + id or "JJ" + id,
  // reopening and remounting on failure. True when every record was written.
  // *written (when given) is increased by the records written. A table that
  // cannot be opened or written is told to the user through prompter.
  bool WriteRecordTable(Prompter& prompter, int part, DeviceDatabase& database,
                        ProgressSink& progress, int* written = nullptr);
  // Deletes the index record this item was read from or last wrote (when it
  // has an id). True when the handheld reported it deleted.
  bool DeleteRecord(Rapi& rapi, const DbHandle& handle) const;
  // Releases the downloaded records; afterwards there is no record list.
  void FreeRecords() { records_.reset(); }
  // Number of downloaded records, 0 when there is no list.
  int RecordCount() const { return records_ ? static_cast<int>(records_->size()) : 0; }
  const ContentRecords* records() const { return records_.get(); }

  // The content id as a number (its leading decimal digits, 0 without any).
  int ContentIdNumber() const;
  // The data URL of this item under baseUrl.
  std::string DataUrl(const std::string& baseUrl) const;
  // Names of the item's record databases.
  std::string Part1DatabaseName() const { return "J" + std::string(contentId()); }
  std::string Part2DatabaseName() const { return "JJ" + std::string(contentId()); }

  bool downloadOk() const { return downloadOk_; }

  // The seven fields of the status line (an item read back from a content
  // table has only its content id and version).
  std::string_view title() const { return Field(kTitle); }
  std::string_view contentId() const { return Field(kContentId); }
  std::string_view field3() const { return Field(kField3); }
  std::string_view field4() const { return Field(kField4); }
  std::string_view version() const { return Field(kVersion); }
  std::string_view categoryKey() const { return Field(kCategoryKey); }
  std::string_view field7() const { return Field(kField7); }

  bool matched = false;      // an index record was matched to it in this pass
  bool isNew = true;         // no index record of it on the handheld
  bool needsUpdate = false;  // its index record differed and was deleted
  CEOID oid = 0;             // the index record it was read from or written as

 private:
  enum FieldIndex {
    kTitle,
    kContentId,
    kField3,
    kField4,
    kVersion,
    kCategoryKey,
    kField7,
    kFields
  };

  std::string_view Field(int index) const {
    const uint32_t begin = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(text_).substr(begin, ends_[index] - begin);
  }
  void SetFields(const std::array<std::string_view, kFields>& fields);

  // A profile can list millions of items, so each keeps its fields in one
  // block: the seven texts one after the other, and where each ends.
  std::string text_;
  std::array<uint32_t, kFields> ends_{};
  bool downloadOk_ = true;
  std::unique_ptr<ContentRecords> records_;
};

}  // namespace hhsync
