#include "notify/notices.h"

#include "notify/group_robot.h"
#include "notify/im_client.h"

namespace torvane {

bool SendSmsToSelf(const Deployment& deployment, const std::string& account, const std::string& password,
                   const std::string& text) {
  ImClient client(deployment.smsServiceAddress, deployment.connectTimeoutSeconds, deployment.totalTimeoutSeconds);
  client.Login(account, password);
  bool sent = client.SendToSelf(text);
  client.Logout();
  return sent;
}

Notices::Notices(LiveSettings& settings, ActivityLogger& log, NoticeUi& ui, MailSender& mail, Deployment deployment)
    : settings_(settings), log_(log), ui_(ui), mail_(mail), deployment_(std::move(deployment)) {}

void Notices::NotifyDelivered(const std::string& text) {
  Settings now = settings_.Current();
  Notify(text, now.deliveredSoftware, now.deliveredSms, now.deliveredMail, now.deliveredRobot, kDeliveredBalloonTitle,
         kDeliveredMailSubject);
}

void Notices::NotifyOutOfStock(const std::string& text) {
  Settings now = settings_.Current();
  Notify(text, now.outOfStockSoftware, now.outOfStockSms, now.outOfStockMail, now.outOfStockRobot,
         kOutOfStockBalloonTitle, kOutOfStockMailSubject);
}

void Notices::NotifyLowStock(const std::string& text) {
  Settings now = settings_.Current();
  if (now.outOfStockSoftware) ui_.ShowTrayBalloon(kLowStockBalloonTitle, text, 1, 3000);
  Notify(text, false, now.outOfStockSms, now.outOfStockMail, now.outOfStockRobot, kLowStockBalloonTitle,
         kLowStockMailSubject);
}

void Notices::NotifyProblem(const std::string& text) {
  Settings now = settings_.Current();
  Notify(text, now.outOfStockSoftware, now.outOfStockSms, now.outOfStockMail, now.outOfStockRobot, kProblemBalloonTitle,
         kProblemMailSubject);
}

void Notices::Notify(const std::string& text, bool software, bool sms, bool mail, bool robot, const char* balloonTitle,
                     const char* mailSubject) {
  if (software) {
    log_.LogActivity(text);
    ui_.ShowTrayBalloon(balloonTitle, text, 1, 3000);
  }
  if (sms) {
    // Account and mailbox are read when their channel runs, never kept from an earlier moment.
    Settings current = settings_.Current();
    SendSmsToSelf(deployment_, current.smsAccount, current.smsPassword, text);
  }
  if (mail) {
    Settings current = settings_.Current();
    mail_.SendMail(current.noticeMailbox, mailSubject, text);
  }
  if (robot) {
    // The group sees which notice it is by the mail subject in front.
    Settings current = settings_.Current();
    RobotResult posted = PostToGroupRobot(current.robotAddress, std::string("【") + mailSubject + "】" + text);
    if (!posted.sent) log_.LogActivity(RobotFailureLine(current.robotAddress, posted.reason));
  }
}

}  // namespace torvane
