#include "app/ui/index_health_label.h"

#include <QCoreApplication>
#include <QPointer>
#include <QStringList>
#include <QThreadPool>
#include <QTimer>

#include "app/check/index_status.h"

namespace findlark::ui {

IndexHealthLabel::IndexHealthLabel(QWidget* parent)
    : StatusLine(QStringLiteral("Index health"), parent), timer_(new QTimer(this)) {
  setObjectName(QStringLiteral("indexHealth"));
  setTextInteractionFlags(Qt::TextSelectableByMouse);
  timer_->setInterval(kRefreshMs);
  connect(timer_, &QTimer::timeout, this, &IndexHealthLabel::refresh);
  timer_->start();
  refresh();
}

void IndexHealthLabel::refresh() {
  if (reading_) return;
  reading_ = true;
  QPointer<IndexHealthLabel> self(this);
  QThreadPool::globalInstance()->start([self] {
    const check::IndexStatus status = check::indexStatus();
    QMetaObject::invokeMethod(
        qApp,
        [self, status] {
          if (!self) return;
          self->reading_ = false;
          QStringList tip;
          if (!status.answers) tip.append(QStringLiteral("Searches run now may not find everything they should."));
          if (!status.failedImports.isEmpty())
            tip.append(QStringLiteral("Failed imports:\n") + status.failedImports);
          self->showHealth(status.text, tip.join(QStringLiteral("\n\n")));
        },
        Qt::QueuedConnection);
  });
}

void IndexHealthLabel::showHealth(const QString& line, const QString& tip) {
  // Names and descriptions are announced when they change: set them only
  // then, not at every refresh.
  setLine(line);
  if (tip != toolTip()) {
    setToolTip(tip);
    setAccessibleDescription(tip);
  }
}

}  // namespace findlark::ui
