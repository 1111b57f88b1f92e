#include "gui/login_window.h"

#include <QDateTime>
#include <QPushButton>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include "gui/gbk.h"
#include "gui/message_box.h"
#include "web/cookie_store.h"

namespace torvane {

namespace {

QByteArray CookieKey(const QNetworkCookie& c) { return c.domain().toUtf8() + '\t' + c.path().toUtf8() + '\t' + c.name(); }

std::string Latin(const QByteArray& bytes) { return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())); }

// The shared store's cookies handed to the browser, so a login saved earlier is still in force there.
void SeedBrowser(QWebEngineCookieStore* store) {
  for (const StoredCookie& c : AllCookies()) {
    QNetworkCookie cookie(QByteArray::fromStdString(c.name), QByteArray::fromStdString(c.value));
    cookie.setDomain(QString::fromStdString(c.hostOnly ? c.domain : "." + c.domain));
    cookie.setPath(QString::fromStdString(c.path));
    cookie.setSecure(c.secure);
    cookie.setHttpOnly(c.httpOnly);
    if (c.expiry != 0) cookie.setExpirationDate(QDateTime::fromSecsSinceEpoch(c.expiry));
    const QString scheme = c.secure ? QStringLiteral("https://") : QStringLiteral("http://");
    store->setCookie(cookie, QUrl(scheme + QString::fromStdString(c.domain) + QString::fromStdString(c.path)));
  }
}

}  // namespace

LoginWindow::LoginWindow(const QString& startAddress, std::filesystem::path dataDir, QWidget* parent)
    : QWidget(parent, Qt::Window), dataDir_(std::move(dataDir)) {
  setObjectName(QStringLiteral("LoginWindow"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral(u"登陆淘宝"));
  setFixedSize(484, 404);

  // A profile of its own kept in memory only: the program's cookie file is the one place a login is kept.
  profile_ = new QWebEngineProfile(this);
  QWebEngineCookieStore* store = profile_->cookieStore();
  connect(store, &QWebEngineCookieStore::cookieAdded, this, &LoginWindow::TakeCookie);
  connect(store, &QWebEngineCookieStore::cookieRemoved, this, [this](const QNetworkCookie& cookie) {
    cookies_.remove(CookieKey(cookie));
    // An expiry in the past removes it from the shared store as well.
    ImportCookie(cookie.domain().toStdString(), Latin(cookie.name()), "", cookie.path().toStdString(),
                 cookie.isSecure(), 1);
  });
  SeedBrowser(store);

  browser_ = new QWebEngineView(this);
  browser_->setObjectName(QStringLiteral(u"超文本浏览框_登陆"));
  browser_->setPage(new QWebEnginePage(profile_, browser_));
  browser_->setGeometry(7, 3, 464, 312);

  done_ = new QPushButton(QStringLiteral(u"淘宝登陆完毕后请点我"), this);
  done_->setObjectName(QStringLiteral(u"按钮_登陆完毕"));
  done_->setGeometry(159, 328, 160, 32);
  connect(done_, &QPushButton::clicked, this, &LoginWindow::FinishLogin);

  browser_->setUrl(QUrl(startAddress));
}

LoginWindow::~LoginWindow() {
  // The browser may still report cookies while it shuts down; by then this window is half gone.
  if (profile_ != nullptr) disconnect(profile_->cookieStore(), nullptr, this, nullptr);
  // The page must go before its profile.
  delete browser_;
  browser_ = nullptr;
  delete profile_;
  profile_ = nullptr;
}

void LoginWindow::TakeCookie(const QNetworkCookie& cookie) {
  cookies_.insert(CookieKey(cookie), cookie);
  const std::int64_t expiry = cookie.isSessionCookie() ? 0 : cookie.expirationDate().toSecsSinceEpoch();
  ImportCookie(cookie.domain().toStdString(), Latin(cookie.name()), Latin(cookie.value()),
               cookie.path().isEmpty() ? std::string("/") : cookie.path().toStdString(), cookie.isSecure(),
               expiry);
}

void LoginWindow::FinishLogin() {
  for (const QNetworkCookie& cookie : cookies_) TakeCookie(cookie);
  std::string error;
  if (!SaveCookies(dataDir_, &error)) {
    const QString reason = FromGbk(error);
    emit cookiesNotSaved(reason);
    MessageBox::Fail(this, QStringLiteral(u"登录信息无法保存: ") + reason);
  }
  close();
}

}  // namespace torvane
