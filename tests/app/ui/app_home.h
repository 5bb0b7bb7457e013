// A scratch home for the app's window tests: HOME, the index, the volumes
// root, the runtime and configuration folders in a temporary folder on a
// real disk (extended attributes work there), our tools found in the
// build, the app's own start of the service switched off, and an mdindexd
// the test starts and stops itself, by its process.
#pragma once

#include <signal.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <utility>

#include "app/check/index_status.h"

class AppHome {
 public:
  // Makes the folders and points the environment at them; `pattern` names
  // the temporary folder ("/var/tmp/findlark-checkui-XXXXXX").
  void setUp(const QString& pattern) {
    root_ = std::make_unique<QTemporaryDir>(pattern);
    QVERIFY(root_->isValid());
    const std::pair<const char*, const char*> folders[] = {{"HOME", "home"},
                                                           {"FINDLARK_INDEX_DIR", "index"},
                                                           {"FINDLARK_VOLUMES_ROOT", "volumes"},
                                                           {"XDG_RUNTIME_DIR", "run"},
                                                           {"XDG_CONFIG_HOME", "config"}};
    for (const auto& [variable, sub] : folders) {
      QDir(root_->path()).mkdir(sub);
      qputenv(variable, QFile::encodeName(root_->filePath(sub)));
    }
    qputenv("FINDLARK_TOOL_DIR", FINDLARK_BIN_DIR);
    qputenv("FINDLARK_SHARE_DIR", FINDLARK_SHARE_DIR);
    qputenv("FINDLARK_NO_SERVICE_START", "1");
  }
  void tearDown() { root_.reset(); }

  QString path(const QString& sub) const { return root_->filePath(sub); }
  QString home() const { return path("home"); }

  // Starts the service, with `fault` for its import helper when given, and
  // waits until it answers.
  void startService(const QByteArray& fault = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!fault.isEmpty()) env.insert("FINDLARK_IMPORT_CHILD_FAULT", QString::fromUtf8(fault));
    service_.setProcessEnvironment(env);
    service_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service_.start(FINDLARK_BIN_DIR "/mdindexd", {"--foreground"});
    QVERIFY(service_.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(findlark::check::indexStatus().answers, 30000);
  }
  qint64 servicePid() const { return service_.processId(); }
  void stopService() {
    if (service_.state() == QProcess::NotRunning) return;
    ::kill(pid_t(service_.processId()), SIGTERM);
    QVERIFY(service_.waitForFinished(30000));
  }

 private:
  std::unique_ptr<QTemporaryDir> root_;
  QProcess service_;
};
