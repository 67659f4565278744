// The keep list's reply: KeepList::Upload posting one entry of the emulated
// handheld's "keep" database, with the input served as the reply body
// (status 200), and ReadReplyLine, the line reader the reply is read with,
// on its own. Checked against the reply rules read independently: lines end
// at a line feed or after the most characters a line may have; the post is
// accepted when the first line, without trailing white space, is "OK" in
// any case; the message is the second line without trailing blanks, carriage
// returns and line feeds ("no" when there is none or it is empty), and
// "nob" asks for no browser page; the "keep" database goes exactly when the
// post was accepted.
//
// The line reader alone is run with a short line limit, from a connection
// that breaks off halfway, so that cut lines and failed reads come often.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/dialogs/progress_dialog.h"
#include "base/text.h"
#include "device/records.h"
#include "extras/keep_list.h"
#include "formats/sdat.h"
#include "fuzz/support/fuzz_platform.h"
#include "net/server_link.h"
#include "platform/fake/memory_http.h"
#include "settings/sync_settings.h"

using hhsync::fuzz::Check;

namespace {

struct Setup {
  Setup() {
    props.Set("registry", hhsync::fuzz::FuzzPlatform::kRegistryPath);
    props.Set("partner", "acme");
    AddEntry();
    settings = std::make_unique<hhsync::SyncSettings>(platform.ports(), &props);
    link = std::make_unique<hhsync::ServerLink>(*platform.ports().http, *platform.ports().prompter,
                                                settings->proxyConfig());
    progress = std::make_unique<hhsync::ProgressDialog>(
        platform.progressDesktop(), nullptr, "News", hhsync::ProgressDialog::Log::kAsSwitched,
        hhsync::ProgressDialog::Logo::kHidden, hhsync::fuzz::FuzzPlatform::kRegistryPath);
    progress->OnInitDialog();
  }
  void AddEntry() {
    using hhsync::CePropVal;
    platform.AddRecord(hhsync::kKeepDatabase, {CePropVal::Ui4(hhsync::UintProp(100), 7),
                                               CePropVal::Text(hhsync::TextProp(101), u"x&y"),
                                               CePropVal::Text(hhsync::TextProp(103), u"t|103"),
                                               CePropVal::Text(hhsync::TextProp(104), u"t104"),
                                               CePropVal::Text(hhsync::TextProp(105), u"t105")});
  }
  hhsync::fuzz::FuzzPlatform platform;
  hhsync::PropertySet props;
  std::unique_ptr<hhsync::SyncSettings> settings;
  std::unique_ptr<hhsync::ServerLink> link;
  std::unique_ptr<hhsync::ProgressDialog> progress;
};

// Reads the lines of body the way the rules say, from a connection that
// fails any read past breakAt when there is one. The lines read, and whether
// the last read failed.
struct Lines {
  std::vector<std::string> lines;
  bool failed = false;
};
Lines ExpectedLines(const std::string& body, size_t maxChars, std::optional<size_t> breakAt,
                    size_t most) {
  Lines out;
  size_t pos = 0;
  while (out.lines.size() < most) {
    std::string line;
    bool any = false, done = false;
    while (!done && line.size() < maxChars) {
      if (breakAt && pos + 1 > *breakAt) {
        out.failed = true;
        return out;
      }
      if (pos == body.size()) {
        if (!any) return out;
        break;
      }
      any = true;
      const char c = body[pos++];
      if (c == '\n') {
        done = true;
      } else {
        line += c;
      }
    }
    out.lines.push_back(line);
  }
  return out;
}

void TrimTrailing(std::string* text, const char* characters) {
  const size_t end = text->find_last_not_of(characters);
  text->erase(end == std::string::npos ? 0 : end + 1);
}

void CheckLineReader(const std::string& body) {
  constexpr size_t kMaxChars = 7;
  const size_t breakAt = body.size() / 2;
  auto reply = std::make_shared<hhsync::MemoryReply>();
  reply->body = body;
  reply->failAfter = static_cast<long long>(breakAt);
  hhsync::MemoryBody request(reply);
  Lines got;
  std::string line;
  hhsync::HttpError error;
  while (hhsync::ReadReplyLine(request, kMaxChars, &line, &error)) {
    Check(line.size() <= kMaxChars && line.find('\n') == std::string::npos,
          "a line too long or holding a line feed");
    got.lines.push_back(line);
  }
  got.failed = error.code != 0;
  const Lines want = ExpectedLines(body, kMaxChars, breakAt, SIZE_MAX);
  Check(got.lines == want.lines && got.failed == want.failed, "lines differ from the rules");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup setup;
  const std::string body(reinterpret_cast<const char*>(data), size);
  CheckLineReader(body);

  setup.platform.http().Serve("", body);
  hhsync::KeepList list(setup.platform.mount(), *setup.platform.ports().recorder);
  Check(list.records() != nullptr && list.records()->size() == 1, "the entry was not read");
  list.Upload({*setup.progress, *setup.settings, *setup.link});

  const Lines lines = ExpectedLines(body, hhsync::kKeepReplyLineChars, std::nullopt, 2);
  std::string first = lines.lines.empty() ? std::string() : lines.lines[0];
  TrimTrailing(&first, " \t\r\n\v\f");
  const bool accepted = !lines.lines.empty() && hhsync::EqualsNoCase(first, "OK");
  std::string message = "no";
  if (lines.lines.size() > 1) {
    message = lines.lines[1];
    TrimTrailing(&message, " \n\r");
    if (message.empty()) message = "no";
  }

  const bool kept = setup.platform.HasDatabase(hhsync::kKeepDatabase);
  Check(kept == !accepted, "the keep database went without an accepted post, or stayed");
  if (accepted) {
    Check(list.Message() == message, "message differs from the rules");
    Check(list.ShouldOpenBrowser() == (message != "nob"), "browser choice differs from the rules");
    setup.AddEntry();
  } else {
    Check(list.Message().empty() && list.ShouldOpenBrowser(), "a refused post left a message");
  }
  return 0;
}
