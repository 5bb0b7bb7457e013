// findlark-probegen FOLDER [NAME...]: writes the probes (or the named ones)
// into FOLDER, creating it. Exit 0 when all were written; otherwise each
// failure is named on stderr and the exit status is 1 (2 for a usage error).
#include "probe_set.h"
#include "reproducible.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
  samplegen::prepareReproducibleEnvironment();
  QGuiApplication app(argc, argv);
  const QStringList args = QGuiApplication::arguments().mid(1);
  if (args.isEmpty()) {
    std::fputs("usage: findlark-probegen FOLDER [NAME...]\n", stderr);
    return 2;
  }
  const QString folder = args.first();
  if (!QDir().mkpath(folder)) {
    std::fprintf(stderr, "findlark-probegen: cannot create %s\n", qPrintable(folder));
    return 1;
  }
  int failures = 0;
  for (const QString& name : args.size() > 1 ? args.mid(1) : probegen::probeNames()) {
    if (!probegen::writeProbe(name, folder)) {
      std::fprintf(stderr, "findlark-probegen: could not write %s\n", qPrintable(name));
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
