#include "gui/tray_icon.h"

#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <string>

#include "base/text.h"
#include "gui/gbk.h"
#include "gui/notice_popup.h"

namespace torvane {

namespace {

std::optional<bool>& TrayOverride() {
  static std::optional<bool> available;
  return available;
}

// At most maxBytes of the text's GBK form, never half a character.
QString CutGbk(const QString& text, std::size_t maxBytes) {
  const std::string gbk = ToGbk(text);
  if (gbk.size() <= maxBytes) return text;
  std::size_t end = 0;
  while (end < gbk.size() && end + CharLengthAt(gbk, end) <= maxBytes) end += CharLengthAt(gbk, end);
  return FromGbk(std::string_view(gbk).substr(0, end));
}

}  // namespace

bool TrayIcon::SystemTrayAvailable() {
  return TrayOverride() ? *TrayOverride() : QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::SetSystemTrayAvailable(std::optional<bool> available) { TrayOverride() = available; }

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
  const QString shortTitle = CutGbk(title, 63);
  const QString shortText = CutGbk(text, 255);
  if (SystemTrayAvailable()) {
    icon_->showMessage(shortTitle, shortText, kIcons[iconKind], timeoutMs);
  } else {
    NoticePopup::ShowNoticePopup(shortTitle + QStringLiteral("\r\n") + shortText);
  }
  emit balloonShown(shortTitle, shortText, iconKind, timeoutMs);
}

}  // namespace torvane
