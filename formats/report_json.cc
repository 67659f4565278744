#include "formats/report_json.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "base/text.h"
#include "base/version.h"

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

using Json = nlohmann::ordered_json;

// Program text as JSON wants it.
std::string Utf8(const std::string& text) { return AnsiToUtf8(text); }

Json TextOrNull(const std::string& text) { return text.empty() ? Json() : Json(Utf8(text)); }

template <typename T>
Json OrNull(const std::optional<T>& value) {
  return value ? Json(*value) : Json();
}

Json HandheldJson(const HandheldFacts& handheld) {
  return {{"connected", OrNull(handheld.connected)},
          {"volume", TextOrNull(handheld.volume)},
          {"mounted", handheld.mounted},
          {"sd6", TextOrNull(handheld.sd6)}};
}

Json RequestJson(const RequestFacts& request) {
  Json error;
  if (request.errorCode != 0 || !request.errorText.empty()) {
    error = {{"code", request.errorCode}, {"text", Utf8(request.errorText)}};
  }
  return {{"method", Utf8(request.method)},
          {"url", Utf8(UrlWithoutCredentials(request.url))},
          {"status", OrNull(request.status)},
          {"bytes", request.bytesReceived},
          {"ms", request.ms},
          {"error", error}};
}

Json CategoryJson(const CategoryFacts& category) {
  return {{"key", Utf8(category.key)},
          {"action", CategoryActionName(category.action)},
          {"profile_version", OrNull(category.profileVersion)},
          {"version_before", OrNull(category.versionBefore)},
          {"version_after", OrNull(category.versionAfter)},
          {"items_fetched", category.itemsFetched},
          {"items_deleted", category.itemsDeleted},
          {"records_written", category.recordsWritten},
          {"table_deleted", category.tableDeleted},
          {"completed", category.completed}};
}

Json KeepJson(const std::optional<KeepFacts>& keep) {
  if (!keep) return Json();
  return {{"entries_read", keep->entriesRead},
          {"read_failed", keep->readFailed},
          {"posted", keep->posted},
          {"accepted", keep->accepted},
          {"reply", keep->accepted ? Json(Utf8(keep->reply)) : Json()},
          {"entries_deleted", keep->entriesDeleted},
          {"database_deleted", keep->databaseDeleted},
          {"page_opened", keep->pageOpened},
          {"page_url",
           keep->pageUrl.empty() ? Json() : Json(Utf8(UrlWithoutCredentials(keep->pageUrl)))}};
}

Json ResourcesJson(const std::optional<ResourcesFacts>& resources) {
  if (!resources) return Json();
  Json items = Json::array();
  for (const ResourceFacts& item : resources->items) {
    items.push_back({{"rid", Utf8(item.rid)},
                     {"type", Utf8(item.type)},
                     {"revision", Utf8(item.revision)},
                     {"name", Utf8(item.name)},
                     {"fetched", item.fetched},
                     {"bytes", item.bytes},
                     {"stored", item.stored},
                     {"installed", item.installed},
                     {"note", TextOrNull(item.note)}});
  }
  return {{"result", ResourcesResultName(resources->result)},
          {"reason", TextOrNull(resources->reason)},
          {"listed", resources->listed},
          {"items", items},
          {"app_manager_command", TextOrNull(resources->appManagerCommand)}};
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
  Json requests = Json::array();
  for (const RequestFacts& request : report.requests) requests.push_back(RequestJson(request));
  Json categories = Json::array();
  for (const CategoryFacts& category : report.categories) {
    categories.push_back(CategoryJson(category));
  }
  Json messages = Json::array();
  for (const MessageFacts& message : report.messages) {
    messages.push_back(
        {{"text", Utf8(message.text)}, {"buttons", message.buttons}, {"answer", message.answer}});
  }
  const Json json = {{"program", "hhsync"},
                     {"version", ProgramVersion() + " build " + kBuild},
                     {"mode", report.mode},
                     {"started", IsoTime(report.startedAt, report.startedOffsetMinutes)},
                     {"ended", IsoTime(report.endedAt, report.endedOffsetMinutes)},
                     {"seconds", static_cast<double>(report.elapsedMs) / 1000},
                     {"outcome", OutcomeName(report.outcome)},
                     {"reason", TextOrNull(report.reason)},
                     {"handheld", HandheldJson(report.handheld)},
                     {"lst_written", report.lstWritten.has_value()},
                     {"lst", OrNull(report.lstWritten)},
                     {"requests", requests},
                     {"categories", categories},
                     {"keep", KeepJson(report.keep)},
                     {"resources", ResourcesJson(report.resources)},
                     {"messages", messages}};
  // Text that is not UTF-8 never stops the report: such bytes become U+FFFD.
  return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace hhsync
