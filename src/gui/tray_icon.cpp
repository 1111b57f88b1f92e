#include "gui/tray_icon.h"

#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

namespace torvane {

TrayIcon::TrayIcon(QObject* parent) : QObject(parent) {
  icon_ = new QSystemTrayIcon(QIcon(QStringLiteral(":/torvane/logo.svg")), this);
  icon_->setObjectName(QStringLiteral(u"托盘图标_托盘"));
  icon_->setToolTip(QStringLiteral(u"淘宝自动发货程序-Torvane"));
  menu_ = new QMenu;
  menu_->setObjectName(QStringLiteral(u"托盘菜单"));
  connect(menu_->addAction(QStringLiteral(u"关于Torvane")), &QAction::triggered, this, &TrayIcon::aboutRequested);
  menu_->addSeparator();
  connect(menu_->addAction(QStringLiteral(u"隐藏主界面")), &QAction::triggered, this, &TrayIcon::hideRequested);
  connect(menu_->addAction(QStringLiteral(u"显示主界面")), &QAction::triggered, this, &TrayIcon::showRequested);
  menu_->addSeparator();
  connect(menu_->addAction(QStringLiteral(u"打开官网")), &QAction::triggered, this, &TrayIcon::websiteRequested);
  connect(menu_->addAction(QStringLiteral(u"退出")), &QAction::triggered, this, &TrayIcon::exitRequested);
  icon_->setContextMenu(menu_);
  // A click (or double click) shows the window; the menu comes with the context-menu request.
  connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) emit showRequested();
  });
}

TrayIcon::~TrayIcon() { delete menu_; }

void TrayIcon::Show() {
  shown_ = true;
  icon_->show();
}

void TrayIcon::ShowBalloon(const QString& title, const QString& text, int iconKind, int timeoutMs) {
  if (!shown_) return;
  static const QSystemTrayIcon::MessageIcon kIcons[] = {QSystemTrayIcon::NoIcon, QSystemTrayIcon::Information,
                                                        QSystemTrayIcon::Warning, QSystemTrayIcon::Critical};
  if (iconKind < 0 || iconKind > 3) iconKind = 1;
  icon_->showMessage(title, text, kIcons[iconKind], timeoutMs);
  emit balloonShown(title, text, iconKind, timeoutMs);
}

}  // namespace torvane
