#include "notify/test_buttons.h"

#include "base/text.h"
#include "notify/group_robot.h"
#include "notify/im_client.h"

namespace torvane {

std::string SendTestMail(const Settings& settings, MailSender& mail) {
  if (settings.noticeMailbox.empty()) return "请将信息填写完整";
  MailResult result = mail.SendMail(settings.noticeMailbox, "测试", "测试");
  if (result.accepted) return "邮件已经发送,请仔细检查收信邮箱";
  return "邮件发送失败," + result.reason;
}

std::string SendTestSms(const Settings& settings, const Deployment& deployment) {
  if (settings.smsAccount.empty() || settings.smsPassword.empty()) {
    return "再测试手机短信前 请一定先正确填写飞信账号和飞信密码";
  }
  ImClient client(deployment.smsServiceAddress, deployment.connectTimeoutSeconds, deployment.totalTimeoutSeconds);
  bool loggedIn = client.Login(settings.smsAccount, settings.smsPassword);
  bool loginUnreachable = client.lastRequestFailed();
  bool sent = client.SendToSelf("Torvane短信通知测试");
  bool sendUnreachable = client.lastRequestFailed();
  client.Logout();
  if (sent) return "短信已经发送,请仔细检查您的手机,如果发送失败,请确认您已经正确的填写了飞信账号和飞信密码";
  if (loginUnreachable || sendUnreachable) return "短信发送失败,无法连接短信服务";
  if (!loggedIn) return "短信发送失败,飞信登录失败,请确认飞信账号和飞信密码填写正确";
  return "短信发送失败,短信服务没有确认发送";
}

std::string SendTestRobot(const Settings& settings) {
  if (Trim(settings.robotAddress).empty()) return "请先填写群机器人地址";
  if (std::string refusal = RobotAddressRefusal(settings.robotAddress); !refusal.empty()) return refusal;
  RobotResult result = PostToGroupRobot(settings.robotAddress, "Torvane群机器人通知测试");
  if (result.sent) return "群机器人消息已经发送,请查看群聊";
  std::string answer = "群机器人消息发送失败,";
  if (std::string host = RobotAddressHost(settings.robotAddress); !host.empty()) answer += "[" + host + "] ";
  return answer + result.reason;
}

}  // namespace torvane
