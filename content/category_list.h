#pragma once
// The categories of one sync and their content. The profile exchange fills a
// CategoryList (AddCategory for every category line, MarkUnchanged, then
// AddContent for every status line); the sync run then calls Reconcile, which
// compares the list with the handheld's "cats" database and checks the
// content tables, and LoadContent, which syncs every category that needs it
// and writes the records of new and changed categories back into "cats".
//
// Record of "cats", one per category: 0x64 the key (text), 0x65 the version
// whose content sync last completed (0 otherwise), 0x66 1 while every item
// written with the category kept its data inside its index record.
//
// Thread safety: none; used by the thread that runs the sync.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/run_report.h"
#include "content/content_item.h"
#include "content/item_index.h"
#include "device/device_database.h"
#include "device/records.h"
#include "platform/rapi.h"
#include "settings/sync_context.h"

namespace hhsync {

class ProgressSink;
class Prompter;
class ServerLink;
class SyncSettings;

inline constexpr CEPROPID kPropCategoryKey = 0x0064001F;
inline constexpr CEPROPID kPropCategoryVersion = 0x00650013;
inline constexpr CEPROPID kPropCategoryInlineOnly = 0x00660013;
inline constexpr const char* kCategoryDatabase = "cats";
// The content table of a category: "c_" + the first 24 bytes of its key.
inline constexpr std::size_t kTableKeyChars = 24;

std::string CategoryTableName(const std::string& key);

class Category {
 public:
  // The three ways a category comes to be.
  enum class Form {
    kList,      // a category line of the profile
    kContent,   // a status line naming a category the profile did not list
    kHandheld,  // a record read from "cats"
  };

  // Joins the shared volume mount through a DeviceDatabase of its own; tells
  // the user through prompter of an item it could not write.
  Category(VolumeMount& mount, Prompter& prompter, Form form, const std::string& key,
           uint32_t version);
  // Closes the content table if it is open.
  ~Category();
  Category(const Category&) = delete;
  Category& operator=(const Category&) = delete;

  // Whether the category must go through Check and Sync. An unchanged
  // category of the profile is marked complete instead.
  bool NeedsSync();
  // Reads the next "cats" record into this category.
  ReadOutcome ReadRecord(const DbHandle& handle);
  // Writes this category as a new "cats" record (version 0 unless complete).
  bool WriteRecord(const DbHandle& handle);
  // Deletes the "cats" record this category was read from. True when the
  // handheld reported it deleted.
  bool DeleteRecord(const DbHandle& handle);

  // Keeps the item when the category accepts content, replacing an item of
  // the same content id (the last status line wins).
  void AddItem(ContentItem item);
  // The same with the hash of its content id (Hash) already known.
  void AddItem(ContentItem item, uint32_t hash);
  // Asks the processor to fetch the index slot of a content id's hash.
  void PrefetchSlot(uint32_t hash) const;
  static uint32_t Hash(std::string_view contentId);
  // Compares the content table with the items: records of items that are
  // gone or changed are deleted with their record databases. False when the
  // table could not be opened, counted, read or cleaned up, or the user
  // cancelled.
  bool Check(ProgressSink& progress);
  // On the handheld's copy of a category that is gone: deletes the record
  // databases of its items. False when the table could not be opened or
  // read, or a record database may still be there.
  bool DeleteContent(ProgressSink& progress);
  // Downloads and writes every item that is new or changed. False when the
  // category could not be written and the run should stop going through
  // categories.
  bool Sync(const SyncContext& run);

  // The item stored under a content id, or null.
  ContentItem* FindItem(std::string_view contentId);
  std::size_t ItemCount() const { return items_.size(); }

  const std::string& key() const { return key_; }
  const std::string& tableName() const { return tableName_; }
  uint32_t version() const { return version_; }
  CEOID oid() const { return oid_; }

  // Where the category stands in this run: set by the category itself and
  // by its CategoryList, which decides across categories.
  struct State {
    bool acceptsContent = true;  // false once "cats" holds the profile's version
    bool complete = false;       // every item is on the handheld
    bool inlineOnly = true;      // no item has record databases of its own
    bool fromServer = false;     // listed by the profile
    bool isNew = true;           // no "cats" record of it on the handheld
    bool needsUpdate = false;    // its "cats" record is to be written anew
    bool matched = false;        // a "cats" record of it was found
    // This run could not tell what the handheld holds of this category (a
    // record could not be read or deleted): it is neither synced nor
    // recorded, and the next sync takes it up again.
    bool deferred = false;
    // An earlier category of the profile has the same content table (their
    // keys agree in the first kTableKeyChars characters): this one is left
    // out, neither synced nor recorded, so that it cannot overwrite the
    // other's items. The key of that category.
    std::string tableOwner;
  };
  const State& state() const { return state_; }

  // The category's facts. Without reconciled ("cats" could not be read) the
  // run left it as it was, knowing nothing of the handheld's copy.
  CategoryFacts Facts(bool reconciled) const;

 private:
  friend class CategoryList;

  // What this run found and did, for the run's report: the version of the
  // first "cats" record of the key, the version of a "cats" record of it
  // that was left in place, and the version this run wrote; the items
  // fetched, the index records deleted and the records written.
  struct Tally {
    std::optional<uint32_t> handheldVersion;
    std::optional<uint32_t> versionLeft;
    std::optional<uint32_t> versionWritten;
    int itemsFetched = 0;
    int itemsDeleted = 0;
    int recordsWritten = 0;
  };

  bool OpenTable(DbHandle* handle);
  void CloseTable();
  // Removes the item's record databases; true when both are gone.
  bool DeleteRecordDatabases(std::string_view contentId);
  // Writes a downloaded item: its index record (with retries on a fresh
  // mount) and, for more than one data record, its record databases. False
  // when it could not be written whole; no index record is then left for it.
  bool WriteItem(ContentItem& item, const SyncContext& run);

  Prompter& prompter_;
  std::string key_;
  std::string tableName_;
  uint32_t version_ = 0;
  CEOID oid_ = 0;
  ItemIndex items_;
  State state_;
  Tally tally_;
  DbHandle tableHandle_;
  DeviceDatabase database_;
};

class CategoryList {
 public:
  CategoryList(VolumeMount& mount, Prompter& prompter);
  ~CategoryList();
  CategoryList(const CategoryList&) = delete;
  CategoryList& operator=(const CategoryList&) = delete;

  // Adds a category of the profile; a key that exists is ignored (the first
  // line wins). The third number of the line is not used.
  void AddCategory(const std::string& key, uint32_t version, int third);
  // Files the item under its category, making a category for a key the
  // profile did not list.
  void AddContent(std::string_view title, std::string_view contentId, std::string_view field3,
                  std::string_view field4, std::string_view version, std::string_view categoryKey,
                  std::string_view field7);
  // Stops categories whose "cats" record holds the profile's version from
  // taking content.
  void MarkUnchanged(ProgressSink& progress);
  // Compares the list with "cats": deletes what is gone and duplicated,
  // flags what changed, and checks the content of every category that needs
  // a sync. False when "cats" could not be opened, counted or read; the
  // content must then be left as it is (LoadContent would take every
  // category for new).
  bool Reconcile(ProgressSink& progress);
  // Syncs every category that needs it, then writes the categories. True
  // when every sync and the final write succeeded. A deferred category is
  // left alone and makes the result false, as does a gone one that
  // Reconcile could not delete whole.
  bool LoadContent(const SyncContext& run);
  // Writes the "cats" records of new and changed categories, retrying once
  // on a fresh mount.
  bool WriteCategories(ProgressSink& progress);
  // Reports every category of the profile and every gone one to recorder.
  // reconciled: whether Reconcile could read "cats".
  void ReportTo(RunRecorder& recorder, bool reconciled) const;
  // The keys of the categories the handheld does not hold whole after this
  // run: synced but incomplete, not recorded, left for the next sync, or
  // gone but not deleted. Empty when the content is all there. Categories
  // left out for their table are not among them. Asked only after "cats"
  // was read.
  std::vector<std::string> Unfinished() const;
  // The keys of the categories left out because an earlier one of the
  // profile has their content table.
  std::vector<std::string> LeftOut() const;

  Category* Find(const std::string& key);
  std::size_t size() const { return categories_.size(); }
  int contentCount() const { return contentCount_; }
  // The categories in iteration order.
  const std::map<std::string, std::unique_ptr<Category>, std::less<>>& categories() const {
    return categories_;
  }

 private:
  bool OpenCats(DeviceDatabase& database, DbHandle* handle);
  // Compares one "cats" record (read into copy) with the list: deletes what
  // is gone or duplicated and flags what changed.
  void CompareRecord(Category& copy, DeviceDatabase& database, const DbHandle& handle,
                     ProgressSink& progress);

  // Makes category the owner of its content table, or marks it left out
  // when an earlier category owns the table.
  void ClaimTable(Category& category);

  VolumeMount& mount_;
  Prompter& prompter_;
  int contentCount_ = 0;
  // Content tables (lower case) by the key of the category that owns them.
  std::map<std::string, std::string> tableOwners_;
  std::map<std::string, std::unique_ptr<Category>, std::less<>> categories_;
  Category* last_ = nullptr;  // the category of the last status line
  // The categories found gone, as reported.
  std::vector<CategoryFacts> gone_;
};

}  // namespace hhsync
