// Starting the index service (mdindexd) from the app.
#pragma once

namespace findlark {

enum class ServiceStart {
  AlreadyRunning,  // the service holds its lock: nothing to do
  Started,         // mdindexd was launched, detached from the app
  Disabled,        // FINDLARK_NO_SERVICE_START=1: the caller (a test) opted out
  Failed,          // the lock could not be examined or mdindexd could not start
};

// Starts toolPath("mdindexd") detached unless it is running already (asked
// through mdindex::runningServicePid, which never takes the service's lock).
// Main thread; returns without waiting for the service to come up.
ServiceStart ensureIndexService();

}  // namespace findlark
