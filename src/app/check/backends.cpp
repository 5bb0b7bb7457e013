#include "app/check/backend.h"
#include "app/check/baloo_backend.h"
#include "app/check/mdindex_backend.h"
#include "app/check/recoll_backend.h"
#include "app/check/tracker_backend.h"

namespace findlark::check {

namespace {

using Maker = std::unique_ptr<Backend> (*)();

struct BackendRow {
  const char* name;
  Maker make;
};

// The one table of backends, in picker order.
const BackendRow kBackends[] = {
    {"mdindex", []() -> std::unique_ptr<Backend> { return std::make_unique<MdindexBackend>(); }},
    {"tracker", []() -> std::unique_ptr<Backend> { return std::make_unique<TrackerBackend>(); }},
    {"baloo", []() -> std::unique_ptr<Backend> { return std::make_unique<BalooBackend>(); }},
    {"recoll", []() -> std::unique_ptr<Backend> { return std::make_unique<RecollBackend>(); }},
};

}  // namespace

std::vector<std::unique_ptr<Backend>> knownBackends() {
  std::vector<std::unique_ptr<Backend>> out;
  for (const BackendRow& row : kBackends) out.push_back(row.make());
  return out;
}

std::unique_ptr<Backend> makeBackend(const QString& name) {
  for (const BackendRow& row : kBackends)
    if (name == QLatin1String(row.name)) return row.make();
  return nullptr;
}

QStringList knownBackendNames() {
  QStringList out;
  for (const BackendRow& row : kBackends) out.append(QLatin1String(row.name));
  return out;
}

}  // namespace findlark::check
