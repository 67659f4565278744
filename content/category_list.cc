#include "content/category_list.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <utility>

#include "base/progress_sink.h"
#include "base/text.h"
#include "device/records.h"
#include "platform/prompter.h"
#include "settings/sync_settings.h"

namespace hhsync {

namespace {

constexpr MessageBoxStyle kSystemModalOk{MbButtons::kOk, MbIcon::kNone, true};
// The content table's sort orders: the title as text, the content id as a
// number.
constexpr CEPROPID kTableSortTitle = 0x0067001F;
constexpr CEPROPID kTableSortId = 0x00640013;
// Pauses before the three retries of an index record write.
constexpr uint32_t kIndexRetryPausesMs[] = {20, 20, 40};
// Pause before the one retry of a "cats" record write.
constexpr uint32_t kCatsRetryPauseMs = 20;

}  // namespace

std::string CategoryTableName(const std::string& key) {
  return "c_" + key.substr(0, kTableKeyChars);
}

// ---------------------------------------------------------------- Category

Category::Category(VolumeMount& mount, Prompter& prompter, Form form,
                   const std::string& categoryKey, uint32_t categoryVersion)
    : prompter_(prompter),
      key_(categoryKey),
      tableName_(CategoryTableName(categoryKey)),
      version_(categoryVersion),
      database_(mount) {
  state_.fromServer = form == Form::kList;
  if (form == Form::kContent) version_ = 0;
}

Category::~Category() { CloseTable(); }

bool Category::NeedsSync() {
  if (state_.fromServer && !state_.needsUpdate && !state_.isNew) {
    state_.complete = true;
    return false;
  }
  return true;
}

ReadOutcome Category::ReadRecord(const DbHandle& handle) {
  // A property a "cats" record lacks is passed over without a message.
  const RecordRead read =
      ReadRecordValues(database_.rapi(), nullptr, handle,
                       {kPropCategoryKey, kPropCategoryVersion, kPropCategoryInlineOnly},
                       [this](const CePropVal& value) {
                         if (value.propid == kPropCategoryKey) {
                           key_ = WideToAnsi(value.lpwsz);
                           tableName_ = CategoryTableName(key_);
                         } else if (value.propid == kPropCategoryVersion) {
                           version_ = value.ulVal;
                         } else if (value.propid == kPropCategoryInlineOnly) {
                           state_.inlineOnly = value.ulVal != 0;
                         }
                       });
  if (read.outcome == ReadOutcome::kRecord) oid_ = read.oid;
  return read.outcome;
}

bool Category::WriteRecord(const DbHandle& handle) {
  const uint32_t recorded = state_.complete ? version_ : 0;
  std::vector<CePropVal> values;
  values.push_back(CePropVal::Text(kPropCategoryKey, AnsiToWide(key_)));
  values.push_back(CePropVal::Ui4(kPropCategoryVersion, recorded));
  values.push_back(CePropVal::Ui4(kPropCategoryInlineOnly, state_.inlineOnly ? 1 : 0));
  if (!WriteNewRecord(database_.rapi(), handle, values).ok) return false;
  tally_.versionWritten = recorded;
  return true;
}

CategoryFacts Category::Facts(bool reconciled) const {
  CategoryFacts facts;
  facts.key = key_;
  if (state_.fromServer) facts.profileVersion = version_;
  facts.itemsFetched = tally_.itemsFetched;
  facts.itemsDeleted = tally_.itemsDeleted;
  facts.recordsWritten = tally_.recordsWritten;
  if (!reconciled) {
    facts.action = CategoryAction::kLeft;
    return facts;
  }
  facts.versionBefore = tally_.handheldVersion;
  facts.versionAfter = tally_.versionWritten ? tally_.versionWritten : tally_.versionLeft;
  if (!state_.tableOwner.empty()) {
    facts.action = CategoryAction::kSharedTable;
    return facts;
  }
  if (state_.deferred) {
    facts.action = CategoryAction::kLeft;
  } else if (state_.isNew) {
    facts.action = CategoryAction::kNew;
  } else if (state_.fromServer && !state_.needsUpdate) {
    facts.action = CategoryAction::kUnchanged;
    facts.completed = true;
    return facts;
  } else {
    facts.action = CategoryAction::kUpdated;
  }
  // Complete, and recorded in "cats" where the category needs a record.
  const bool needsRecord = state_.isNew || (state_.needsUpdate && state_.fromServer);
  facts.completed =
      !state_.deferred && state_.complete && (!needsRecord || tally_.versionWritten.has_value());
  return facts;
}

bool Category::DeleteRecord(const DbHandle& handle) {
  return DeleteRecordById(database_.rapi(), handle, oid_);
}

uint32_t Category::Hash(std::string_view contentId) { return ItemIndex::Hash(contentId); }

void Category::PrefetchSlot(uint32_t hash) const { items_.Prefetch(hash); }

void Category::AddItem(ContentItem item) {
  const uint32_t hash = Hash(item.contentId());
  AddItem(std::move(item), hash);
}

void Category::AddItem(ContentItem item, uint32_t hash) {
  if (!state_.acceptsContent) return;  // the item is dropped here
  items_.Add(std::move(item), hash);
}

ContentItem* Category::FindItem(std::string_view contentId) { return items_.Find(contentId); }

bool Category::OpenTable(DbHandle* handle) {
  CEOID oid = 0;
  return database_.OpenOrCreate(tableName_, kTableSortTitle, kTableSortId, handle, &oid);
}

void Category::CloseTable() { tableHandle_.Close(); }

bool Category::DeleteRecordDatabases(std::string_view contentId) {
  const bool part1 = database_.RemoveDatabase("J" + std::string(contentId));
  const bool part2 = database_.RemoveDatabase("JJ" + std::string(contentId));
  return part1 && part2;
}

bool Category::Check(ProgressSink& progress) {
  DbHandle handle;
  CEOID tableOid = 0;
  if (!database_.OpenOrCreate(tableName_, kTableSortTitle, kTableSortId, &handle, &tableOid)) {
    return false;
  }
  const std::optional<uint16_t> count = database_.CountRecords(tableOid);
  progress.SetDetail(0, count.value_or(0));
  progress.SetStatus("Checking: " + key_, 1);
  // A record that could not be read or deleted leaves the table in a state
  // this run does not know; the category is then left for the next sync
  // rather than written over what may be there.
  bool known = count.has_value();
  for (uint16_t i = 0; known && i < *count && progress.IsRunning(); ++i) {
    ContentItem copy;
    const ReadOutcome read = copy.ReadIndexRecord(database_, handle);
    if (read == ReadOutcome::kRecord) {
      ContentItem* item = FindItem(copy.contentId());
      if (item == nullptr) {
        // The item is gone from the profile. Its record databases go before
        // the index record that names them: a delete that fails leaves the
        // record, and the next sync finishes the job instead of leaving
        // databases that nothing names for good.
        known =
            DeleteRecordDatabases(copy.contentId()) && copy.DeleteRecord(database_.rapi(), handle);
        tally_.itemsDeleted += known ? 1 : 0;
      } else if (item->matched) {
        // A second record of the same id.
        item->isNew = false;
        item->needsUpdate = false;
        known = copy.DeleteRecord(database_.rapi(), handle);
        tally_.itemsDeleted += known ? 1 : 0;
      } else {
        item->matched = true;
        item->isNew = false;
        if (item->version() != copy.version()) {
          // The same order for an item that changed.
          known = DeleteRecordDatabases(copy.contentId()) &&
                  copy.DeleteRecord(database_.rapi(), handle);
          tally_.itemsDeleted += known ? 1 : 0;
          item->needsUpdate = true;
        }
      }
    } else if (read == ReadOutcome::kFailed) {
      known = false;
    }
    progress.SetStatus("", 1);
  }
  return known && progress.IsRunning();
}

bool Category::DeleteContent(ProgressSink& progress) {
  if (state_.inlineOnly || version_ == 0) return true;
  CEOID tableOid = 0;
  if (!database_.OpenOrCreate(tableName_, kTableSortTitle, kTableSortId, &tableHandle_,
                              &tableOid)) {
    return false;
  }
  progress.SetDetail(0, database_.RecordCount(tableOid));
  progress.SetStatus("Deleting: " + key_, 1);
  // Every record database must be gone before the table that names them
  // goes; otherwise they would be left behind for good.
  bool gone = true;
  for (;;) {
    ContentItem copy;
    const ReadOutcome read = copy.ReadIndexRecord(database_, tableHandle_);
    if (read != ReadOutcome::kRecord) {
      gone = gone && read != ReadOutcome::kFailed;
      break;
    }
    gone = DeleteRecordDatabases(copy.contentId()) && gone;
    progress.SetStatus("", 1);
  }
  CloseTable();
  return gone;
}

bool Category::Sync(const SyncContext& run) {
  // A new category is rebuilt from nothing; a table that cannot be cleared
  // first would mix old records with new ones. It is left for the next
  // sync, and the other categories go on.
  if (state_.isNew && !database_.RemoveDatabase(tableName_)) {
    run.progress.LogLine(FormatText("Failed creating table:%s", tableName_.c_str()));
    state_.deferred = true;
    return true;
  }
  if (!OpenTable(&tableHandle_) && !OpenTable(&tableHandle_)) {
    run.progress.LogLine(FormatText("Failed creating table:%s", tableName_.c_str()));
    return false;
  }
  state_.complete = true;
  // Unchanged items are skipped; their steps of the upper bar are added to
  // the next item that is synced.
  int pendingSteps = 1;
  for (ContentItem& item : items_) {
    if (!state_.isNew && !item.isNew && !item.needsUpdate) {
      ++pendingSteps;
      continue;
    }
    run.progress.SetStatus(std::string(item.title()), pendingSteps);
    pendingSteps = 1;

    bool downloaded = run.progress.IsRunning() && item.Download(run);
    if (!downloaded) {
      if (!run.progress.IsRunning()) {
        state_.complete = false;
        break;
      }
      if (!item.Download(run)) {
        run.progress.LogLine(FormatText("Internet problem:%d %d)%s", item.RecordCount(),
                                        item.ContentIdNumber(), std::string(item.title()).c_str()));
        state_.complete = false;
        break;
      }
    }
    if (!item.downloadOk()) {
      state_.complete = false;
      item.FreeRecords();
      continue;
    }
    ++tally_.itemsFetched;
    if (!WriteItem(item, run)) {
      // The category stays incomplete, so the next sync takes it up again.
      state_.complete = false;
      return false;
    }
    item.FreeRecords();
  }
  return true;
}

bool Category::WriteItem(ContentItem& item, const SyncContext& run) {
  if (!tableHandle_.open() && !OpenTable(&tableHandle_)) return false;
  if (item.WriteIndexRecord(database_.rapi(), tableHandle_, run.progress)) {
    ++tally_.recordsWritten;
  } else {
    bool written = false;
    for (uint32_t pause : kIndexRetryPausesMs) {
      CloseTable();
      database_.Remount(pause);
      if (!OpenTable(&tableHandle_)) return false;
      if (item.WriteIndexRecord(database_.rapi(), tableHandle_, run.progress)) {
        ++tally_.recordsWritten;
        written = true;
        break;
      }
    }
    if (!written) {
      run.progress.LogLine(FormatText("1.Failed adding content:%d %d)%s", item.RecordCount(),
                                      item.ContentIdNumber(), std::string(item.title()).c_str()));
      prompter_.MessageBox("Unable to write category, please sync again.", kSystemModalOk);
      CloseTable();
      return false;
    }
  }

  // Record databases an earlier copy of the item left must go, also for an
  // item kept inside its index record: nothing would name them afterwards.
  const bool cleared = DeleteRecordDatabases(item.contentId());
  if (item.RecordCount() <= 1 && cleared) return true;
  CloseTable();
  if (item.RecordCount() > 1) state_.inlineOnly = false;
  if (cleared &&
      item.WriteRecordTable(prompter_, 1, database_, run.progress, &tally_.recordsWritten) &&
      item.WriteRecordTable(prompter_, 2, database_, run.progress, &tally_.recordsWritten)) {
    return true;
  }
  if (run.settings.logEnabled()) {
    run.progress.LogLine(FormatText("Problem:%d %d)%s", item.RecordCount(), item.ContentIdNumber(),
                                    std::string(item.title()).c_str()));
  }
  // An index record must not claim data that is not all there: without it
  // the next sync finds the item new and writes it whole.
  if (OpenTable(&tableHandle_)) {
    item.DeleteRecord(database_.rapi(), tableHandle_);
    CloseTable();
  }
  return false;
}

// ------------------------------------------------------------ CategoryList

CategoryList::CategoryList(VolumeMount& mount, Prompter& prompter)
    : mount_(mount), prompter_(prompter) {}

CategoryList::~CategoryList() = default;

Category* CategoryList::Find(const std::string& key) {
  auto it = categories_.find(key);
  return it == categories_.end() ? nullptr : it->second.get();
}

void CategoryList::AddCategory(const std::string& key, uint32_t version, int /*third*/) {
  if (categories_.count(key) != 0) return;  // the first line of a key wins
  auto added = categories_.emplace(
      key, std::make_unique<Category>(mount_, prompter_, Category::Form::kList, key, version));
  ClaimTable(*added.first->second);
}

void CategoryList::AddContent(std::string_view title, std::string_view contentId,
                              std::string_view field3, std::string_view field4,
                              std::string_view version, std::string_view categoryKey,
                              std::string_view field7) {
  ++contentCount_;
  // Status lines come grouped by category as a rule: the last one is asked
  // first.
  if (last_ == nullptr || last_->key() != categoryKey) {
    auto it = categories_.find(categoryKey);
    if (it == categories_.end()) {
      const std::string key(categoryKey);
      it = categories_
               .emplace(key, std::make_unique<Category>(mount_, prompter_, Category::Form::kContent,
                                                        key, 0))
               .first;
      ClaimTable(*it->second);
    }
    last_ = it->second.get();
  }
  // An item of a category the handheld already holds is dropped before it
  // is ever built.
  if (!last_->state_.acceptsContent) return;
  // A large index lives in main memory: its slot is fetched while the item
  // is built.
  const uint32_t hash = Category::Hash(contentId);
  last_->PrefetchSlot(hash);
  last_->AddItem(ContentItem(title, contentId, field3, field4, version, categoryKey, field7), hash);
}

bool CategoryList::OpenCats(DeviceDatabase& database, DbHandle* handle) {
  CEOID oid = 0;
  return database.OpenOrCreate(kCategoryDatabase, kPropCategoryKey, 0, handle, &oid);
}

void CategoryList::MarkUnchanged(ProgressSink& progress) {
  DeviceDatabase database(mount_);
  DbHandle handle;
  if (!OpenCats(database, &handle)) {
    progress.LogLine("Unable to open or create cats database");
    return;
  }
  while (progress.IsRunning()) {
    Category copy(mount_, prompter_, Category::Form::kHandheld, std::string(), 0);
    if (copy.ReadRecord(handle) != ReadOutcome::kRecord) break;
    Category* found = Find(copy.key());
    if (found != nullptr && found->state_.fromServer && found->version() == copy.version()) {
      found->state_.acceptsContent = false;
    }
  }
}

void CategoryList::CompareRecord(Category& copy, DeviceDatabase& database, const DbHandle& handle,
                                 ProgressSink& progress) {
  Category* found = Find(copy.key());
  if (found == nullptr) {
    // The category is gone: the record databases of its items, its content
    // table, and last its record, so that a failure on the way leaves the
    // record for the next sync to finish the job.
    CategoryFacts gone;
    gone.key = copy.key();
    gone.action = CategoryAction::kGone;
    gone.versionBefore = copy.version();
    gone.tableDeleted = copy.DeleteContent(progress) && database.RemoveDatabase(copy.tableName());
    gone.completed = gone.tableDeleted && copy.DeleteRecord(handle);
    if (!gone.completed) gone.versionAfter = copy.version();
    gone_.push_back(std::move(gone));
    return;
  }
  if (!found->tally_.handheldVersion) found->tally_.handheldVersion = copy.version();
  if (!found->state_.tableOwner.empty()) {
    // Its table is another category's: its record would claim that one's
    // items, so it goes; the table stays.
    if (!copy.DeleteRecord(handle)) found->tally_.versionLeft = copy.version();
    return;
  }
  if (found->state_.matched) {
    // A second record of the same key.
    found->state_.isNew = false;
    found->state_.needsUpdate = false;
    if (!copy.DeleteRecord(handle)) {
      found->state_.deferred = true;
      if (!found->tally_.versionLeft) found->tally_.versionLeft = copy.version();
    }
  } else if (found->state_.fromServer && found->version() != copy.version()) {
    found->state_.matched = true;
    found->state_.isNew = false;
    found->state_.needsUpdate = true;
    // An incomplete earlier sync (version 0) may have left record databases
    // of items this sync keeps: the category still has them.
    if (copy.version() == 0 && !copy.state_.inlineOnly) found->state_.inlineOnly = false;
    if (!copy.DeleteRecord(handle)) {
      found->state_.deferred = true;
      found->tally_.versionLeft = copy.version();
    }
  } else {
    found->state_.matched = true;
    if (!found->state_.fromServer) found->state_.needsUpdate = true;
    found->state_.isNew = false;
    found->tally_.versionLeft = copy.version();
  }
}

bool CategoryList::Reconcile(ProgressSink& progress) {
  DeviceDatabase database(mount_);
  DbHandle handle;
  CEOID catsOid = 0;
  if (!database.OpenOrCreate(kCategoryDatabase, kPropCategoryKey, 0, &handle, &catsOid)) {
    progress.LogLine("Problem opening category database");
    return false;
  }
  // Without the count, "cats" would look empty and every category new: their
  // tables would be rebuilt from items that were dropped as unchanged.
  const std::optional<uint16_t> count = database.CountRecords(catsOid);
  for (uint16_t i = 0; i < count.value_or(0); ++i) {
    Category copy(mount_, prompter_, Category::Form::kHandheld, std::string(), 0);
    if (copy.ReadRecord(handle) != ReadOutcome::kRecord) {
      progress.LogLine("Problem reading category database from device");
      return false;
    }
    CompareRecord(copy, database, handle, progress);
  }
  handle.Close();
  if (!count) {
    progress.LogLine("Problem reading category database from device");
    return false;
  }

  for (auto& entry : categories_) {
    if (!progress.IsRunning()) break;
    Category& category = *entry.second;
    if (!category.state_.tableOwner.empty()) continue;  // left out
    // A new category's table is rebuilt from nothing, whatever Check found.
    if (category.NeedsSync() && !category.Check(progress) && !category.state_.isNew &&
        progress.IsRunning()) {
      category.state_.deferred = true;
    }
  }
  return true;
}

bool CategoryList::LoadContent(const SyncContext& run) {
  bool result = true;
  run.progress.SetStatus("Loading Content", 1);
  run.progress.ResetPhase(contentCount_);
  for (auto& entry : categories_) {
    if (!run.progress.IsRunning()) break;
    Category& category = *entry.second;
    if (!category.state_.tableOwner.empty()) {
      run.progress.LogLine("left out: " + category.key() + " has the content table " +
                           category.tableName() + " of " + category.state_.tableOwner);
      result = false;
      continue;
    }
    if (!category.NeedsSync()) continue;
    if (category.state_.deferred) {
      run.progress.LogLine("left for the next sync: " + category.key());
      result = false;
      continue;
    }
    if (run.settings.logEnabled() && category.state_.fromServer) {
      run.progress.LogLine(FormatText("updateing %s", category.key().c_str()));
    }
    if (!category.Sync(run)) {
      result = false;
      break;
    }
    if (category.state_.deferred) result = false;
  }
  run.progress.SetStatus("Updating", 1);
  if (!WriteCategories(run.progress) && run.progress.IsRunning()) result = false;
  // A gone category that Reconcile could not delete whole is still on the
  // handheld, its "cats" record left for the next sync to finish the job.
  for (const CategoryFacts& gone : gone_) {
    if (!gone.completed) result = false;
  }
  return result;
}

std::vector<std::string> CategoryList::Unfinished() const {
  std::vector<std::string> keys;
  for (const auto& entry : categories_) {
    if (!entry.second->state_.tableOwner.empty()) continue;
    if (!entry.second->Facts(/*reconciled=*/true).completed) keys.push_back(entry.first);
  }
  for (const CategoryFacts& gone : gone_) {
    if (!gone.completed) keys.push_back(gone.key);
  }
  return keys;
}

std::vector<std::string> CategoryList::LeftOut() const {
  std::vector<std::string> keys;
  for (const auto& entry : categories_) {
    if (!entry.second->state_.tableOwner.empty()) keys.push_back(entry.first);
  }
  return keys;
}

void CategoryList::ClaimTable(Category& category) {
  const auto [owner, claimed] =
      tableOwners_.try_emplace(AsciiLower(category.tableName()), category.key());
  if (!claimed) category.state_.tableOwner = owner->second;
}

void CategoryList::ReportTo(RunRecorder& recorder, bool reconciled) const {
  for (const auto& entry : categories_) recorder.Category(entry.second->Facts(reconciled));
  for (const CategoryFacts& gone : gone_) recorder.Category(gone);
}

bool CategoryList::WriteCategories(ProgressSink& progress) {
  DeviceDatabase database(mount_);
  DbHandle handle;
  if (!OpenCats(database, &handle)) {
    progress.LogLine("could not update main cat database");
    return false;
  }
  for (auto& entry : categories_) {
    Category& category = *entry.second;
    if (!(category.state_.isNew || (category.state_.needsUpdate && category.state_.fromServer)))
      continue;
    if (category.state_.deferred) continue;  // its handheld copy is not known
    if (!category.state_.tableOwner.empty()) continue;
    if (category.WriteRecord(handle)) continue;
    // One more try on a fresh mount.
    handle.Close();
    database.Remount(kCatsRetryPauseMs);
    if (!OpenCats(database, &handle)) return false;
    if (!category.WriteRecord(handle)) {
      progress.LogLine("could not update record in main cat database");
      return false;
    }
  }
  return true;
}

}  // namespace hhsync
