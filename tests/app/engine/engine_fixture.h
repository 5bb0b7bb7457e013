// A scratch world for engine tests on a real disk (user extended attributes
// need one): home, resources, tools, index, volumes root and runtime folder,
// all reached through the environment.
#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/engine/tester.h"

class EngineWorld {
 public:
  EngineWorld() : root_(QStringLiteral("/var/tmp/findlark-engine-XXXXXX")) {
    const std::pair<const char*, const char*> folders[] = {
        {"HOME", "home"},           {"FINDLARK_SHARE_DIR", "share"},      {"FINDLARK_TOOL_DIR", "bin"},
        {"FINDLARK_INDEX_DIR", "index"}, {"FINDLARK_VOLUMES_ROOT", "volumes"}, {"XDG_RUNTIME_DIR", "run"},
        {"XDG_CONFIG_HOME", "config"}};
    for (const auto& [variable, sub] : folders) {
      QDir(root_.path()).mkdir(sub);
      qputenv(variable, QFile::encodeName(path(sub)));
    }
    qputenv("FINDLARK_NO_SERVICE_START", "1");
    for (const QString& name : findlark::Tester::theFiles()) write(path("share/" + name), "sample " + name.toUtf8());
  }

  QString path(const QString& sub) const { return root_.filePath(sub); }
  QString home() const { return path(QStringLiteral("home")); }
  QString folder() const { return home() + QStringLiteral("/0_FindlarkFiles"); }

  // Writes an executable shell script into the tool folder.
  void tool(const QString& name, const QByteArray& body) const {
    write(path("bin/" + name), "#!/bin/sh\n" + body + "\n");
    QFile::setPermissions(path("bin/" + name), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  static bool write(const QString& file, const QByteArray& bytes) {
    QFile f(file);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
  }
  static QByteArray read(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

 private:
  QTemporaryDir root_;
};
