// A scratch world for engine tests: a temporary home, resource folder, tool
// folder, index folder, volumes root and runtime folder on a real disk (user extended
// attributes need one), all reached through the environment.
#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/engine/tester.h"

class EngineWorld {
 public:
  EngineWorld() : root_(QStringLiteral("/var/tmp/findlark-engine-XXXXXX")) {
    for (const char* sub : {"home", "share", "bin", "index", "volumes", "run"}) QDir(root_.path()).mkdir(sub);
    qputenv("HOME", QFile::encodeName(path("home")));
    qputenv("FINDLARK_SHARE_DIR", QFile::encodeName(path("share")));
    qputenv("FINDLARK_TOOL_DIR", QFile::encodeName(path("bin")));
    qputenv("FINDLARK_INDEX_DIR", QFile::encodeName(path("index")));
    qputenv("FINDLARK_VOLUMES_ROOT", QFile::encodeName(path("volumes")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path("run")));
    qputenv("FINDLARK_NO_SERVICE_START", "1");
  }

  bool isValid() const { return root_.isValid(); }
  QString path(const QString& sub) const { return root_.filePath(sub); }
  QString home() const { return path(QStringLiteral("home")); }
  QString testFolder() const { return home() + QStringLiteral("/0_FindlarkFiles"); }

  // Puts one small distinct file per sample name into the resource folder.
  void fillResources() const {
    for (const QString& name : findlark::Tester::theFiles()) write(path("share/" + name), "sample " + name.toUtf8());
  }

  // Writes an executable shell script into the tool folder.
  void tool(const QString& name, const QByteArray& body) const {
    const QString file = path("bin/" + name);
    write(file, "#!/bin/sh\n" + body + "\n");
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }

  static bool write(const QString& file, const QByteArray& bytes) {
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(bytes) == bytes.size();
  }
  static QByteArray read(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

 private:
  QTemporaryDir root_;
};
