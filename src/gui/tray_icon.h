// The notification-area icon 托盘图标_托盘 with its menu 托盘菜单 and its balloons.
#pragma once

#include <QObject>
#include <QString>
#include <optional>

class QMenu;
class QSystemTrayIcon;

namespace torvane {

class TrayIcon : public QObject {
  Q_OBJECT

 public:
  explicit TrayIcon(QObject* parent = nullptr);
  ~TrayIcon() override;

  // Shown once the seller has passed the release notes; it doubles as the marker of that.
  void Show();
  bool Shown() const { return shown_; }

  // Balloon on the icon; icon kind 0..3 (none, information, warning, error), anything else 1. The title
  // is cut to 63 GBK bytes, the text to 255, at a whole character. Nothing appears while the icon is not
  // shown. Where the desktop has no tray the pop-up notice shows title and text instead.
  void ShowBalloon(const QString& title, const QString& text, int iconKind, int timeoutMs);

  // Whether the desktop has a notification area (without one the window minimises instead of hiding).
  static bool SystemTrayAvailable();
  // Replaces the desktop's answer (tests); nullopt: ask the desktop again.
  static void SetSystemTrayAvailable(std::optional<bool> available);

  QMenu* Menu() const { return menu_; }
  QSystemTrayIcon* Icon() const { return icon_; }

 signals:
  void aboutRequested();       // "关于Torvane"
  void hideRequested();        // "隐藏主界面"
  void showRequested();        // "显示主界面" and a click on the icon
  void websiteRequested();     // "打开官网"
  void exitRequested();        // "退出"
  // Every balloon that was shown (tests, screenshots).
  void balloonShown(const QString& title, const QString& text, int iconKind, int timeoutMs);

 private:
  QSystemTrayIcon* icon_ = nullptr;
  QMenu* menu_ = nullptr;
  bool shown_ = false;
};

}  // namespace torvane
