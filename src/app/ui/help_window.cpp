#include "app/ui/help_window.h"

#include "app/engine/tool_runner.h"
#include "app/ui/icons.h"

#include <QLabel>
#include <QPdfDocument>
#include <QPdfView>
#include <QStackedLayout>

namespace findlark::ui {

HelpWindow::HelpWindow(const QString& pdfPath, QWidget* parent) : QWidget(parent, Qt::Window) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Help Window"));
  setAccessibleName(QStringLiteral("Help Window"));
  setWindowIcon(applicationIcon());
  resize(700, 800);

  const QString path = pdfPath.isEmpty() ? resourcePath(QStringLiteral("FindlarkHelp.pdf")) : pdfPath;
  document_ = new QPdfDocument(this);
  const QPdfDocument::Error error = document_->load(path);

  view_ = new QPdfView(this);
  view_->setAccessibleName(QStringLiteral("Findlark Help document"));
  view_->setPageMode(QPdfView::PageMode::SinglePage);
  view_->setZoomMode(QPdfView::ZoomMode::FitInView);  // rescales on every resize

  message_ = new QLabel(this);
  message_->setAlignment(Qt::AlignCenter);
  message_->setWordWrap(true);
  message_->setMargin(24);
  message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  message_->setAccessibleName(QStringLiteral("Help not available"));

  auto* stack = new QStackedLayout(this);
  stack->addWidget(view_);
  stack->addWidget(message_);
  if (error == QPdfDocument::Error::None && document_->pageCount() > 0) {
    view_->setDocument(document_);
    stack->setCurrentWidget(view_);
  } else {
    message_->setText(QStringLiteral("The help document could not be opened.\n\n"
                                     "Findlark looked for it at:\n%1\n\n"
                                     "The file is missing or is not a readable PDF document.")
                          .arg(path));
    stack->setCurrentWidget(message_);
  }
}

bool HelpWindow::documentShown() const { return view_->document() != nullptr; }

QString HelpWindow::message() const { return documentShown() ? QString() : message_->text(); }

}  // namespace findlark::ui
