#pragma once
// SyncContext: what the steps of one sync share: where progress and log
// lines go, the run's settings and its link to the server. The run owns all
// three; a step borrows them for its call and keeps none.

namespace hhsync {

class ProgressSink;
class ServerLink;
class SyncSettings;

struct SyncContext {
  ProgressSink& progress;
  SyncSettings& settings;
  ServerLink& link;
};

}  // namespace hhsync
