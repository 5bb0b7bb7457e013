#include "help_builder.h"

#include "reproducible.h"

#include <QFile>
#include <QGuiApplication>
#include <QPageSize>

#include <cstdio>

namespace helpbuild {

int runHelpBuilder(int argc, char* argv[]) {
  samplegen::prepareReproducibleEnvironment();
  QGuiApplication app(argc, argv);
  const QStringList args = QGuiApplication::arguments();
  if (args.size() != 3) {
    std::fputs("usage: findlark-helpbuild SOURCE.html OUTPUT.pdf\n", stderr);
    return 2;
  }
  QFile source(args.at(1));
  if (!source.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "findlark-helpbuild: cannot read %s\n", qPrintable(args.at(1)));
    return 1;
  }
  const QString html = QString::fromUtf8(source.readAll());
  const auto pdf = samplegen::renderHtmlPdf(
      html, {QStringLiteral("Findlark Help"), QStringLiteral("Findlark"), QPageSize::A4, 10.5});
  if (!pdf || !samplegen::writeFile(args.at(2), *pdf)) {
    std::fprintf(stderr, "findlark-helpbuild: cannot write %s\n", qPrintable(args.at(2)));
    QFile::remove(args.at(2));
    return 1;
  }
  return 0;
}

}  // namespace helpbuild
