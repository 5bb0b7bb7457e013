#include "generator.h"

#include "reproducible.h"
#include "sample_set.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

namespace samplegen {

int runGenerator(int argc, char* argv[]) {
  prepareReproducibleEnvironment();
  QGuiApplication app(argc, argv);
  const QStringList args = QGuiApplication::arguments().mid(1);
  if (args.isEmpty()) {
    std::fputs("usage: findlark-samplegen FOLDER [NAME...]\n", stderr);
    return 2;
  }
  const QString folder = args.first();
  if (!QDir().mkpath(folder)) {
    std::fprintf(stderr, "findlark-samplegen: cannot create %s\n", qPrintable(folder));
    return 1;
  }
  const QStringList names = args.size() > 1 ? args.mid(1) : sampleNames();
  int failures = 0;
  for (const QString& name : names) {
    if (!writeSample(name, folder)) {
      std::fprintf(stderr, "findlark-samplegen: could not write %s\n", qPrintable(name));
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace samplegen
