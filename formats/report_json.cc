#include "formats/report_json.h"

#include <cstdio>

#include "base/text.h"
#include "base/version.h"
#include "formats/json_writer.h"

namespace hhsync {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Days from 1970-01-01 to the date of the proleptic Gregorian calendar
// (month 1-12).
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The date of a day counted from 1970-01-01.
void CivilFromDays(int64_t days, int64_t* year, int* month, int* day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  *day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  *month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  *year = yearOfEra + era * 400 + (*month <= 2 ? 1 : 0);
}

// Program text as JSON wants it.
std::string Utf8(const std::string& text) { return AnsiToUtf8(text); }

void TextOrNull(JsonWriter& json, const std::string& text) {
  if (text.empty()) {
    json.Null();
  } else {
    json.String(Utf8(text));
  }
}

void NumberOrNull(JsonWriter& json, const std::optional<uint32_t>& value) {
  if (value) {
    json.Uint(*value);
  } else {
    json.Null();
  }
}

void WriteHandheld(JsonWriter& json, const HandheldFacts& handheld) {
  json.BeginObject();
  json.Key("connected");
  if (handheld.connected) {
    json.Bool(*handheld.connected);
  } else {
    json.Null();
  }
  json.Key("volume");
  TextOrNull(json, handheld.volume);
  json.Key("mounted").Bool(handheld.mounted);
  json.Key("sd6");
  TextOrNull(json, handheld.sd6);
  json.EndObject();
}

void WriteRequest(JsonWriter& json, const RequestFacts& request) {
  json.BeginObject();
  json.Key("method").String(Utf8(request.method));
  json.Key("url").String(Utf8(UrlWithoutCredentials(request.url)));
  json.Key("status");
  if (request.status) {
    json.Int(*request.status);
  } else {
    json.Null();
  }
  json.Key("bytes").Uint(request.bytesReceived);
  json.Key("ms").Int(request.ms);
  json.Key("error");
  if (request.errorCode != 0 || !request.errorText.empty()) {
    json.BeginObject();
    json.Key("code").Int(request.errorCode);
    json.Key("text").String(Utf8(request.errorText));
    json.EndObject();
  } else {
    json.Null();
  }
  json.EndObject();
}

void WriteCategory(JsonWriter& json, const CategoryFacts& category) {
  json.BeginObject();
  json.Key("key").String(Utf8(category.key));
  json.Key("action").String(category.action);
  json.Key("profile_version");
  NumberOrNull(json, category.profileVersion);
  json.Key("version_before");
  NumberOrNull(json, category.versionBefore);
  json.Key("version_after");
  NumberOrNull(json, category.versionAfter);
  json.Key("items_fetched").Int(category.itemsFetched);
  json.Key("items_deleted").Int(category.itemsDeleted);
  json.Key("records_written").Int(category.recordsWritten);
  json.Key("table_deleted").Bool(category.tableDeleted);
  json.Key("completed").Bool(category.completed);
  json.EndObject();
}

void WriteKeep(JsonWriter& json, const std::optional<KeepFacts>& keep) {
  if (!keep) {
    json.Null();
    return;
  }
  json.BeginObject();
  json.Key("entries_read").Int(keep->entriesRead);
  json.Key("read_failed").Bool(keep->readFailed);
  json.Key("posted").Bool(keep->posted);
  json.Key("accepted").Bool(keep->accepted);
  json.Key("reply");
  if (keep->accepted) {
    json.String(Utf8(keep->reply));
  } else {
    json.Null();
  }
  json.Key("entries_deleted").Int(keep->entriesDeleted);
  json.Key("database_deleted").Bool(keep->databaseDeleted);
  json.Key("page_opened").Bool(keep->pageOpened);
  json.Key("page_url");
  if (keep->pageUrl.empty()) {
    json.Null();
  } else {
    json.String(Utf8(UrlWithoutCredentials(keep->pageUrl)));
  }
  json.EndObject();
}

void WriteResources(JsonWriter& json, const std::optional<ResourcesFacts>& resources) {
  if (!resources) {
    json.Null();
    return;
  }
  json.BeginObject();
  json.Key("result").String(resources->result);
  json.Key("reason");
  TextOrNull(json, resources->reason);
  json.Key("listed").Int(resources->listed);
  json.Key("items");
  json.BeginArray();
  for (const ResourceFacts& item : resources->items) {
    json.BeginObject();
    json.Key("rid").String(Utf8(item.rid));
    json.Key("type").String(Utf8(item.type));
    json.Key("revision").String(Utf8(item.revision));
    json.Key("name").String(Utf8(item.name));
    json.Key("fetched").Bool(item.fetched);
    json.Key("bytes").Uint(item.bytes);
    json.Key("stored").Bool(item.stored);
    json.Key("installed").Bool(item.installed);
    json.Key("note");
    TextOrNull(json, item.note);
    json.EndObject();
  }
  json.EndArray();
  json.Key("app_manager_command");
  TextOrNull(json, resources->appManagerCommand);
  json.EndObject();
}

}  // namespace

std::string IsoTime(int64_t utcSeconds, int offsetMinutes) {
  const int64_t local = utcSeconds + int64_t{offsetMinutes} * 60;
  int64_t days = local / kSecondsPerDay;
  int64_t rest = local % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  int64_t year = 0;
  int month = 0, day = 0;
  CivilFromDays(days, &year, &month, &day);
  const int offset = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d%c%02d:%02d",
                static_cast<long long>(year), month, day, static_cast<int>(rest / 3600),
                static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60),
                offsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
  return text;
}

int UtcOffsetMinutes(int64_t utcSeconds, const std::tm& local) {
  const int64_t asUtc =
      DaysFromCivil(int64_t{local.tm_year} + 1900, local.tm_mon + 1, local.tm_mday) *
          kSecondsPerDay +
      int64_t{local.tm_hour} * 3600 + int64_t{local.tm_min} * 60 + local.tm_sec;
  // Offsets are whole minutes; a leap second shows as local.tm_sec 60.
  return static_cast<int>((asUtc - utcSeconds) / 60);
}

std::string ReportJson(const RunReport& report) {
  JsonWriter json;
  json.BeginObject();
  json.Key("program").String("hhsync");
  json.Key("version").String(ProgramVersion() + " build " + kBuild);
  json.Key("mode").String(report.mode);
  json.Key("started").String(IsoTime(report.startedAt, report.startedOffsetMinutes));
  json.Key("ended").String(IsoTime(report.endedAt, report.endedOffsetMinutes));
  json.Key("seconds").Scaled(report.elapsedMs, 3);
  json.Key("outcome").String(OutcomeName(report.outcome));
  json.Key("reason");
  TextOrNull(json, report.reason);
  json.Key("handheld");
  WriteHandheld(json, report.handheld);
  json.Key("lst_written").Bool(report.lstWritten.has_value());
  json.Key("lst");
  NumberOrNull(json, report.lstWritten);
  json.Key("requests");
  json.BeginArray();
  for (const RequestFacts& request : report.requests) WriteRequest(json, request);
  json.EndArray();
  json.Key("categories");
  json.BeginArray();
  for (const CategoryFacts& category : report.categories) WriteCategory(json, category);
  json.EndArray();
  json.Key("keep");
  WriteKeep(json, report.keep);
  json.Key("resources");
  WriteResources(json, report.resources);
  json.Key("messages");
  json.BeginArray();
  for (const MessageFacts& message : report.messages) {
    json.BeginObject();
    json.Key("text").String(Utf8(message.text));
    json.Key("buttons").String(message.buttons);
    json.Key("answer").String(message.answer);
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
  return json.text() + "\n";
}

}  // namespace hhsync
