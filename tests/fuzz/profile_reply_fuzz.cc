// The profile reply: SyncRunner::ExchangeProfile with the input served as
// the body of the profile request (status 200) by an in-memory internet
// client, over an emulated handheld whose "cats" database knows two
// categories. Checked against the reply's first line as the exchange reads
// it (each 1024-byte read cut at its first zero byte, carriage returns
// dropped): true exactly for "OK" in any case; a page is opened exactly for
// "REDIRECT" with "update" as its third line; every item read is filed.
//
// The reply is bounded by libFuzzer's length limit (scripts/fuzz:
// -max_len=65536), far below kMaxProfileEntries.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/dialogs/progress_dialog.h"
#include "app/sync_runner.h"
#include "base/text.h"
#include "content/category_list.h"
#include "fuzz/support/fuzz_platform.h"
#include "net/server_link.h"
#include "settings/sync_settings.h"

using hhsync::fuzz::Check;

namespace {

struct Setup {
  Setup() {
    props.Set("registry", hhsync::fuzz::FuzzPlatform::kRegistryPath);
    props.Set("partner", "acme");
    for (auto [key, version] : {std::pair{u"news", 3u}, std::pair{u"sport", 4u}}) {
      platform.AddRecord(hhsync::kCategoryDatabase,
                         {hhsync::CePropVal::Text(hhsync::kPropCategoryKey, key),
                          hhsync::CePropVal::Ui4(hhsync::kPropCategoryVersion, version)});
    }
    settings = std::make_unique<hhsync::SyncSettings>(platform.ports(), &props);
    link = std::make_unique<hhsync::ServerLink>(*platform.ports().http, *platform.ports().prompter,
                                                settings->proxyConfig());
    progress = std::make_unique<hhsync::ProgressDialog>(
        platform.progressDesktop(), nullptr, "News", hhsync::ProgressDialog::Log::kAsSwitched,
        hhsync::ProgressDialog::Logo::kHidden, hhsync::fuzz::FuzzPlatform::kRegistryPath);
    progress->OnInitDialog();
    runner = std::make_unique<hhsync::SyncRunner>(platform.ports());
  }
  hhsync::fuzz::FuzzPlatform platform;
  hhsync::PropertySet props;
  std::unique_ptr<hhsync::SyncSettings> settings;
  std::unique_ptr<hhsync::ServerLink> link;
  std::unique_ptr<hhsync::ProgressDialog> progress;
  std::unique_ptr<hhsync::SyncRunner> runner;
};

// The lines of the body as the exchange sees them.
std::vector<std::string> Lines(const uint8_t* data, size_t size) {
  std::string text;
  for (size_t at = 0; at < size; at += hhsync::kTextChunk) {
    const size_t n = std::min(hhsync::kTextChunk, size - at);
    for (size_t i = 0; i < n && data[at + i] != 0; ++i) text += static_cast<char>(data[at + i]);
  }
  std::vector<std::string> lines(1);
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  if (text.empty()) lines.clear();
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup setup;
  setup.platform.http().Serve("", std::string(reinterpret_cast<const char*>(data), size));
  const uint64_t openedBefore = setup.platform.shell().opened();

  hhsync::CategoryList categories(setup.platform.mount(), *setup.platform.ports().prompter);
  const bool ok =
      setup.runner->ExchangeProfile({*setup.progress, *setup.settings, *setup.link}, categories);

  const std::vector<std::string> lines = Lines(data, size);
  auto line = [&lines](size_t i) { return i < lines.size() ? lines[i] : std::string(); };
  const bool statusOk = !lines.empty() && hhsync::EqualsNoCase(line(0), "OK");
  Check(ok == statusOk, "the outcome differs from the status line");
  const bool opens = !lines.empty() && hhsync::EqualsNoCase(line(0), "REDIRECT") &&
                     hhsync::EqualsNoCase(line(2), "update");
  Check(setup.platform.shell().opened() - openedBefore == (opens ? 1u : 0u),
        "a page opened other than for a redirect to update");
  if (!ok) {
    Check(categories.size() == 0, "categories after a reply that is not OK");
    return 0;
  }
  size_t items = 0;
  for (const auto& [key, category] : categories.categories()) {
    Check(category->key() == key, "a category filed under another key");
    items += category->ItemCount();
  }
  Check(items <= static_cast<size_t>(categories.contentCount()), "more items kept than read");
  Check(static_cast<size_t>(categories.contentCount()) <= lines.size(), "more items than lines");
  return 0;
}
