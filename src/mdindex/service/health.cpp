#include "mdindex/service/health.h"

#include <cstdlib>
#include <utility>
#include <vector>

#include "mdindex/core/paths.h"
#include "mdindex/core/recognition_config.h"
#include "mdindex/core/service_lock.h"
#include "mdindex/service/exclusions.h"
#include "mdindex/service/status.h"
#include "mdindex/store/store.h"

namespace mdindex::service {

IndexHealth readIndexHealth(const std::string& path, bool countItems) {
  IndexHealth h;
  h.path = path;
  const Exclusions excl({homeDir(), volumesRoot()}, indexDir());
  h.inScope = excl.isIndexable(path);
  h.servicePid = runningServicePid();
  if (h.servicePid) h.writeTrouble = serviceNote();

  const RecognitionConfig recognition = readRecognitionConfig();
  h.recognitionOn = recognition.enabled;
  if (recognition.enabled) {
    const auto missing = missingRecognitionLanguages(recognition.languages);
    if (!missing.empty()) h.recognitionProblem = missingLanguagesLine(missing);
  }

  h.setAside = Store::setAsideCopy(indexDir());
  std::string openError;
  auto store = Store::open(indexDir(), Store::Mode::ReadOnly, &openError);
  if (!store) {
    // The store's own words tell "none yet" from "unreadable".
    h.store = openError.rfind("there is no index", 0) == 0 ? StoreState::Missing : StoreState::Damaged;
    h.storeError = openError;
    return h;
  }
  h.store = StoreState::Ready;
  const auto indexing = store->meta(meta::kIndexing);
  h.indexingOn = !indexing || *indexing != "off";
  h.serviceState = store->meta(meta::kState).value_or("");
  const StoreStatus st = store->status();
  // Count and names from one read, so they agree.
  FailedImports failed = store->failedImports(kFailedImportsListed);
  h.failedImports = failed.total;
  h.failedListed = std::move(failed.items);
  h.lastUpdate = st.lastUpdate;
  if (countItems) h.items = store->countUnder(path);
  h.fallbackFolders = std::atol(store->meta(meta::kFallbackFolders).value_or("0").c_str());
  h.fallbackInterval = store->meta(meta::kFallbackInterval).value_or("30");
  h.tooLongPaths = std::atol(store->meta(meta::kTooLongPaths).value_or("0").c_str());
  if (h.recognitionOn) h.recognitionBacklog = store->recognitionBacklog();
  return h;
}

}  // namespace mdindex::service
