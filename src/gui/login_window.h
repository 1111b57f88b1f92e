// The login window "登陆淘宝": the marketplace's login page in an embedded browser. Every cookie the
// browser receives goes into the program's shared cookie store as it arrives, and all of them again
// when the seller presses 按钮_登陆完毕; then the cookie file is saved.
#pragma once

#include <QMap>
#include <QNetworkCookie>
#include <QWidget>
#include <filesystem>

class QPushButton;
class QWebEngineProfile;
class QWebEngineView;

namespace torvane {

class LoginWindow : public QWidget {
  Q_OBJECT

 public:
  // Opens at startAddress; dataDir is where the cookie file is saved. The window deletes itself when closed.
  LoginWindow(const QString& startAddress, std::filesystem::path dataDir, QWidget* parent = nullptr);
  ~LoginWindow() override;

  QWebEngineView* Browser() const { return browser_; }

  // 按钮_登陆完毕: every cookie of the browser into the shared store, the cookie file saved, the window closed.
  void FinishLogin();

 signals:
  // The cookie file could not be saved (GBK reason as a QString); the window shows it too.
  void cookiesNotSaved(const QString& reason);

 private:
  void TakeCookie(const QNetworkCookie& cookie);

  std::filesystem::path dataDir_;
  QWebEngineProfile* profile_ = nullptr;
  QWebEngineView* browser_ = nullptr;
  QPushButton* done_ = nullptr;
  QMap<QByteArray, QNetworkCookie> cookies_;  // by domain, path and name
};

}  // namespace torvane
