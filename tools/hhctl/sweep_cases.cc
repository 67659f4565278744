#include "sweep_cases.h"

#include <algorithm>
#include <set>

#include "reference_server_http.h"

namespace hhctl {
namespace {

using Fault = ReferenceServer::Fault;

bool StartsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

// The calls one use names for an operation called count times, and how
// many adjacent calls fail from each; nothing when it names none.
std::vector<std::pair<uint32_t, uint32_t>> Calls(const std::string& use, uint32_t count) {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  if (count == 0) return out;
  if (use == "every") {
    for (uint32_t nth = 1; nth <= count; ++nth) out.push_back({nth, 1});
  } else if (use == "pairs") {
    for (uint32_t nth = 1; nth < count; ++nth) out.push_back({nth, 2});
  } else if (use == "first-pair") {
    if (count >= 2) out.push_back({1, 2});
  } else if (use == "last-pair") {
    if (count >= 2) out.push_back({count - 1, 2});
  } else if (use == "lasting" || use == "middle") {
    out.push_back({(count + 1) / 2, 1});
  } else if (use == "first" || use == "second" || use == "last") {
    const uint32_t nth = use == "first" ? 1 : use == "second" ? 2 : count;
    if (nth <= count) out.push_back({nth, 1});
  }
  return out;
}

FaultCase MakeCase(const std::string& scenario, const char* kind, const std::string& what,
                   const std::string& use, uint32_t nth) {
  FaultCase c;
  c.scenario = scenario;
  c.kind = kind;
  c.what = what;
  c.use = use;
  c.nth = nth;
  return c;
}

}  // namespace

std::string RequestLabel(const std::string& method, const std::string& url) {
  const std::size_t q = url.find('?');
  const std::string path = url.substr(0, q);
  const std::string query = q == std::string::npos ? "" : url.substr(q + 1);
  const std::size_t at = path.rfind("/update/");
  if (at == std::string::npos) return method + " " + path;
  const std::string rest = path.substr(at + 8);
  if (rest == "profile" || rest == "keep") return rest;
  if (rest == "resource") {
    const std::string rid = http::QueryParam(query, "rid").value_or("");
    return rid.empty() ? "resource list" : "resource " + rid;
  }
  if (StartsWith(rest, "data/")) return "data " + rest.substr(5);
  return method + " " + path;
}

std::string FaultCase::Name() const {
  if (kind.empty()) return "(none)";
  if (kind == "handheld") return what;
  return kind + " " + what;
}

std::vector<FaultCase> HandheldCases(const std::string& scenario,
                                     const std::map<std::string, uint32_t>& counts,
                                     const std::vector<std::string>& ops,
                                     const std::vector<std::string>& uses,
                                     const std::vector<uint32_t>& errors) {
  std::vector<FaultCase> out;
  for (const std::string& op : ops) {
    auto it = counts.find(op);
    const uint32_t count = it == counts.end() ? 0 : it->second;
    // One case per distinct set of failing calls, its uses joined by "/".
    std::vector<FaultCase> cases;
    for (const std::string& use : uses) {
      for (const auto& [nth, calls] : Calls(use, count)) {
        const bool lasting = use == "lasting";
        auto same =
            std::find_if(cases.begin(), cases.end(), [&, &n = nth, &k = calls](const FaultCase& c) {
              return c.nth == n && c.calls == k && c.lasting == lasting;
            });
        if (same != cases.end()) {
          same->use += "/" + use;
          continue;
        }
        FaultCase c = MakeCase(scenario, "handheld", op, use, nth);
        c.calls = calls;
        c.lasting = lasting;
        cases.push_back(c);
      }
    }
    for (const FaultCase& c : cases) {
      for (uint32_t error : errors) {
        if (error == 0 && StartsWith(op, "CeReg")) continue;
        FaultCase withError = c;
        withError.error = error;
        out.push_back(withError);
      }
    }
  }
  return out;
}

std::vector<FaultCase> ServerCases(const std::string& scenario,
                                   const std::vector<ServerRequest>& requests,
                                   const std::vector<std::string>& kinds, uint32_t stallMs) {
  auto chosen = [&](const char* kind) {
    return std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
  };
  std::vector<FaultCase> out;
  std::set<std::string> stalledKinds;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const ServerRequest& request = requests[i];
    const std::string label = RequestLabel(request.method, request.url);
    const uint32_t nth = static_cast<uint32_t>(i + 1);
    auto add = [&](const std::string& use, Fault fault) {
      fault.nth = nth;
      FaultCase c = MakeCase(scenario, "server", label, use, nth);
      c.serverFault = fault;
      out.push_back(c);
    };
    if (chosen("cut-head")) {
      // "HTTP/1.1 200 OK\r\n" and one byte of the next header line.
      add("cut-head", Fault{Fault::Kind::kCutHead, 0, false, 18, 0, {}});
    }
    if (chosen("cut-body") && request.bytes > 0) {
      std::set<uint64_t> offsets = {0, request.bytes / 2, request.bytes - 1};
      for (uint64_t offset : offsets) {
        add("cut-body@" + std::to_string(offset),
            Fault{Fault::Kind::kCutBody, 0, false, static_cast<std::size_t>(offset), 0, {}});
      }
    }
    if (chosen("status")) {
      for (int status : {404, 500}) {
        add("status " + std::to_string(status),
            Fault{Fault::Kind::kStatus, 0, false, 0, status, {}});
      }
    }
    const bool download = StartsWith(label, "resource ") && label != "resource list";
    if (chosen("garbage") && !download) {
      add("garbage", Fault{Fault::Kind::kGarbage, 0, false, 0, 0, {}});
    }
    const std::string group = label.substr(0, label.find(' '));
    if (chosen("stall") && stalledKinds.insert(download ? "download" : group).second) {
      add("stall", Fault{Fault::Kind::kStall, 0, false, static_cast<std::size_t>(request.bytes / 2),
                         0, std::chrono::milliseconds(stallMs)});
    }
    if (chosen("lasting")) {
      add("lasting 500", Fault{Fault::Kind::kStatus, 0, true, 0, 500, {}});
    }
  }
  return out;
}

std::vector<FaultCase> DesktopCases(const std::string& scenario,
                                    const std::vector<std::string>& faults) {
  std::vector<FaultCase> out;
  for (const std::string& fault : faults) {
    out.push_back(MakeCase(scenario, "desktop", fault, "during the run", 0));
  }
  return out;
}

std::vector<FaultCase> Limit(const std::vector<FaultCase>& all, std::size_t limit) {
  if (limit == 0 || all.size() <= limit) return all;
  std::vector<std::string> order;
  std::map<std::string, std::vector<std::size_t>> byName;
  for (std::size_t i = 0; i < all.size(); ++i) {
    const std::string name = all[i].Name();
    if (byName.count(name) == 0) order.push_back(name);
    byName[name].push_back(i);
  }
  std::vector<std::size_t> chosen;
  for (std::size_t round = 0; chosen.size() < limit; ++round) {
    bool any = false;
    for (const std::string& name : order) {
      if (round < byName[name].size() && chosen.size() < limit) {
        chosen.push_back(byName[name][round]);
        any = true;
      }
    }
    if (!any) break;
  }
  std::sort(chosen.begin(), chosen.end());
  std::vector<FaultCase> out;
  for (std::size_t i : chosen) out.push_back(all[i]);
  return out;
}

}  // namespace hhctl
