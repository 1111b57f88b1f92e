// The seller's delivery, out-of-stock and problem notices: software (activity line and tray
// balloon), SMS to the seller's own phone, mail to the seller's mailbox and a message to the
// group-chat robot, each as ticked in the settings at the moment the notice is raised.
#pragma once

#include <string>

#include "base/activity_log.h"
#include "base/deployment.h"
#include "base/settings.h"
#include "notify/notify_interfaces.h"

namespace torvane {

// Balloon titles and mail subjects of the notices.
inline constexpr const char* kDeliveredBalloonTitle = "发货提示";
inline constexpr const char* kDeliveredMailSubject = "发货通知";
inline constexpr const char* kOutOfStockBalloonTitle = "库存不足";
inline constexpr const char* kOutOfStockMailSubject = "库存不足";
inline constexpr const char* kLowStockBalloonTitle = "库存预警";
inline constexpr const char* kLowStockMailSubject = "库存预警";
inline constexpr const char* kProblemBalloonTitle = "发货异常";
inline constexpr const char* kProblemMailSubject = "发货异常";

// Sends one text to the account's own phone: login, send, logout, each tried whatever
// became of the one before. True when the service confirmed the send.
bool SendSmsToSelf(const Deployment& deployment, const std::string& account, const std::string& password,
                   const std::string& text);

class Notices : public SellerNotices {
 public:
  Notices(LiveSettings& settings, ActivityLogger& log, NoticeUi& ui, MailSender& mail, Deployment deployment);

  // Channels in fixed order: software, SMS, mail, group-chat robot. SMS and mail failures stay
  // silent; a robot post that fails leaves one activity line naming the robot's host and why.
  void NotifyDelivered(const std::string& text) override;
  void NotifyOutOfStock(const std::string& text) override;
  // Through the channels ticked for the out-of-stock notice; its software channel only shows the
  // balloon (the caller logged the line).
  void NotifyLowStock(const std::string& text) override;
  // Through the channels ticked for the out-of-stock notice.
  void NotifyProblem(const std::string& text) override;

 private:
  void Notify(const std::string& text, bool software, bool sms, bool mail, bool robot, const char* balloonTitle,
              const char* mailSubject);

  LiveSettings& settings_;
  ActivityLogger& log_;
  NoticeUi& ui_;
  MailSender& mail_;
  Deployment deployment_;
};

}  // namespace torvane
