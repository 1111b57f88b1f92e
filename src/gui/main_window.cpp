#include "gui/main_window.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "gui/activity_pane.h"
#include "gui/gui_context.h"
#include "gui/inventory_pane.h"
#include "gui/sales_pane.h"
#include "gui/sent_records_pane.h"
#include "gui/settings_pane.h"
#include "gui/tray_icon.h"
#include "gui/tutorial_pane.h"

namespace torvane {

MainWindow::MainWindow(GuiContext& context, QWidget* parent) : QWidget(parent), context_(context) {
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(QStringLiteral(u"淘宝自动发货程序-Torvane"));
  setWindowIcon(QIcon(QStringLiteral(":/torvane/logo.svg")));
  resize(730, 600);

  auto* header = new QWidget(this);
  header->setObjectName(QStringLiteral("frameHeader"));
  header->setAttribute(Qt::WA_StyledBackground);
  header->setStyleSheet(QStringLiteral("#frameHeader { background: qlineargradient(x1:0, y1:0, x2:1, y2:0, "
                                       "stop:0 #0f5e7a, stop:1 #2a9bb8); }"));
  auto* logo = new QLabel(header);
  logo->setObjectName(QStringLiteral("frameLogo"));
  logo->setPixmap(QIcon(QStringLiteral(":/torvane/logo.svg")).pixmap(64, 64));
  logo->setFixedSize(64, 64);
  auto* title = new QLabel(QStringLiteral(u"淘宝自动发货-Torvane"), header);
  title->setObjectName(QStringLiteral("frameTitle"));
  title->setStyleSheet(QStringLiteral("color: white; font-size: 20px; font-weight: bold;"));
  auto* headerLayout = new QHBoxLayout(header);
  headerLayout->setContentsMargins(12, 8, 12, 8);
  headerLayout->addWidget(logo);
  headerLayout->addSpacing(8);
  headerLayout->addWidget(title);
  headerLayout->addStretch();

  auto* side = new QWidget(this);
  side->setObjectName(QStringLiteral("frameNavigation"));
  side->setAttribute(Qt::WA_StyledBackground);
  side->setStyleSheet(QStringLiteral(
      "#frameNavigation { background: #e8f1f4; }"
      "#frameNavigation QToolButton { border: none; border-radius: 6px; padding: 4px; color: #1f3b46; }"
      "#frameNavigation QToolButton:hover { background: #d3e6ec; }"
      "#frameNavigation QToolButton:checked { background: #ffffff; color: #0f5e7a; font-weight: bold; }"));
  navigation_ = new QVBoxLayout(side);
  navigation_->setContentsMargins(6, 10, 6, 10);
  navigation_->setSpacing(6);
  navigation_->addStretch();
  entries_ = new QButtonGroup(this);
  entries_->setExclusive(true);

  stack_ = new QStackedWidget(this);
  stack_->setObjectName(QStringLiteral("framePanes"));

  auto* body = new QHBoxLayout;
  body->setContentsMargins(0, 0, 0, 0);
  body->setSpacing(0);
  body->addWidget(side);
  body->addWidget(stack_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(header);
  layout->addLayout(body, 1);

  connect(entries_, &QButtonGroup::idClicked, this, &MainWindow::ShowPane);
  connect(&context_, &GuiContext::storeViewsRefresh, this, &MainWindow::RefreshStoreViews);
}

void MainWindow::CreatePanes() {
  activity_ = new ActivityPane(context_, stack_);
  settings_ = new SettingsPane(context_, stack_);
  inventory_ = new InventoryPane(context_, stack_);
  sentRecords_ = new SentRecordsPane(context_, stack_);
  tutorial_ = new TutorialPane(context_, stack_);
  sales_ = new SalesPane(context_, stack_);
  AddNavigationEntry(QStringLiteral(u"程序配置"), QStringLiteral(":/torvane/nav_settings.svg"), settings_);
  AddNavigationEntry(QStringLiteral(u"实时动态"), QStringLiteral(":/torvane/nav_activity.svg"), activity_);
  AddNavigationEntry(QStringLiteral(u"卡密库存"), QStringLiteral(":/torvane/nav_inventory.svg"), inventory_);
  AddNavigationEntry(QStringLiteral(u"已发卡密"), QStringLiteral(":/torvane/nav_sent.svg"), sentRecords_);
  AddNavigationEntry(QStringLiteral(u"使用教程"), QStringLiteral(":/torvane/nav_tutorial.svg"), tutorial_);
  AddNavigationEntry(QStringLiteral(u"销售统计"), QStringLiteral(":/torvane/nav_sales.svg"), sales_);
  ShowPane(0);
}

void MainWindow::AddNavigationEntry(const QString& caption, const QString& iconPath, QWidget* pane) {
  const int entry = stack_->addWidget(pane);
  auto* button = new QToolButton(this);
  button->setObjectName(QStringLiteral("导航_") + caption);
  button->setText(caption);
  button->setIcon(QIcon(iconPath));
  button->setIconSize(QSize(76, 51));
  button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  button->setCheckable(true);
  button->setMinimumWidth(92);
  entries_->addButton(button, entry);
  navigation_->insertWidget(navigation_->count() - 1, button);
}

void MainWindow::ShowPane(int entry) {
  if (entry < 0 || entry >= stack_->count()) return;
  stack_->setCurrentIndex(entry);
  if (QAbstractButton* button = entries_->button(entry)) button->setChecked(true);
}

int MainWindow::CurrentEntry() const { return stack_->currentIndex(); }

QToolButton* MainWindow::NavigationButton(int entry) const {
  return qobject_cast<QToolButton*>(entries_->button(entry));
}

void MainWindow::ShowNormalWindow() {
  show();
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  showNormal();
  raise();
  activateWindow();
}

void MainWindow::RefreshStoreViews() {
  // A long store write holds the stores: the lists are refilled when it ends.
  if (context_.StoreWorkRunning()) {
    context_.DeferRefresh();
    return;
  }
  if (sentRecords_) sentRecords_->RefreshStoreView();
  if (inventory_) inventory_->RefreshStoreView();
}

void MainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // Minimised, the window lives on in the tray only; without a tray it stays a minimised window, the
  // only way back to it.
  if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized) &&
      TrayIcon::SystemTrayAvailable()) {
    QMetaObject::invokeMethod(this, &QWidget::hide, Qt::QueuedConnection);
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  event->ignore();
  emit closeRequested();
}

}  // namespace torvane
