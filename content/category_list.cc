#include "content/category_list.h"

#include <utility>

#include "app/dialogs/progress_dialog.h"
#include "device/records.h"
#include "device/wide_text.h"
#include "platform/clock.h"
#include "platform/ui.h"
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

Category::Category(const Ports& ports, Form form, const std::string& categoryKey,
                   uint32_t categoryVersion)
    : ports_(ports),
      key_(categoryKey),
      tableName_(CategoryTableName(categoryKey)),
      version_(categoryVersion),
      database_(ports) {
  fromServer = form == Form::kList;
  if (form == Form::kContent) version_ = 0;
}

Category::~Category() { CloseTable(); }

bool Category::NeedsSync() {
  if (fromServer && !needsUpdate && !isNew) {
    complete = true;
    return false;
  }
  return true;
}

bool Category::ReadRecord(CeDbHandle handle) {
  std::vector<CePropVal> values;
  CEOID id =
      ReadNextRecord(*ports_.rapi, handle,
                     {kPropCategoryKey, kPropCategoryVersion, kPropCategoryInlineOnly}, &values);
  if (id == 0) return false;
  oid_ = id;
  for (const CePropVal& value : values) {
    if (value.flags & CEDB_PROPNOTFOUND) continue;
    if (value.propid == kPropCategoryKey) {
      key_ = WideToAnsi(value.lpwsz);
      tableName_ = CategoryTableName(key_);
    } else if (value.propid == kPropCategoryVersion) {
      version_ = value.ulVal;
    } else if (value.propid == kPropCategoryInlineOnly) {
      inlineOnly = value.ulVal != 0;
    }
  }
  return true;
}

bool Category::WriteRecord(CeDbHandle handle) {
  std::vector<CePropVal> values;
  values.push_back(CePropVal::Text(kPropCategoryKey, AnsiToWide(key_)));
  values.push_back(CePropVal::Ui4(kPropCategoryVersion, complete ? version_ : 0));
  values.push_back(CePropVal::Ui4(kPropCategoryInlineOnly, inlineOnly ? 1 : 0));
  return WriteNewRecord(*ports_.rapi, handle, values).ok;
}

void Category::DeleteRecord(CeDbHandle handle) { DeleteRecordById(*ports_.rapi, handle, oid_); }

void Category::AddItem(std::unique_ptr<ContentItem> item) {
  if (!acceptsContent) return;  // the item is dropped here
  auto [it, added] = itemIndex_.try_emplace(item->contentId, items_.size());
  if (added) {
    items_.push_back(std::move(item));
  } else {
    items_[it->second] = std::move(item);  // the last line of an id wins
  }
}

ContentItem* Category::FindItem(const std::string& contentId) {
  auto it = itemIndex_.find(contentId);
  return it == itemIndex_.end() ? nullptr : items_[it->second].get();
}

bool Category::OpenTable(CeDbHandle* handle) {
  CEOID oid = 0;
  if (database_.OpenOrCreate(tableName_, kTableSortTitle, kTableSortId, handle, &oid)) return true;
  *handle = 0;
  return false;
}

void Category::CloseTable() {
  if (tableHandle_ != 0) database_.CloseHandle(tableHandle_);
  tableHandle_ = 0;
}

void Category::DeleteRecordDatabases(const std::string& contentId) {
  database_.DeleteDatabaseByName("J" + contentId);
  database_.DeleteDatabaseByName("JJ" + contentId);
}

bool Category::Check(ProgressDialog& progress) {
  CeDbHandle handle = 0;
  CEOID tableOid = 0;
  if (!database_.OpenOrCreate(tableName_, kTableSortTitle, kTableSortId, &handle, &tableOid)) {
    return false;
  }
  const uint16_t count = database_.RecordCount(tableOid);
  progress.SetDetail(0, count);
  progress.SetStatus("Checking: " + key_, 1);
  for (uint16_t i = 0; i < count && progress.IsRunning(); ++i) {
    ContentItem copy;
    if (copy.ReadIndexRecord(ports_, handle)) {
      ContentItem* item = FindItem(copy.contentId);
      if (item == nullptr) {
        // The item is gone from the profile.
        copy.DeleteRecord(*ports_.rapi, handle);
        DeleteRecordDatabases(copy.contentId);
      } else if (item->matched) {
        // A second record of the same id.
        item->isNew = false;
        item->needsUpdate = false;
        copy.DeleteRecord(*ports_.rapi, handle);
      } else {
        item->matched = true;
        item->isNew = false;
        if (item->version != copy.version) {
          copy.DeleteRecord(*ports_.rapi, handle);
          item->needsUpdate = true;
          DeleteRecordDatabases(copy.contentId);
        }
      }
    }
    progress.SetStatus("", 1);
  }
  database_.CloseHandle(handle);
  return progress.IsRunning();
}

bool Category::DeleteContent(ProgressDialog& progress) {
  if (!inlineOnly && version_ != 0) {
    CEOID tableOid = 0;
    if (!database_.OpenOrCreate(tableName_, kTableSortTitle, kTableSortId, &tableHandle_,
                                &tableOid)) {
      tableHandle_ = 0;
      return false;
    }
    progress.SetDetail(0, database_.RecordCount(tableOid));
    progress.SetStatus("Deleting: " + key_, 1);
    for (;;) {
      ContentItem copy;
      if (!copy.ReadIndexRecord(ports_, tableHandle_)) break;
      DeleteRecordDatabases(copy.contentId);
      progress.SetStatus("", 1);
    }
    CloseTable();
  }
  return true;
}

bool Category::Sync(ProgressDialog& progress, SyncSettings& settings) {
  if (isNew) database_.DeleteDatabaseByName(tableName_);  // rebuilt from nothing
  if (!OpenTable(&tableHandle_) && !OpenTable(&tableHandle_)) {
    progress.LogLine(FormatText("Failed creating table:%s", tableName_.c_str()));
    return false;
  }
  complete = true;
  // Unchanged items are skipped; their steps of the upper bar are added to
  // the next item that is synced.
  int pendingSteps = 1;
  for (std::unique_ptr<ContentItem>& owned : items_) {
    ContentItem& item = *owned;
    if (!isNew && !item.isNew && !item.needsUpdate) {
      ++pendingSteps;
      continue;
    }
    progress.SetStatus(item.title, pendingSteps);
    pendingSteps = 1;

    bool downloaded = progress.IsRunning() && item.Download(progress, settings);
    if (!downloaded) {
      if (!progress.IsRunning()) {
        complete = false;
        break;
      }
      if (!item.Download(progress, settings)) {
        progress.LogLine(FormatText("Internet problem:%d %d)%s", item.RecordCount(),
                                    item.ContentIdNumber(), item.title.c_str()));
        complete = false;
        break;
      }
    }
    if (!item.downloadOk()) {
      complete = false;
      item.FreeRecords();
      continue;
    }

    if (tableHandle_ == 0 && !OpenTable(&tableHandle_)) return false;
    if (!item.WriteIndexRecord(*ports_.rapi, tableHandle_, progress)) {
      bool written = false;
      for (uint32_t pause : kIndexRetryPausesMs) {
        CloseTable();
        database_.Remount(pause);
        if (!OpenTable(&tableHandle_)) return false;
        if (item.WriteIndexRecord(*ports_.rapi, tableHandle_, progress)) {
          written = true;
          break;
        }
      }
      if (!written) {
        progress.LogLine(FormatText("1.Failed adding content:%d %d)%s", item.RecordCount(),
                                    item.ContentIdNumber(), item.title.c_str()));
        ports_.ui->MessageBox("Unable to write category, please sync again.", kSystemModalOk);
        complete = false;
        CloseTable();
        return false;
      }
    }

    DeleteRecordDatabases(item.contentId);
    if (item.RecordCount() > 1) {
      CloseTable();
      inlineOnly = false;
      if (!item.WriteRecordTable(ports_, 1, database_, progress) ||
          !item.WriteRecordTable(ports_, 2, database_, progress)) {
        if (settings.logEnabled()) {
          progress.LogLine(FormatText("Problem:%d %d)%s", item.RecordCount(),
                                      item.ContentIdNumber(), item.title.c_str()));
        }
        complete = false;
        return false;
      }
    }
    item.FreeRecords();
  }
  return true;
}

// ------------------------------------------------------------ CategoryList

CategoryList::CategoryList(const Ports& ports) : ports_(ports) {}

CategoryList::~CategoryList() = default;

Category* CategoryList::Find(const std::string& key) {
  auto it = categories_.find(key);
  return it == categories_.end() ? nullptr : it->second.get();
}

void CategoryList::AddCategory(const std::string& key, uint32_t version, int /*third*/) {
  if (categories_.count(key) != 0) return;  // the first line of a key wins
  categories_.emplace(key, std::make_unique<Category>(ports_, Category::Form::kList, key, version));
}

void CategoryList::AddContent(std::unique_ptr<ContentItem> item) {
  ++contentCount_;
  auto it = categories_.find(item->categoryKey);
  if (it == categories_.end()) {
    it = categories_
             .emplace(
                 item->categoryKey,
                 std::make_unique<Category>(ports_, Category::Form::kContent, item->categoryKey, 0))
             .first;
  }
  it->second->AddItem(std::move(item));
}

bool CategoryList::OpenCats(DeviceDatabase& database, CeDbHandle* handle) {
  CEOID oid = 0;
  return database.OpenOrCreate(kCategoryDatabase, kPropCategoryKey, 0, handle, &oid);
}

void CategoryList::MarkUnchanged(ProgressDialog& progress) {
  DeviceDatabase database(ports_);
  CeDbHandle handle = 0;
  if (!OpenCats(database, &handle)) {
    progress.LogLine("Unable to open or create cats database");
    return;
  }
  while (progress.IsRunning()) {
    Category copy(ports_, Category::Form::kHandheld, std::string(), 0);
    if (!copy.ReadRecord(handle)) break;
    Category* found = Find(copy.key());
    if (found != nullptr && found->fromServer && found->version() == copy.version()) {
      found->acceptsContent = false;
    }
  }
  database.CloseHandle(handle);
}

bool CategoryList::Reconcile(ProgressDialog& progress) {
  DeviceDatabase database(ports_);
  CeDbHandle handle = 0;
  CEOID catsOid = 0;
  if (!database.OpenOrCreate(kCategoryDatabase, kPropCategoryKey, 0, &handle, &catsOid)) {
    progress.LogLine("Problem opening category database");
    return false;
  }
  const uint16_t count = database.RecordCount(catsOid);
  for (uint16_t i = 0; i < count; ++i) {
    Category copy(ports_, Category::Form::kHandheld, std::string(), 0);
    if (!copy.ReadRecord(handle)) {
      progress.LogLine("Problem reading category database from device");
      database.CloseHandle(handle);
      return false;
    }
    Category* found = Find(copy.key());
    if (found == nullptr) {
      // The category is gone: its record, its items' record databases and
      // its content table.
      copy.DeleteRecord(handle);
      copy.DeleteContent(progress);
      database.DeleteDatabaseByName(copy.tableName());
    } else if (found->matched) {
      // A second record of the same key.
      found->isNew = false;
      found->needsUpdate = false;
      copy.DeleteRecord(handle);
    } else if (found->fromServer && found->version() != copy.version()) {
      found->matched = true;
      found->isNew = false;
      found->needsUpdate = true;
      copy.DeleteRecord(handle);
    } else {
      found->matched = true;
      if (!found->fromServer) found->needsUpdate = true;
      found->isNew = false;
    }
  }
  database.CloseHandle(handle);

  for (auto& entry : categories_) {
    if (!progress.IsRunning()) break;
    if (entry.second->NeedsSync()) entry.second->Check(progress);
  }
  return true;
}

bool CategoryList::LoadContent(ProgressDialog& progress, SyncSettings& settings) {
  bool result = true;
  progress.SetStatus("Loading Content", 1);
  progress.ResetPhase(contentCount_);
  for (auto& entry : categories_) {
    if (!progress.IsRunning()) break;
    Category& category = *entry.second;
    if (!category.NeedsSync()) continue;
    if (settings.logEnabled() && category.fromServer) {
      progress.LogLine(FormatText("updateing %s", category.key().c_str()));
    }
    if (!category.Sync(progress, settings)) {
      result = false;
      break;
    }
  }
  progress.SetStatus("Updating", 1);
  if (!WriteCategories(progress) && progress.IsRunning()) result = false;
  return result;
}

bool CategoryList::WriteCategories(ProgressDialog& progress) {
  DeviceDatabase database(ports_);
  CeDbHandle handle = 0;
  if (!OpenCats(database, &handle)) {
    progress.LogLine("could not update main cat database");
    return false;
  }
  for (auto& entry : categories_) {
    Category& category = *entry.second;
    if (!(category.isNew || (category.needsUpdate && category.fromServer))) continue;
    if (category.WriteRecord(handle)) continue;
    // One more try on a fresh mount.
    database.CloseHandle(handle);
    database.Unmount();
    ports_.clock->SleepMs(kCatsRetryPauseMs);
    database.Mount(database.VolumeName());
    if (!OpenCats(database, &handle)) return false;
    if (!category.WriteRecord(handle)) {
      progress.LogLine("could not update record in main cat database");
      database.CloseHandle(handle);
      return false;
    }
  }
  database.CloseHandle(handle);
  return true;
}

}  // namespace hhsync
