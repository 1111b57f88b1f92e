// The settings pane's test buttons. Both block the calling (window) thread for
// the exchange and return the text the window shows in its "提示" box.
#pragma once

#include <string>

#include "notify/notify_interfaces.h"
#include "base/deployment.h"
#include "base/settings.h"

namespace torvane {

// Test mail "测试"/"测试" to the seller's mailbox; says whether it went out and, if not, why.
std::string SendTestMail(const Settings& settings, MailSender& mail);

// Test SMS "Torvane短信通知测试" to the seller's own phone; says whether it went out and, if not, why.
std::string SendTestSms(const Settings& settings, const Deployment& deployment);

// Test message "Torvane群机器人通知测试" to the group-chat robot; says whether the service took it and,
// if not, why (naming the robot's host, never its whole address).
std::string SendTestRobot(const Settings& settings);

}  // namespace torvane
