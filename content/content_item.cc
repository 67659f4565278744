#include "content/content_item.h"

#include <cstdio>
#include <memory>
#include <utility>

#include "base/progress_sink.h"
#include "base/text.h"
#include "device/device_database.h"
#include "device/records.h"
#include "net/server_link.h"
#include "platform/http.h"
#include "platform/prompter.h"
#include "settings/registry_key.h"
#include "settings/sync_settings.h"

namespace hhsync {

namespace {

constexpr MessageBoxStyle kOkBox{};
constexpr MessageBoxStyle kSystemModalOk{MbButtons::kOk, MbIcon::kNone, true};
// The longest error text a transfer failure puts into the log.
constexpr std::size_t kMaxErrorText = 1024;

uint32_t BigEndian32(const uint8_t* b) {
  return (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
         (static_cast<uint32_t>(b[2]) << 8) | static_cast<uint32_t>(b[3]);
}

// Reads one 4-byte big-endian number. Returns the number of bytes that
// arrived (0 at the end of the body, -1 on a transfer error); missing bytes
// read as zero.
long long ReadWord(HttpRequest& body, uint32_t* value, HttpError* error) {
  uint8_t bytes[4] = {0, 0, 0, 0};
  long long got = body.Read(bytes, sizeof bytes, error);
  *value = BigEndian32(bytes);
  return got;
}

}  // namespace

std::optional<ContentRecord> ContentRecord::Make(const uint8_t* bytes, uint32_t length,
                                                 bool whole) {
  ContentRecord record;
  if (whole) {
    // Padded to the next multiple of 4 above the length: 1 to 4 zero bytes.
    record.part1_.assign(bytes, bytes + length);
    record.part1_.resize(static_cast<std::size_t>(length) + 4 - length % 4, 0);
    record.single_ = true;
    return record;
  }
  if (length < 8) return std::nullopt;  // no room for the split point
  uint32_t split = BigEndian32(bytes + 4);
  if (split > length) return std::nullopt;
  record.part1_.assign(bytes, bytes + split);
  record.part2_.assign(bytes + split, bytes + length);
  record.single_ = false;
  return record;
}

bool ContentRecord::WritePart(Rapi& rapi, int part, CeDbHandle handle, uint32_t sequence) const {
  if (handle == kInvalidHandle || handle == 0) return false;
  std::vector<CePropVal> values;
  if (part == 1) {
    values.push_back(CePropVal::Blob(kPropPart1, part1_));
  } else {
    values.push_back(CePropVal::Blob(kPropPart2, part2_));
  }
  values.push_back(CePropVal::Ui4(kPropSequence, sequence));
  return WriteNewRecord(rapi, handle, values).ok;
}

EdmResult ReadEdmBody(HttpRequest& body, ProgressSink* progress, ContentRecords* records,
                      HttpError* error) {
  uint32_t count = 0;
  if (ReadWord(body, &count, error) < 0) return EdmResult::kTransferError;
  // The announced count decides the form of every record.
  const bool split = count > 1;
  const bool counting = split && progress != nullptr;
  if (counting) progress->ResetDetail(static_cast<int>(count * 3u));

  uint32_t length = 0;
  long long got = ReadWord(body, &length, error);
  if (got < 0) return EdmResult::kTransferError;
  if (got == 0) return EdmResult::kNoRecords;
  if (got < 4) return EdmResult::kMalformed;

  std::vector<uint8_t> buffer;
  std::size_t kept = 0;
  for (;;) {
    if (length > kMaxEdmRecordLength) return EdmResult::kRecordTooLong;
    // Each record costs its bytes and its own bookkeeping, so that a body of
    // empty records cannot grow without end either.
    if ((kept += length + sizeof(ContentRecord)) > kMaxEdmBodyBytes) {
      *error = ReplyTooLong(kMaxEdmBodyBytes);
      return EdmResult::kTransferError;
    }
    buffer.assign(static_cast<std::size_t>(length) + 1, 0);
    if (counting) progress->StepDetail();
    if (length > 0) {
      long long n = body.Read(buffer.data(), length, error);
      if (n < 0) return EdmResult::kTransferError;
      if (n < static_cast<long long>(length)) return EdmResult::kMalformed;
    }
    std::optional<ContentRecord> record = ContentRecord::Make(buffer.data(), length, !split);
    if (!record) return EdmResult::kMalformed;
    records->push_back(std::move(*record));

    got = ReadWord(body, &length, error);
    if (got < 0) return EdmResult::kTransferError;
    if (got == 0) return EdmResult::kOk;
    if (got < 4) return EdmResult::kMalformed;
  }
}

ContentItem::ContentItem(std::string titleText, std::string id, std::string third,
                         std::string fourth, std::string versionText, std::string category,
                         std::string seventh)
    : title(std::move(titleText)),
      contentId(std::move(id)),
      field3(std::move(third)),
      field4(std::move(fourth)),
      version(std::move(versionText)),
      categoryKey(std::move(category)),
      field7(std::move(seventh)) {}

int ContentItem::ContentIdNumber() const { return AtoI(contentId); }

std::string ContentItem::DataUrl(const std::string& baseUrl) const {
  return baseUrl + "/update/data/" + contentId + "/" + version + ".edm";
}

bool ContentItem::Download(ProgressSink& progress, SyncSettings& settings, ServerLink& link) {
  downloadOk_ = true;
  std::unique_ptr<HttpSession> session =
      link.OpenSession(kConnectTimeoutMs, kConnectRetries);
  const std::string url = DataUrl(settings.baseUrl());
  ParsedUrl parsed;
  if (!ParseHttpUrl(url, &parsed)) {
    downloadOk_ = false;
    progress.LogLine(FormatText("Data Problem Loading :%s", url.c_str()));
    return true;
  }

  HttpError error;
  EdmResult result = EdmResult::kTransferError;
  std::unique_ptr<HttpRequest> request;
  if (session) {
    request = session->OpenRequest("GET", parsed.host, parsed.port, parsed.object, "HTTP/1.0");
  }
  if (!request) {
    error.code = http_error::kCannotConnect;
    error.message = "the request could not be opened";
  } else {
    link.AddStandardHeaders(*request);
    if (request->Send(std::string(), &error)) {
      int status = request->StatusCode();
      if (status != 200) {
        if (settings.logEnabled()) {
          progress.LogLine(FormatText("Data Problem Loading :%s %d", url.c_str(), status));
        }
        downloadOk_ = false;
        return true;
      }
      records_.emplace();
      result = ReadEdmBody(*request, &progress, &*records_, &error);
    }
  }

  switch (result) {
    case EdmResult::kOk:
      break;
    case EdmResult::kNoRecords:
      settings.OpenErrorPage(FormatText("jdb1[%d]", ContentIdNumber()));
      downloadOk_ = false;
      break;
    case EdmResult::kRecordTooLong:
      settings.OpenErrorPage(FormatText("jdb2[%d]", ContentIdNumber()));
      downloadOk_ = false;
      break;
    case EdmResult::kMalformed:
      progress.LogLine(FormatText("Data Problem Loading :%s", url.c_str()));
      downloadOk_ = false;
      break;
    case EdmResult::kTransferError: {
      std::string text = error.message.substr(0, kMaxErrorText);
      progress.LogLine(FormatText("j:%s-%s", contentId.c_str(), text.c_str()));
      downloadOk_ = false;  // the records read so far stay until the next try
      return false;
    }
  }
  return true;
}

bool ContentItem::WriteIndexRecord(Rapi& rapi, CeDbHandle handle, ProgressSink& progress) {
  if (handle == kInvalidHandle || handle == 0) return false;
  std::vector<CePropVal> values;
  values.push_back(CePropVal::Ui4(kPropContentId, static_cast<uint32_t>(ContentIdNumber())));
  values.push_back(CePropVal::Text(kPropVersion, AnsiToWide(version)));
  values.push_back(CePropVal::Text(kPropTitle, AnsiToWide(title)));
  values.push_back(CePropVal::Text(kPropField3, AnsiToWide(field3)));
  values.push_back(CePropVal::Text(kPropField4, AnsiToWide(field4)));
  values.push_back(CePropVal::Text(kPropField7, AnsiToWide(field7)));
  if (RecordCount() == 1)
    values.push_back(CePropVal::Blob(kPropInlineData, records_->front().part1()));
  WriteResult result = WriteNewRecord(rapi, handle, values);
  if (result.ok) {
    oid = result.oid;
    return true;
  }
  progress.LogLine(result.failureText);
  return false;
}

bool ContentItem::ReadIndexRecord(const Ports& ports, CeDbHandle handle, bool* failed) {
  const CEOID id = ReadRecordValues(
      *ports.rapi, ports.prompter, handle, {kPropContentId, kPropVersion},
      [this](const CePropVal& value) {
        if (value.propid == kPropContentId) {
          contentId = std::to_string(static_cast<int32_t>(value.ulVal));
        } else if (value.propid == kPropVersion) {
          version = WideToAnsi(value.lpwsz);
        }
      },
      failed);
  if (id == 0) return false;
  oid = id;
  return true;
}

bool ContentItem::WriteRecordTable(const Ports& ports, int part, DeviceDatabase& database,
                                   ProgressSink& progress) {
  if (!records_) {
    progress.LogLine(FormatText("Data Problem No Records :%s", contentId.c_str()));
    return false;
  }
  const std::string name = part == 1 ? Part1DatabaseName() : Part2DatabaseName();
  CeDbHandle handle = kInvalidHandle;
  CEOID dbOid = 0;
  if (!database.OpenOrCreate(name, kPropSequence, 0, &handle, &dbOid)) {
    database.Remount(30);
    database.Remount(40);
    if (!database.OpenOrCreate(name, kPropSequence, 0, &handle, &dbOid)) {
      std::string text = "1.Unable to Open database, please sync again." + name;
      progress.LogLine(text);
      ports.prompter->MessageBox(text, kSystemModalOk);
      return false;
    }
  }

  uint32_t sequence = 0;
  for (const ContentRecord& record : *records_) {
    progress.StepDetail();
    bool written = false;
    for (uint32_t attempt = 0; attempt < 3 && !written; ++attempt) {
      written = record.WritePart(*ports.rapi, part, handle, sequence);
      if (written) break;
      // Start over on a fresh mount and handle before the next try.
      database.CloseHandle(handle);
      database.Remount(10 + attempt);
      if (!database.OpenOrCreate(name, kPropSequence, 0, &handle, &dbOid)) {
        database.Remount(40 + attempt);
        if (!database.OpenOrCreate(name, kPropSequence, 0, &handle, &dbOid)) {
          ports.prompter->MessageBox("2.Unable to Open database, please sync again: " + name,
                                     kSystemModalOk);
          return false;
        }
      }
    }
    if (!written) {
      ports.prompter->MessageBox("Unable to write content, please sync again.", kSystemModalOk);
      database.CloseHandle(handle);
      return false;
    }
    ++sequence;
  }
  database.CloseHandle(handle);
  return true;
}

bool ContentItem::DeleteRecord(Rapi& rapi, CeDbHandle handle) const {
  return DeleteRecordById(rapi, handle, oid);
}

}  // namespace hhsync
