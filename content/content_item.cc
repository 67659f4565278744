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

constexpr MessageBoxStyle kSystemModalOk{MbButtons::kOk, MbIcon::kNone, true};
// The longest error text a transfer failure puts into the log.
constexpr std::size_t kMaxErrorText = 1024;

// An .edm body read from an HTTP reply; a transfer error is kept.
class ReplySource final : public EdmSource {
 public:
  ReplySource(HttpRequest& reply, HttpError* error) : reply_(reply), error_(error) {}
  long long Read(void* buffer, std::size_t size) override {
    return reply_.Read(buffer, size, error_);
  }

 private:
  HttpRequest& reply_;
  HttpError* error_;
};

// Writes part 1 (into "J" + id) or part 2 (into "JJ" + id) of a record as one
// new record with its sequence number. True when the write counts as done.
bool WritePart(Rapi& rapi, const EdmRecord& record, int part, const DbHandle& handle,
               uint32_t sequence) {
  if (!handle.open()) return false;
  std::vector<CePropVal> values;
  if (part == 1) {
    values.push_back(CePropVal::Blob(kPropPart1, record.part1()));
  } else {
    values.push_back(CePropVal::Blob(kPropPart2, record.part2()));
  }
  values.push_back(CePropVal::Ui4(kPropSequence, sequence));
  return WriteNewRecord(rapi, handle, values).ok;
}

}  // namespace

EdmResult ReadEdmBody(HttpRequest& body, ProgressSink* progress, ContentRecords* records,
                      HttpError* error) {
  ReplySource source(body, error);
  // The announced count decides the form of every record; a split body is
  // counted on the lower bar.
  bool counting = false;
  EdmProgress steps;
  steps.onCount = [&](uint32_t count) {
    counting = count > 1 && progress != nullptr;
    if (counting) progress->ResetDetail(static_cast<int>(count * 3u));
  };
  steps.onRecord = [&] {
    if (counting) progress->StepDetail();
  };
  EdmResult result = ReadEdm(source, records, steps);
  if (result == EdmResult::kTooLarge) {
    *error = ReplyTooLong(kMaxEdmBodyBytes);
    return EdmResult::kTransferError;
  }
  return result;
}

ContentItem::ContentItem(std::string_view titleText, std::string_view id, std::string_view third,
                         std::string_view fourth, std::string_view versionText,
                         std::string_view category, std::string_view seventh) {
  SetFields({titleText, id, third, fourth, versionText, category, seventh});
}

void ContentItem::SetFields(const std::array<std::string_view, kFields>& fields) {
  std::size_t size = 0;
  for (std::string_view field : fields) size += field.size();
  std::string text;
  text.reserve(size);
  for (int i = 0; i < kFields; ++i) {
    text.append(fields[i]);
    ends_[i] = static_cast<uint32_t>(text.size());
  }
  text_ = std::move(text);
}

int ContentItem::ContentIdNumber() const { return AtoI(contentId()); }

std::string ContentItem::DataUrl(const std::string& baseUrl) const {
  std::string url = baseUrl + "/update/data/";
  url.append(contentId()).append("/").append(version()).append(".edm");
  return url;
}

bool ContentItem::Download(const SyncContext& run) {
  downloadOk_ = true;
  std::unique_ptr<HttpSession> session = run.link.OpenSession(kConnectTimeoutMs, kConnectRetries);
  const std::string url = DataUrl(run.settings.baseUrl());
  ParsedUrl parsed;
  if (!ParseHttpUrl(url, &parsed)) {
    downloadOk_ = false;
    run.progress.LogLine(FormatText("Data Problem Loading :%s", url.c_str()));
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
    run.link.AddStandardHeaders(*request);
    if (request->Send(std::string(), &error)) {
      int status = request->StatusCode();
      if (status != 200) {
        if (run.settings.logEnabled()) {
          run.progress.LogLine(FormatText("Data Problem Loading :%s %d", url.c_str(), status));
        }
        downloadOk_ = false;
        return true;
      }
      records_ = std::make_unique<ContentRecords>();
      result = ReadEdmBody(*request, &run.progress, records_.get(), &error);
    }
  }

  switch (result) {
    case EdmResult::kOk:
      break;
    case EdmResult::kNoRecords:
      run.settings.OpenErrorPage(FormatText("jdb1[%d]", ContentIdNumber()));
      downloadOk_ = false;
      break;
    case EdmResult::kRecordTooLong:
      run.settings.OpenErrorPage(FormatText("jdb2[%d]", ContentIdNumber()));
      downloadOk_ = false;
      break;
    case EdmResult::kMalformed:
      run.progress.LogLine(FormatText("Data Problem Loading :%s", url.c_str()));
      downloadOk_ = false;
      break;
    case EdmResult::kTooLarge:  // ReadEdmBody turns it into a transfer error
    case EdmResult::kTransferError: {
      std::string text = error.message.substr(0, kMaxErrorText);
      run.progress.LogLine(FormatText("j:%s-%s", std::string(contentId()).c_str(), text.c_str()));
      downloadOk_ = false;  // the records read so far stay until the next try
      return false;
    }
  }
  return true;
}

bool ContentItem::WriteIndexRecord(Rapi& rapi, const DbHandle& handle, ProgressSink& progress) {
  if (!handle.open()) return false;
  std::vector<CePropVal> values;
  values.push_back(CePropVal::Ui4(kPropContentId, static_cast<uint32_t>(ContentIdNumber())));
  values.push_back(CePropVal::Text(kPropVersion, AnsiToWide(version())));
  values.push_back(CePropVal::Text(kPropTitle, AnsiToWide(title())));
  values.push_back(CePropVal::Text(kPropField3, AnsiToWide(field3())));
  values.push_back(CePropVal::Text(kPropField4, AnsiToWide(field4())));
  values.push_back(CePropVal::Text(kPropField7, AnsiToWide(field7())));
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

ReadOutcome ContentItem::ReadIndexRecord(const DeviceDatabase& volume, const DbHandle& handle) {
  std::string id(contentId()), versionText(version());
  const RecordRead read =
      ReadRecordValues(volume.rapi(), &volume.failures(), handle, {kPropContentId, kPropVersion},
                       [&](const CePropVal& value) {
                         if (value.propid == kPropContentId) {
                           id = std::to_string(static_cast<int32_t>(value.ulVal));
                         } else if (value.propid == kPropVersion) {
                           versionText = WideToAnsi(value.lpwsz);
                         }
                       });
  if (read.outcome != ReadOutcome::kRecord) return read.outcome;
  oid = read.oid;
  SetFields({std::string_view(), id, std::string_view(), std::string_view(), versionText,
             std::string_view(), std::string_view()});
  return read.outcome;
}

bool ContentItem::WriteRecordTable(Prompter& prompter, int part, DeviceDatabase& database,
                                   ProgressSink& progress, int* written) {
  if (!records_) {
    progress.LogLine(FormatText("Data Problem No Records :%s", std::string(contentId()).c_str()));
    return false;
  }
  const std::string name = part == 1 ? Part1DatabaseName() : Part2DatabaseName();
  DbHandle handle;
  CEOID dbOid = 0;
  if (!database.OpenOrCreate(name, kPropSequence, 0, &handle, &dbOid)) {
    database.Remount(30);
    database.Remount(40);
    if (!database.OpenOrCreate(name, kPropSequence, 0, &handle, &dbOid)) {
      std::string text = "1.Unable to Open database, please sync again." + name;
      progress.LogLine(text);
      prompter.MessageBox(text, kSystemModalOk);
      return false;
    }
  }

  uint32_t sequence = 0;
  for (const EdmRecord& record : *records_) {
    progress.StepDetail();
    bool done = false;
    for (uint32_t attempt = 0; attempt < 3 && !done; ++attempt) {
      done = WritePart(database.rapi(), record, part, handle, sequence);
      if (done) break;
      // Start over on a fresh mount and handle before the next try.
      handle.Close();
      database.Remount(10 + attempt);
      if (!database.OpenOrCreate(name, kPropSequence, 0, &handle, &dbOid)) {
        database.Remount(40 + attempt);
        if (!database.OpenOrCreate(name, kPropSequence, 0, &handle, &dbOid)) {
          prompter.MessageBox("2.Unable to Open database, please sync again: " + name,
                              kSystemModalOk);
          return false;
        }
      }
    }
    if (!done) {
      prompter.MessageBox("Unable to write content, please sync again.", kSystemModalOk);
      return false;
    }
    if (written) ++*written;
    ++sequence;
  }
  return true;
}

bool ContentItem::DeleteRecord(Rapi& rapi, const DbHandle& handle) const {
  return DeleteRecordById(rapi, handle, oid);
}

}  // namespace hhsync
