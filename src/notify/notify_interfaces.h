// What the delivery run needs of the notifier and of the window.
#pragma once

#include <string>

namespace torvane {

// Window-bound services; the window posts them to its own thread, the runner prints or ignores them.
class NoticeUi {
 public:
  virtual ~NoticeUi() = default;
  // Balloon on the tray icon; icon kind 0..3 (none, information, warning, error), anything else 1.
  virtual void ShowTrayBalloon(const std::string& title, const std::string& text, int iconKind, int timeoutMs) = 0;
  // Modal message box (the request function's "友情提醒"); returns the pressed button's number minus 1.
  virtual int ShowNotice(const std::string& text, int style, const std::string& title) = 0;
};

// Outcome of one mail submission.
struct MailResult {
  bool accepted = false;  // true only when the server accepted the message
  std::string reason;     // why not, for the seller (GBK)
};

class MailSender {
 public:
  virtual ~MailSender() = default;
  virtual MailResult SendMail(const std::string& recipient, const std::string& subject, const std::string& body) = 0;
};

// The seller's two notices; channels chosen by the live settings.
class SellerNotices {
 public:
  virtual ~SellerNotices() = default;
  virtual void NotifyDelivered(const std::string& text) = 0;
  virtual void NotifyOutOfStock(const std::string& text) = 0;
};

}  // namespace torvane
