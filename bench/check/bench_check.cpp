// How long the index check takes on a running mdindex: a whole
// `findlark-check --json` run, and per sample and route the seconds from the
// file's creation to the first search that found it (median and max over
// five runs). Runs in a temporary home with its own service, stopped by pid.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "../../tests/support/process.h"
#include "mdindex/store/store.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRuns = 5;

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double maximum(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

std::string slurp(const std::string& path) {
  QFile f(QString::fromStdString(path));
  return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

}  // namespace

int main() {
  char tmpl[] = "/var/tmp/findlark-bench-check-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string root = tmpl;
  for (const char* sub : {"home", "index", "volumes", "run"}) fs::create_directories(root + "/" + sub);
  setenv("HOME", (root + "/home").c_str(), 1);
  setenv("FINDLARK_INDEX_DIR", (root + "/index").c_str(), 1);
  setenv("FINDLARK_VOLUMES_ROOT", (root + "/volumes").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
  setenv("FINDLARK_TOOL_DIR", FINDLARK_BIN_DIR, 1);

  const std::string bin = FINDLARK_BIN_DIR;
  const pid_t service = support::startProcess({bin + "/mdindexd", "--foreground"}, "/dev/null", root + "/service.log");
  const auto ready = [&] {
    auto store = mdindex::Store::open(root + "/index", mdindex::Store::Mode::ReadOnly);
    return store && store->meta("service.state") == std::string("idle");
  };
  for (const auto limit = Clock::now() + std::chrono::seconds(30); !ready() && Clock::now() < limit;)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

  std::vector<double> whole;
  std::map<std::string, std::vector<double>> perCell;  // "FindlarkA.txt query" -> seconds
  std::vector<std::string> order;
  int failures = 0;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = Clock::now();
    const pid_t check = support::startProcess({bin + "/findlark-check", "--json"}, root + "/check.json", root + "/check.err");
    const int status = support::waitExit(check);
    whole.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    if (status != 0) ++failures;
    const QJsonObject doc = QJsonDocument::fromJson(QByteArray::fromStdString(slurp(root + "/check.json"))).object();
    for (const QJsonValue& index : doc["indexes"].toArray()) {
      for (const QJsonValue& sample : index["samples"].toArray()) {
        const QJsonObject routes = sample["routes"].toObject();
        for (const QString& route : routes.keys()) {
          const QJsonObject cell = routes[route].toObject();
          if (!cell["found"].toBool()) continue;
          const std::string key = sample["file"].toString().toStdString() + " " + route.toStdString();
          if (!perCell.count(key)) order.push_back(key);
          perCell[key].push_back(cell["seconds"].toDouble());
        }
      }
    }
  }
  ::kill(service, SIGTERM);
  support::waitExit(service);
  fs::remove_all(root);

  std::printf("findlark-check on a running mdindexd, %d runs (%d not exit 0)\n", kRuns, failures);
  std::printf("  whole run: median %.3f s, max %.3f s\n", median(whole), maximum(whole));
  std::printf("  time to findable (from creation to the first search that found it):\n");
  std::printf("    %-26s %8s %8s %5s\n", "sample route", "median", "max", "runs");
  std::vector<double> all;
  std::sort(order.begin(), order.end());
  for (const std::string& key : order) {
    const auto& v = perCell[key];
    all.insert(all.end(), v.begin(), v.end());
    std::printf("    %-26s %7.3fs %7.3fs %5zu\n", key.c_str(), median(v), maximum(v), v.size());
  }
  std::printf("  every sample and route: median %.3f s, max %.3f s\n", median(all), maximum(all));
  return 0;
}
