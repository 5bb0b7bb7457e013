#include "app/ui/index_health_label.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>

#include "app/check/index_status.h"

namespace findlark::ui {

IndexHealthLabel::IndexHealthLabel(QWidget* parent) : QLabel(parent), timer_(new QTimer(this)) {
  setObjectName(QStringLiteral("indexHealth"));
  setAccessibleName(QStringLiteral("Index health"));
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
          self->setText(status.text);
          self->setToolTip(status.answers ? QString()
                                          : QStringLiteral("Searches run now may not find everything they should."));
        },
        Qt::QueuedConnection);
  });
}

}  // namespace findlark::ui
