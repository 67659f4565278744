#pragma once
// The cases of `hhctl sweep` (sweep.h): which fault each faulted run meets,
// made from what the fault-free run of a scenario did (its remote calls,
// its requests). Plain values and functions.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "reference_server.h"

namespace hhctl {

// A request of a fault-free run, as its report gives it.
struct ServerRequest {
  std::string method;
  std::string url;
  uint64_t bytes = 0;  // body bytes of the answer
};

// What a request asks for, for people and for grouping: "profile", "keep",
// "resource list", "resource 2", "data 1001/1.edm"; else its path.
std::string RequestLabel(const std::string& method, const std::string& url);

struct FaultCase {
  std::string scenario;
  std::string kind;      // "handheld", "server", "desktop"; empty: the fault-free control
  std::string what;      // the operation, the request's label, or the desktop fault
  std::string use;       // which calls fail, or how the request is answered
  uint32_t nth = 0;      // the first failing call, or the request
  uint32_t error = 0;    // handheld: the error the failing calls leave
  uint32_t calls = 1;    // handheld: adjacent calls that fail, from nth
  bool lasting = false;  // handheld: every call from nth on
  std::optional<ReferenceServer::Fault> serverFault;

  // "CeWriteRecordProps", "server profile", "desktop store-locked".
  std::string Name() const;
};

// Handheld cases: for each operation (in ops, with its count of calls in
// counts), each use and each error. Uses: "first", "second", "middle",
// "last", "every" fail one call; "first-pair", "last-pair" and "pairs"
// (every adjacent pair) two adjacent calls; "lasting" every call from the
// middle one on. Error 0 is left out for the registry calls, which answer
// with their error code: a "failure" with code 0 is a success that did
// nothing, which no handheld gives.
std::vector<FaultCase> HandheldCases(const std::string& scenario,
                                     const std::map<std::string, uint32_t>& counts,
                                     const std::vector<std::string>& ops,
                                     const std::vector<std::string>& uses,
                                     const std::vector<uint32_t>& errors);

// Server cases for each request of a fault-free run and each chosen kind:
// "cut-head" (inside the status line's header), "cut-body" (before the
// first, the middle and the last byte), "status" (404 and 500), "garbage"
// (not for resource downloads, whose bytes mean whatever the server says),
// "stall" (the first request of each kind only: each costs the give-up
// time), "lasting" (500 for every request of the target). stallMs: how
// long a stall holds the connection.
std::vector<FaultCase> ServerCases(const std::string& scenario,
                                   const std::vector<ServerRequest>& requests,
                                   const std::vector<std::string>& kinds, uint32_t stallMs);

std::vector<FaultCase> DesktopCases(const std::string& scenario,
                                    const std::vector<std::string>& faults);

// At most limit cases, one of every fault (by Name) in turn, so that each
// is covered before any gets a second case; 0 keeps all.
std::vector<FaultCase> Limit(const std::vector<FaultCase>& all, std::size_t limit);

}  // namespace hhctl
