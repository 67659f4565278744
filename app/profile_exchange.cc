// The profile exchange: asks the server for the user's categories and the
// status of every content item and fills the category set with them.
//
// Reply format: lines end with a line feed (carriage returns are ignored);
// line 1 is the status word, any case.
//   OK: line 2 holds C, then C category lines "key|version|third", then S
//       (the number of status lines, used for the progress bar only), then
//       one status line per content item:
//       "title|contentId|field3|field4|version|categoryKey|field7".
//   REDIRECT: line 2 is appended to loginurl and opened in the browser when
//       line 3 is "update". A redirect never leads to a sync.

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "app/sync_runner.h"
#include "base/progress_sink.h"
#include "base/run_report.h"
#include "base/text.h"
#include "base/tokenizer.h"
#include "content/category_list.h"
#include "content/content_item.h"
#include "net/server_link.h"
#include "platform/shell.h"
#include "settings/registry_key.h"
#include "settings/sync_settings.h"

namespace hhsync {

namespace {

// A step of the lower bar after every this many status lines.
constexpr int kLinesPerStep = 20;
// The window show command of the redirect page: normal show.
constexpr int kSwShowNormal = 1;

// Whether a line compares greater than "(" byte by byte, as unsigned bytes:
// true for any line that starts with a digit, false for an empty one.
bool GreaterThanParen(std::string_view line) {
  return line.compare("(") > 0;  // char_traits<char> compares as unsigned char
}

// The categories and status lines of an OK reply, into categories. False,
// with the outcome recorded, when the reply lists too many entries.
bool ReadProfile(Tokenizer& lines, CategoryList& categories, ProgressSink& progress,
                 RunRecorder& recorder, std::size_t maxEntries) {
  Tokenizer fields;
  std::size_t entries = 0;
  auto tooMany = [&] {
    if (++entries <= maxEntries) return false;
    progress.LogLine("Error:  " + std::to_string(http_error::kConnectionAborted) +
                     " the profile lists more than " + std::to_string(maxEntries) + " entries");
    recorder.Outcome(RunOutcome::kFailed,
                     "the profile lists more than " + std::to_string(maxEntries) + " entries");
    return true;
  };
  const int categoryCount = AtoI(lines.Next());
  // Once the reply is used up every further line reads as empty and adds the
  // same empty-key category, so a huge count need not be walked to its end.
  bool usedUp = false;
  for (int i = 0; i < categoryCount && !usedUp; ++i) {
    if (tooMany()) return false;
    usedUp = !lines.HasMore();
    fields.Reset(lines.Next(), "|\n");
    std::string key = fields.Next();
    int version = AtoI(fields.Next());
    int third = AtoI(fields.Next());
    categories.AddCategory(key, static_cast<uint32_t>(version), third);
  }

  categories.MarkUnchanged(progress);

  const std::string countLine = lines.Next();
  if (GreaterThanParen(countLine)) {
    progress.ResetDetail(AtoI(countLine) / kLinesPerStep);
    progress.SetStatus("Reading Status", 1);
  }

  // Status lines are split in place: a profile may hold millions of them.
  std::array<std::string_view, 7> field;  // title, id, 3, 4, version, category, 7
  for (int count = 1; lines.HasMore(); ++count) {
    if (tooMany()) return false;
    if (count % kLinesPerStep == 0) progress.StepDetail();
    Tokenizer::Split(lines.NextView(), '|', field);
    categories.AddContent(field[0], field[1], field[2], field[3], field[4], field[5], field[6]);
  }
  return true;
}

}  // namespace

void SyncRunner::FollowRedirect(SyncSettings& settings, const std::string& target, bool openPage) {
  std::string reason = "the server redirected to " + target;
  if (openPage) {
    // The shell's opener alone: no fallback to the registered browser.
    const std::string page = settings.loginUrl() + target;
    if (!ports_.shell->OpenUrl(page, kSwShowNormal)) {
      ports_.shell->MessageBeep(0);
      reason += "; the page " + UrlWithoutCredentials(page) + " could not be opened";
    } else {
      reason += "; opened " + UrlWithoutCredentials(page);
    }
  }
  ports_.recorder->Outcome(RunOutcome::kRedirect, reason);
}

bool SyncRunner::ExchangeProfile(const SyncContext& run, CategoryList& categories) {
  RunRecorder& recorder = *ports_.recorder;
  run.progress.SetStatus("Contacting Server for Profile", 1);
  const std::string url = run.settings.ProfileUrl();
  std::string reply = run.link.FetchText(url, &run.progress);
  if (reply.empty()) {
    // The URL up to its query: the query carries the user's settings.
    const std::string shown = UrlWithoutCredentials(url.substr(0, url.find('?')));
    recorder.Outcome(RunOutcome::kFailed,
                     "no profile came back from " + shown + ": " + run.link.LastFailure());
    return false;
  }

  Tokenizer lines(std::move(reply), "\n");  // the reply itself, not a copy
  const std::string status = lines.Next();

  if (!EqualsNoCase(status, "OK")) {
    const std::string target = lines.Next();
    const std::string action = lines.Next();
    if (!EqualsNoCase(status, "REDIRECT")) {
      constexpr std::size_t kShownChars = 80;
      recorder.Outcome(RunOutcome::kFailed,
                       "the profile reply began with \"" + status.substr(0, kShownChars) + "\"");
    } else {
      FollowRedirect(run.settings, target, EqualsNoCase(action, "update"));
    }
    return false;
  }

  return ReadProfile(lines, categories, run.progress, recorder, options_.maxProfileEntries);
}

}  // namespace hhsync
