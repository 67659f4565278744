#pragma once
// What `hhctl sweep` compares after a run: the state a sync leaves behind,
// reduced to what must come out the same whichever way the program got
// there, and the keep entries the content server received.
//
// A SyncState holds the handheld's databases (by volume and name, with their
// sort orders and their records as a multiset of property sets: record ids
// and database object ids differ between equally good runs and are left
// out), the handheld's registry, the desktop registry store and the files in
// the program directory. The remote-call log and the injected faults of the
// handheld image are not part of it.
//
// Record databases "J<id>" and "JJ<id>" that no index record of any content
// table ("c_...", property 0x00640013 is the content id) names are
// leftovers: unreachable for the handheld application and never deleted by
// a later sync. They are kept apart, so that they can be listed as such,
// and each is a difference of its own.
//
// A run's report (the JSON file HHSYNC_REPORT names) is read for its shape
// and its outcome only: the sweep holds what the report claims against the
// state the run left, not the report's every field.
//
// Thread safety: plain values and free functions; no shared state.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "emulator/emulated_handheld.h"
#include "platform/registry.h"

namespace hhctl {

// One handheld database reduced to what must match.
struct DatabaseState {
  std::string volume;  // as the handheld spells them
  std::string name;
  std::string sorts;                 // "0x0064001F:flags" items joined by ";"
  std::vector<std::string> records;  // RecordText of every record, sorted
};

struct SyncState {
  bool connected = false;
  std::vector<std::string> libraries;  // lower case, sorted
  // Keyed by "volume/name" in lower case (the handheld ignores case there).
  std::map<std::string, DatabaseState> databases;
  std::map<std::string, DatabaseState> leftovers;
  // Handheld registry: key path in lower case -> its default value, or
  // kNoValue for a key without one.
  std::map<std::string, std::string> deviceRegistry;
  // Desktop registry store: "root\path value name" (or "root\path (default
  // value)") in lower case -> "sz:text" or "dword:number".
  std::map<std::string, std::string> desktopRegistry;
  // Program directory files: name -> size and digest of the bytes.
  std::map<std::string, std::string> files;
};

inline constexpr const char* kNoValue = "(no value)";
// Desktop values that hold a time: only whether they exist is compared.
inline constexpr const char* kPresent = "(present)";

// A record's properties in id order as one line of text: "0xID=VALUE" items
// joined by ";", numbers in decimal, text in double quotes (UTF-8), byte
// blocks as lowercase hex in brackets.
std::string RecordText(const std::vector<hhsync::CePropVal>& props);

// The handheld part of the state, leftovers sorted out.
SyncState StateFromDump(const hhsync::HandheldDump& dump);

// Adds the values of one root of the desktop registry store. Values named in
// timeNames (compared without regard to case) are kept as kPresent.
void AddDesktopRegistry(SyncState* state, hhsync::RegRoot root,
                        const std::vector<hhsync::RegEntry>& entries,
                        const std::vector<std::string>& timeNames = {"lst"});

// Adds one program directory file by name and bytes.
void AddFile(SyncState* state, const std::string& name, const std::string& bytes);

// One way a state differs from the reference.
struct Difference {
  std::string where;  // "handheld db news.vol/c_news", "handheld registry K", ...
  std::string what;   // "2 records missing, 1 extra: ...", "missing", "X instead of Y"
};

// Every difference of actual from reference, leftovers that the reference
// does not have included. Empty when the two states converged.
std::vector<Difference> Compare(const SyncState& reference, const SyncState& actual);

// One line for people: "where: what" items joined by "; ", cut to maxChars.
std::string Summarize(const std::vector<Difference>& differences, std::size_t maxChars = 160);

// The keep entries of one posted form body ("p=...&count=N&keep=" and N
// entries of five "|"-terminated fields), each entry as its five fields
// joined by "|" (the escaped text form the program sends). False when the
// body does not have that shape; *entries then holds what could be read.
bool ParseKeepBody(const std::string& body, std::vector<std::string>* entries);

// How often each expected keep entry reached the server.
struct KeepTally {
  std::map<std::string, int> delivered;  // expected entry -> times received
  std::vector<std::string> unexpected;   // received entries that were not expected
  int bodies = 0;                        // form bodies received
  int malformed = 0;                     // bodies that did not parse
  int lost() const;                      // expected entries never received
  int twice() const;                     // expected entries received more than once
};

// Tallies the contents of keep-received.txt (one body per line) against the
// expected entries (text forms as ParseKeepBody gives them).
KeepTally TallyKeep(const std::string& received, const std::vector<std::string>& expected);

// What a run's report file holds, as far as the sweep reads it.
struct ReportRead {
  bool present = false;  // there was a file
  bool whole = false;    // it has the shape ReadReport checks
  std::string outcome;   // its "outcome" when whole
  std::string reason;    // its "reason", empty when there is none
  // Its requests in the order they went out, with the body bytes received.
  struct Request {
    std::string method;
    std::string url;
    uint64_t bytes = 0;
  };
  std::vector<Request> requests;
  std::string problem;  // why it is not whole: "missing", "not JSON: ...", ...
  // Its "keep" says the keep list was not all dealt with, so that entries
  // may be left on the handheld: the list could not be read, or entries
  // were read and not all accepted, deleted, or their database deleted. A
  // keep list left for the next sync does not change the outcome.
  bool keepLeft = false;
};

// The top-level keys of a report, every one required and no other allowed
// (docs/report.schema.json), in the order the program writes them.
const std::vector<std::string>& ReportKeys();

// The outcomes a report names: "complete", "partial", ... "failed".
const std::vector<std::string>& ReportOutcomes();

// Reads a report file's bytes (nullopt: there was no file). Whole when it
// parses as one JSON object with exactly the keys of ReportKeys, "program"
// "hhsync", and an "outcome" of ReportOutcomes. A file cut short never
// parses, so a torn report is never whole.
ReportRead ReadReport(const std::optional<std::string>& bytes);

}  // namespace hhctl
