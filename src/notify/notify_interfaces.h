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

// Why a mail was not accepted, as far as it decides whether the same mail may simply be sent again.
enum class MailFailure {
  kNone,            // accepted (or a sender that does not tell)
  kTransient,       // the server's, for every recipient: no connection, time-out, login refused, a refusal of
                    // the greeting, the sender or the message, other server faults
  kRecipient,       // this recipient for good: a 5xx reply to RCPT, or an unusable address
  kRecipientLater,  // this recipient for now: a 4xx reply to RCPT; the same mail may be sent again later
};

// Outcome of one mail submission.
struct MailResult {
  bool accepted = false;  // true only when the server accepted the message
  std::string reason;     // why not, for the seller (GBK), with the server's own reply when there was one
  MailFailure failure = MailFailure::kNone;
};

class MailSender {
 public:
  virtual ~MailSender() = default;
  virtual MailResult SendMail(const std::string& recipient, const std::string& subject, const std::string& body) = 0;
};

// The seller's notices; channels chosen by the live settings.
class SellerNotices {
 public:
  virtual ~SellerNotices() = default;
  virtual void NotifyDelivered(const std::string& text) = 0;
  virtual void NotifyOutOfStock(const std::string& text) = 0;
  // An item's stock reached its low-stock threshold; through the channels ticked for the
  // out-of-stock notice. The caller has written the text to the activity log already.
  virtual void NotifyLowStock(const std::string& text) = 0;
  // A delivery problem the seller has to look at (mail server down, login expired, ...);
  // goes through the channels ticked for the out-of-stock notice.
  virtual void NotifyProblem(const std::string& text) = 0;
};

}  // namespace torvane
