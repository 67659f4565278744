#pragma once
// What `hhctl device verify` checks: whether the content databases of a
// handheld volume agree with each other, as a sync leaves them.
//
//   missing-table       a "cats" record whose content table ("c_" and the
//                       first 24 characters of its key) is not there
//   orphan-table        a content table no "cats" record names
//   duplicate-category  two or more "cats" records of one key
//   shared-table        two or more "cats" keys whose content table names
//                       are one (their first 24 characters agree): the
//                       table cannot hold both categories
//   duplicate-item      two or more index records of one content id
//                       (0x00640013) in a content table
//   missing-record-database  an item that keeps its data in record
//                       databases (its index record has no inline data,
//                       0x006C0041) without "J" + id or "JJ" + id
//   record-count-mismatch    its "J" and "JJ" databases hold different
//                       counts of records
//   sequence-gap        the sequence numbers (0x007C0013) of a "J" or "JJ"
//                       database are not 0, 1, ... without gaps or repeats
//   leftover-record-database a "J"/"JJ" database no such index record names
//   resource-mismatch   "zavRes" and "zavResA" disagree on a resource: rid
//                       (0x00640013) or revision (0x0065001F) on one side
//                       only, or twice on one side. PRC and PDB resources
//                       are kept in neither.
//
// A "cats" record of version 0 (a category whose last sync did not
// complete, or one named by status lines only) claims no content: it is
// consistent as long as its table is there.
//
// Thread safety: pure functions.

#include <string>
#include <vector>

#include "emulator/emulated_handheld.h"

namespace hhctl {

struct Finding {
  std::string kind;      // one of the kinds above
  std::string database;  // where it shows: "cats", "c_news", "J102", "zavResA", ...
  std::string key;       // the category key, content id or rid concerned
  std::string detail;    // what is wrong, for people
};

// Every inconsistency among the content databases of volume, in the order
// of the kinds above.
std::vector<Finding> CheckContent(const hhsync::HandheldDump::Volume& volume);

}  // namespace hhctl
