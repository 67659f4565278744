// Parsing the profile reply through SyncRunner::ExchangeProfile, from the
// reply body to the filled category set, for profiles of 10k, 100k and 1M
// status lines (4M for the kept case, to show the growth is linear). The
// reply comes from an in-memory internet client; the
// handheld is an emulated one whose "cats" database is read by
// MarkUnchanged. Time should grow linearly with the number of lines.
//
// Two cases: every item is kept (a category new to the handheld), and every
// item is dropped as it arrives (the handheld already holds the profile's
// version of the category).
//
// Links against hhsync_adapters, hhsync_fakes and benchmark.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/db_failure_boxes.h"
#include "app/dialogs/progress_dialog.h"
#include "app/sync_runner.h"
#include "content/category_list.h"
#include "device/device_database.h"
#include "emulator/emulated_handheld.h"
#include "formats/sdat.h"
#include "net/server_link.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/memory_http.h"
#include "platform/fake/recording_shell.h"
#include "platform/fake/scripted_ui.h"
#include "platform/linux/env_paths.h"
#include "platform/sqlite/sqlite_registry.h"
#include "settings/sync_settings.h"

namespace hhsync {
namespace {

constexpr const char* kPath = "Software\\Bench\\News\\";
constexpr const char* kVolume = "content.vol";

std::string Profile(int lines) {
  std::string reply = "OK\n1\nnews|3|0\n" + std::to_string(lines) + "\n";
  reply.reserve(reply.size() + static_cast<std::size_t>(lines) * 40);
  for (int i = 1; i <= lines; ++i) {
    std::string id = std::to_string(i);
    reply += "Story " + id + "|" + id + "|sub|tag|1|news|extra\n";
  }
  return reply;
}

// A program directory and an emulated handheld with the content volume.
class BenchPlatform {
 public:
  explicit BenchPlatform(bool handheldHasCategory) {
    std::string pattern = (std::filesystem::temp_directory_path() / "hhsync-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    paths_ = std::make_unique<EnvPaths>(dir_);
    std::string image = dir_ + "/handheld.db";
    std::string err;
    if (!EmulatedHandheld::Init(image, &err)) throw std::runtime_error(err);
    handheld_ = std::make_unique<EmulatedHandheld>(image, clock_);
    if (!handheld_->CreateVolume(kVolume, &err) ||
        !handheld_->RegSet(std::string(kPath) + "baseurl", "http://bench.test/zavrik", &err)) {
      throw std::runtime_error(err);
    }
    if (handheldHasCategory) {
      CEOID id = 0;
      if (!handheld_->AddRecord(
              kVolume, "cats",
              {CePropVal::Text(kPropCategoryKey, u"news"), CePropVal::Ui4(kPropCategoryVersion, 3),
               CePropVal::Ui4(kPropCategoryInlineOnly, 1)},
              &id, &err)) {
        throw std::runtime_error(err);
      }
    }
    ports_.rapi = handheld_.get();
    ports_.registry = &registry_;
    ports_.http = &http_;
    ports_.shell = &shell_;
    ports_.prompter = &ui_;
    ports_.dialogs = &ui_;
    ports_.clock = &clock_;
    ports_.paths = paths_.get();
    RapiInit init;
    handheld_->CeRapiInitEx(&init);
    handheld_->WaitForInit(&init, 5000);
    mount_ = std::make_unique<VolumeMount>(*handheld_, clock_, dbFailures_);
    volume_ = std::make_unique<DeviceDatabase>(*mount_, kVolume);
    props_.Set("registry", kPath);
  }
  ~BenchPlatform() {
    volume_.reset();
    handheld_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  const Ports& ports() const { return ports_; }
  MemoryHttp& http() { return http_; }
  VolumeMount& mount() { return *mount_; }
  ProgressDialog::Desktop progressDesktop() { return {registry_, *paths_, clock_, ui_}; }
  const PropertySet& props() const { return props_; }

 private:
  std::string dir_;
  FakeClock clock_;
  ScriptedUi ui_;
  SqliteRegistry registry_{":memory:"};
  RecordingShell shell_;
  MemoryHttp http_;
  std::unique_ptr<EnvPaths> paths_;
  std::unique_ptr<EmulatedHandheld> handheld_;
  DbFailureBoxes dbFailures_{ui_};
  // The volume as the run shares it; outlives every holder.
  std::unique_ptr<VolumeMount> mount_;
  std::unique_ptr<DeviceDatabase> volume_;
  PropertySet props_;
  Ports ports_;
};

// Bytes the allocator has handed out and not taken back.
std::size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

void RunExchange(benchmark::State& state, bool handheldHasCategory) {
  const int lines = static_cast<int>(state.range(0));
  BenchPlatform platform(handheldHasCategory);
  const std::string reply = Profile(lines);
  platform.http().Serve("/zavrik/update/profile?", reply);
  SyncRunner runner(platform.ports());
  SyncSettings settings(platform.ports(), &platform.props());
  ProgressDialog progress(platform.progressDesktop(), nullptr, "Bench",
                          ProgressDialog::Log::kAsSwitched, ProgressDialog::Logo::kHidden, kPath);
  ServerLink link(*platform.ports().http, *platform.ports().prompter, settings.proxyConfig());

  std::size_t kept = 0;
  double heldBytes = 0;
  for (auto _ : state) {
    const std::size_t heapBefore = HeapInUse();
    auto categories = std::make_unique<CategoryList>(platform.mount(), platform.ui());
    if (!runner.ExchangeProfile({progress, settings, link}, *categories)) {
      state.SkipWithError("the exchange failed");
      break;
    }
    state.PauseTiming();
    kept = categories->Find("news")->ItemCount();
    // What the parse holds at its end: the items, plus the reply text it
    // held until then (a copy of the reply is what the fetch hands over).
    heldBytes = static_cast<double>(HeapInUse() - heapBefore + reply.size());
    categories.reset();  // releasing the items is not part of the parse
    state.ResumeTiming();
  }
  state.SetComplexityN(lines);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(reply.size()));
  state.counters["items_kept"] = static_cast<double>(kept);
  if (kept > 0) state.counters["bytes_per_kept_line"] = heldBytes / static_cast<double>(kept);
}

void BM_ProfileItemsKept(benchmark::State& state) { RunExchange(state, false); }
void BM_ProfileItemsDropped(benchmark::State& state) { RunExchange(state, true); }

BENCHMARK(BM_ProfileItemsKept)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Arg(4'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(BM_ProfileItemsDropped)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
}  // namespace hhsync

BENCHMARK_MAIN();
