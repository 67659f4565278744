#pragma once
// How the storage layer reports the failures the user is told of.

#include <string>

namespace hhsync {

// A failure on the volume or one of its databases that the user is told of.
// The storage layer only says what failed; the layer that owns the user's
// view decides how it is shown, at the moment it is reported.
enum class DbFailure {
  kMountBadParameter,   // the volume could not be mounted: a bad parameter
  kMountDiskFull,       // the volume could not be mounted: the store is full
  kMountUnnamed,        // mounted already, but the handheld gave no identifier
  kOpenBadParameter,    // a database could not be opened or created: a bad parameter
  kOpenNoMemory,        // a database could not be opened: out of memory
  kCreateDupName,       // a database could not be created: the name is taken
  kReopenBadParameter,  // a database just created could not be opened: a bad parameter
  kReopenNoMemory,      // a database just created could not be opened: out of memory
  kCountFailed,         // a database's record count could not be had
  kPropertyMissing,     // a record read lacks a property that was asked for
};

class DbFailureSink {
 public:
  // database: the database the failure is about, where one is named.
  virtual void Failed(DbFailure failure, const std::string& database) = 0;

 protected:
  ~DbFailureSink() = default;
};

// A sink for runs and tools that tell nobody.
DbFailureSink& IgnoreDbFailures();

}  // namespace hhsync
