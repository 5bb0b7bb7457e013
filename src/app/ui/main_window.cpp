#include "app/ui/main_window.h"

#include "app/engine/text.h"
#include "app/ui/icons.h"
#include "app/ui/index_health_label.h"
#include "app/ui/result_actions.h"
#include "app/ui/toolbar_layout.h"
#include "mdindex/core/paths.h"

#include <QAbstractButton>
#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QAbstractItemView>
#include <QComboBox>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include <filesystem>
#include <system_error>

namespace findlark::ui {

namespace {
constexpr int kResultHeight = 250;

// A stored flag reads as the platform's defaults read one: true for a true
// boolean, a non-zero number, or the word "yes" or "true" in any case; false
// for anything else, so a hand-written "no" or "false" turns the option off.
bool storedFlag(const QVariant& value) {
  if (value.typeId() == QMetaType::Bool) return value.toBool();
  const QString text = value.toString().trimmed();
  for (const char* word : {"yes", "true"}) {
    if (text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0) return true;
  }
  bool isNumber = false;
  const double number = text.toDouble(&isNumber);
  return isNumber && number != 0.0;
}

// A stored text. An unquoted comma in a hand-written settings file makes
// QSettings read a list of parts; the term is the whole text, so the parts
// are joined again (QSettings keeps no spacing, ", " is the usual one).
QString storedText(const QVariant& value) {
  if (value.typeId() == QMetaType::QStringList) return value.toStringList().join(QStringLiteral(", "));
  return value.toString();
}
}  // namespace

struct MainWindow::ToolbarItem {
  const char* id;
  const char* title;
  const char* symbol;
  const char* tooltip;
  const char* shortcut;                     // portable text, empty for none
  void (MainWindow::*run)();
};

// The six toolbar items in their default order: one table for the actions,
// the menus that list them and the Customize Toolbar dialog.
const MainWindow::ToolbarItem MainWindow::kToolbarItems[] = {
    {"createtests", "Create Tests", "folder.fill.badge.plus", "Create test folder in Home folder", "", &MainWindow::createTests},
    {"runtests", "Run NSMetadata test", "magnifyingglass.circle", "Run NSMetadata tests", "Ctrl+G", &MainWindow::runQueryTest},
    {"runmdfind", "Run mdfind test", "apple.terminal.fill", "Run mdfind tests", "",
     &MainWindow::runMdfindTest},
    {"runimps", "Check importers", "info.circle", "Check importers", "",
     &MainWindow::checkImporters},
    {"deletetests", "Remove Tests", "folder.badge.minus", "Delete test folder from Home folder", "", &MainWindow::removeTests},
    {"droptest", "Open Drop Window", "scope", "Open Drop Test Window", "",
     &MainWindow::openDropWindow},
};

MainWindow::MainWindow(WindowOpener& opener, QWidget* parent) : QMainWindow(parent), opener_(opener) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowIcon(applicationIcon());
  readSettings();
  auto* content = new QWidget(this);
  auto* column = new QVBoxLayout(content);
  column->setAlignment(Qt::AlignHCenter);
  // At least 900 x 300, and never less than the controls need: the layout's
  // own minimum wins over the spacer when it is larger (an explicit minimum
  // size on the widget would override it and let the controls overlap).
  column->addSpacerItem(new QSpacerItem(900, 0, QSizePolicy::Minimum, QSizePolicy::Fixed));
  setCentralWidget(content);
  buildControls();
  buildResultArea();
  buildToolbar();
  buildMenus();
  buildStatusBar();
  connectTester();
  showVolList();
  updateTitle();
  showResult();
}

MainWindow::~MainWindow() = default;

QStringList MainWindow::toolbarItemIds() {
  QStringList ids;
  for (const ToolbarItem& item : kToolbarItems) ids.append(QLatin1String(item.id));
  return ids;
}

QAction* MainWindow::toolbarAction(const QString& id) const {
  for (QAction* a : toolbarActions_) {
    if (a->objectName() == id) return a;
  }
  return nullptr;
}

void MainWindow::readSettings() {
  const QSettings settings(QStringLiteral("Findlark"), QStringLiteral("Findlark"));
  searchEXIF_ = storedFlag(settings.value(QStringLiteral("searchEXIF"), false));
  searchKeywords_ = storedFlag(settings.value(QStringLiteral("searchKeywords"), false));
  // A stored empty term stays empty; only an absent key gives the default.
  searchTerm_ = storedText(settings.value(QStringLiteral("searchTerm"), kDefaultSearchTerm));
}

void MainWindow::buildControls() {
  auto* row = new QWidget(centralWidget());
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(5, 5, 5, 5);

  auto* termLabel = new QLabel(QStringLiteral("🔍 Term:"), row);
  termField_ = new QLineEdit(searchTerm_, row);
  termField_->setFixedWidth(200);
  termField_->setAccessibleName(QStringLiteral("Search term"));
  termLabel->setBuddy(termField_);
  connect(termField_, &QLineEdit::textChanged, this, [this](const QString& text) { searchTerm_ = text; });

  auto* scopeLabel = new QLabel(QStringLiteral("Scope:"), row);
  scopePicker_ = new QComboBox(row);
  scopePicker_->setFixedWidth(300);
  scopePicker_->setAccessibleName(QStringLiteral("Scope"));
  scopePicker_->view()->setAccessibleName(QStringLiteral("Scope choices"));
  scopeLabel->setBuddy(scopePicker_);
  connect(scopePicker_, &QComboBox::activated, this,
          [this](int index) { setVolSelection(scopePicker_->itemText(index)); });

  auto* refreshHolder = new QWidget(row);
  auto* refreshMargin = new QHBoxLayout(refreshHolder);
  refreshMargin->setContentsMargins(20, 20, 20, 20);
  auto* refresh = new QPushButton(QStringLiteral("🔄"), refreshHolder);
  refresh->setObjectName(QStringLiteral("refreshVolumes"));
  refresh->setAccessibleName(QStringLiteral("Refresh volumes"));
  refresh->setToolTip(QStringLiteral("Refresh volumes"));
  QFont emojiFont = refresh->font();
  emojiFont.setPointSizeF(emojiFont.pointSizeF() * 1.3);
  refresh->setFont(emojiFont);
  refresh->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  refresh->setMinimumWidth(0);
  refresh->setFixedWidth(refresh->sizeHint().height() + 16);
  refreshMargin->addWidget(refresh);
  connect(refresh, &QPushButton::clicked, this, &MainWindow::refreshVolList);

  keywordsBox_ = new QCheckBox(QStringLiteral("Search Keywords"), row);
  keywordsBox_->setChecked(searchKeywords_);
  connect(keywordsBox_, &QCheckBox::toggled, this, [this](bool on) { searchKeywords_ = on; });
  exifBox_ = new QCheckBox(QStringLiteral("Search EXIF"), row);
  exifBox_->setChecked(searchEXIF_);
  connect(exifBox_, &QCheckBox::toggled, this, [this](bool on) { searchEXIF_ = on; });

  layout->addStretch();
  layout->addWidget(termLabel);
  layout->addWidget(termField_);
  layout->addWidget(scopeLabel);
  layout->addWidget(scopePicker_);
  layout->addWidget(refreshHolder);
  layout->addWidget(keywordsBox_);
  layout->addWidget(exifBox_);
  layout->addStretch();
  centralWidget()->layout()->addWidget(row);
}

void MainWindow::buildResultArea() {
  auto* notice = new QWidget;
  notice->setObjectName(QStringLiteral("emptyNotice"));
  notice->setFixedHeight(kResultHeight);
  notice->setAccessibleName(QStringLiteral("No entries found"));
  auto* noticeLayout = new QVBoxLayout(notice);
  noticeLayout->setAlignment(Qt::AlignCenter);
  auto* icon = new SymbolLabel(QStringLiteral("magnifyingglass"), 48, notice);
  icon->setAlignment(Qt::AlignCenter);
  auto* title = new QLabel(QStringLiteral("No entries found"), notice);
  QFont titleFont = title->font();
  titleFont.setBold(true);
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
  title->setFont(titleFont);
  title->setAlignment(Qt::AlignCenter);
  auto* description = new QLabel(QStringLiteral("No search results found."), notice);
  description->setAlignment(Qt::AlignCenter);
  description->setForegroundRole(QPalette::PlaceholderText);
  noticeLayout->addWidget(icon);
  noticeLayout->addWidget(title);
  noticeLayout->addWidget(description);

  resultText_ = new QPlainTextEdit;
  resultText_->setObjectName(QStringLiteral("resultText"));
  resultText_->setReadOnly(true);
  resultText_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  resultText_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  resultText_->setMinimumHeight(kResultHeight);
  resultText_->setAccessibleName(QStringLiteral("Test results"));
  installResultActions(resultText_);
  // Reports indent each path with one tab: a tab four spaces wide keeps the
  // paths near the heading instead of Qt's default 80 pixels out.
  resultText_->setTabStopDistance(4 * resultText_->fontMetrics().horizontalAdvance(QLatin1Char(' ')));

  resultStack_ = new QStackedWidget;
  resultStack_->addWidget(notice);
  resultStack_->addWidget(resultText_);
  centralWidget()->layout()->addWidget(resultStack_);
}

void MainWindow::buildToolbar() {
  toolbar_ = new QToolBar(QStringLiteral("Toolbar"), this);
  toolbar_->setObjectName(QStringLiteral("ContentView.toolbar"));
  toolbar_->setAccessibleName(QStringLiteral("Toolbar"));
  toolbar_->setIconSize(QSize(24, 24));
  addToolBar(Qt::TopToolBarArea, toolbar_);
  // The overflow button Qt adds when the window is too narrow for every item.
  if (auto* more = toolbar_->findChild<QAbstractButton*>(QStringLiteral("qt_toolbar_ext_button"))) {
    more->setAccessibleName(QStringLiteral("More toolbar items"));
    more->setToolTip(QStringLiteral("More toolbar items"));
  }
  for (const ToolbarItem& item : kToolbarItems) {
    auto* action = new QAction(symbolIcon(QLatin1String(item.symbol)), QLatin1String(item.title), this);
    action->setObjectName(QLatin1String(item.id));
    action->setToolTip(QLatin1String(item.tooltip));
    action->setStatusTip(QLatin1String(item.tooltip));
    if (*item.shortcut != '\0') {
      action->setShortcut(QKeySequence(QLatin1String(item.shortcut)));
      action->setShortcutContext(Qt::WindowShortcut);
    }
    connect(action, &QAction::triggered, this, item.run);
    // Owned by the window too, so shortcuts work while the item is hidden.
    addAction(action);
    toolbarActions_.append(action);
  }
  applyToolbarLayout(ToolbarLayout::load(toolbarItemIds()));
  connect(&ToolbarLayoutNotifier::instance(), &ToolbarLayoutNotifier::changed, this,
          [this] { applyToolbarLayout(ToolbarLayout::load(toolbarItemIds())); });
}

void MainWindow::applyToolbarLayout(const ToolbarLayout& layout) {
  toolbar_->clear();
  for (const QString& id : layout.items) {
    if (QAction* a = toolbarAction(id)) toolbar_->addAction(a);
  }
  switch (layout.style) {
    case ToolbarStyle::IconAndText: toolbar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon); break;
    case ToolbarStyle::IconOnly: toolbar_->setToolButtonStyle(Qt::ToolButtonIconOnly); break;
    case ToolbarStyle::TextOnly: toolbar_->setToolButtonStyle(Qt::ToolButtonTextOnly); break;
  }
}

void MainWindow::customizeToolbar() {
  CustomizeToolbarDialog dialog(toolbarActions_, ToolbarLayout::load(toolbarItemIds()), this);
  if (dialog.exec() == QDialog::Accepted) dialog.layout().save();
}

QMenu* MainWindow::createPopupMenu() {
  auto* menu = new QMenu(this);
  menu->addAction(QStringLiteral("Customize Toolbar…"), this, &MainWindow::customizeToolbar);
  menu->addSeparator();
  auto* group = new QActionGroup(menu);
  const ToolbarLayout current = ToolbarLayout::load(toolbarItemIds());
  const std::pair<ToolbarStyle, QString> styles[] = {{ToolbarStyle::IconAndText, QStringLiteral("Icon and Text")},
                                                     {ToolbarStyle::IconOnly, QStringLiteral("Icon Only")},
                                                     {ToolbarStyle::TextOnly, QStringLiteral("Text Only")}};
  for (const auto& [style, title] : styles) {
    QAction* a = menu->addAction(title);
    a->setCheckable(true);
    a->setChecked(current.style == style);
    group->addAction(a);
    connect(a, &QAction::triggered, this, [style] {
      ToolbarLayout layout = ToolbarLayout::load(toolbarItemIds());
      layout.style = style;
      layout.save();
    });
  }
  return menu;
}

void MainWindow::buildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  QAction* newWindow = file->addAction(QStringLiteral("New Window"), this, [this] { opener_.openMainWindow(); });
  newWindow->setShortcut(QKeySequence::New);
  QAction* close = file->addAction(QStringLiteral("Close Window"), this, &QWidget::close);
  close->setShortcut(QKeySequence::Close);

  QMenu* tests = menuBar()->addMenu(QStringLiteral("&Tests"));
  tests->addActions(toolbarActions_);
  tests->addSeparator();
  QAction* checkIndex = tests->addAction(QStringLiteral("Check Index…"), this, [this] { opener_.openIndexCheckWindow(); });
  checkIndex->setObjectName(QStringLiteral("checkIndex"));
  QAction* whyNotFound =
      tests->addAction(QStringLiteral("Why Not Found…"), this, [this] { opener_.openWhyNotFoundWindow(); });
  whyNotFound->setObjectName(QStringLiteral("whyNotFound"));

  QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
  view->addAction(QStringLiteral("Customize Toolbar…"), this, &MainWindow::customizeToolbar);

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  QAction* findlarkHelp = help->addAction(QStringLiteral("Findlark Help"), this, [this] { opener_.openHelpWindow(); });
  findlarkHelp->setObjectName(QStringLiteral("findlarkHelp"));
  findlarkHelp->setShortcut(QKeySequence::HelpContents);
}

void MainWindow::buildStatusBar() {
  busy_ = new QProgressBar(this);
  busy_->setRange(0, 0);  // indeterminate
  busy_->setMaximumWidth(160);
  busy_->setAccessibleName(QStringLiteral("Metadata query in progress"));
  busy_->setVisible(false);
  statusBar()->addPermanentWidget(new IndexHealthLabel(this));
  statusBar()->addPermanentWidget(busy_);
}

void MainWindow::connectTester() {
  connect(&tester_, &Tester::testResultStringChanged, this, &MainWindow::showResult);
  connect(&tester_, &Tester::isSearchingChanged, this, [this] {
    busy_->setVisible(tester_.isSearching());
    if (tester_.isSearching()) statusBar()->showMessage(QStringLiteral("Searching…"));
    else statusBar()->clearMessage();
  });
}

void MainWindow::showResult() {
  const QString text = tester_.testResultString();
  if (text.isEmpty()) {
    resultText_->clear();
    resultStack_->setCurrentIndex(0);
    return;
  }
  resultText_->setPlainText(text);
  resultStack_->setCurrentIndex(1);
}

void MainWindow::setVolSelection(const QString& scope) {
  volSelection_ = scope;
  scopePicker_->setCurrentIndex(volList_.indexOf(scope));
  updateTitle();
}

void MainWindow::updateTitle() {
  // The title shows the scope verbatim. Qt reads "[*]" in a title as the
  // unsaved-changes marker and drops it; "[*][*]" shows one "[*]".
  QString scope = volSelection_;
  scope.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
  setWindowTitle(QStringLiteral("Spotlight Test of ") + scope);
}

void MainWindow::showVolList() {
  scopePicker_->clear();
  scopePicker_->addItems(volList_);
  scopePicker_->setCurrentIndex(volList_.indexOf(volSelection_));
}

void MainWindow::refreshVolList() {
  volList_ = QStringList{kHomeScope};
  const std::string root = mdindex::volumesRoot();
  std::error_code ec;
  std::filesystem::directory_iterator it(root, ec);
  if (root.empty() || ec) {
    showVolList();
    return;
  }
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const QString name = QFile::decodeName(it->path().filename().c_str());
    if (name.startsWith(QLatin1Char('.')) || name.contains(QLatin1String("com.apple.TimeMachine"))) continue;
    volList_.append(name);
  }
  sortPlain(volList_);
  volSelection_ = volList_.first();
  showVolList();
  updateTitle();
}

void MainWindow::createTests() { tester_.createTestFiles(); }
void MainWindow::runQueryTest() { tester_.runQuerySearch(volSelection_, searchTerm_, searchKeywords_, searchEXIF_); }
void MainWindow::runMdfindTest() { tester_.runMdfindSearch(volSelection_, searchTerm_); }
void MainWindow::checkImporters() { tester_.startImporterCheck(); }
void MainWindow::removeTests() { tester_.removeTestFiles(); }
void MainWindow::openDropWindow() { opener_.openDropWindow(); }

}  // namespace findlark::ui
