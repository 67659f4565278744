#pragma once
// What the sweep's scenarios serve and leave on the handheld: catalogue 1
// (4 categories of 5 items, the first sync), catalogue 2 (one category
// bumped, one gone, one new, a resource revised: the resync), the kill
// test's large catalogue, and the keep entries each start state holds.
// Items are split over "J"/"JJ" record databases or kept inline, so that
// every path of the content sync is taken.
//
// Thread safety: plain values and free functions.

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "emulator/emulated_handheld.h"

namespace hhctl {

struct Item {
  uint32_t id = 0;
  std::string category;
  uint32_t version = 1;
  uint32_t records = 1;  // 1: the data lives inside the index record
};

struct Resource {
  std::string rid, type, revision, name, bytes;
};

struct Catalogue {
  std::vector<std::pair<std::string, uint32_t>> categories;  // key, version
  std::vector<Item> items;
  std::vector<Resource> resources;
};

Catalogue CatalogueV1();
Catalogue CatalogueV2();
// itemCount items over up to 8 categories, four in five split.
Catalogue KillCatalogue(unsigned itemCount);

// Replaces everything under the server's root with the catalogue's files:
// profile.txt, data/ID/VER.edm, resources.txt and resources/R.
void WriteCatalogue(const Catalogue& catalogue, const std::filesystem::path& root);

// One record of the handheld's "keep" database.
struct KeepEntry {
  uint32_t value = 0;
  std::string text101, text103, text104, text105;
};

std::vector<KeepEntry> KeepsV1();    // the first sync's
std::vector<KeepEntry> KeepsV2();    // added before the resync
std::vector<KeepEntry> KillKeeps();  // the kill test's

std::vector<hhsync::CePropVal> KeepProps(const KeepEntry& entry);
// The entries as the program posts them (ParseKeepBody's text form).
std::vector<std::string> KeepTexts(const std::vector<KeepEntry>& entries);
// The text forms of the entries in the dump's "keep" databases.
std::set<std::string> KeepOnHandheld(const hhsync::HandheldDump& dump);

// Helpers for the files of the sweep's directory.
std::string ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);
// Makes dir, empty.
void ClearDirectory(const std::filesystem::path& dir);

}  // namespace hhctl
