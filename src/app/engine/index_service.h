// Starting the index service (mdindexd) from the app.
#pragma once

namespace findlark {

enum class ServiceStart {
  AlreadyRunning,  // the service holds its lock: nothing to do
  Started,         // mdindexd was launched, detached from the app
  Disabled,        // FINDLARK_NO_SERVICE_START=1: the caller (a test) opted out
  Failed,          // the lock could not be examined or mdindexd could not start
};

// Starts toolPath("mdindexd") detached unless it is running already. The
// service holds an exclusive flock on <runtimeDir()>/mdindexd.lock for its
// whole life, so a lock this call can take means no service runs. Main
// thread; returns without waiting for the service to come up.
ServiceStart ensureIndexService();

}  // namespace findlark
