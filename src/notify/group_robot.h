// The group-chat robot channel: a notice posted to the webhook address that an office chat
// service gives a group's robot, as one JSON text message in UTF-8. The address carries the
// group's key, so nothing the seller sees names more of it than its host.
#pragma once

#include <string>
#include <string_view>

namespace torvane {

// Outcome of one post to the robot.
struct RobotResult {
  bool sent = false;   // the service answered and did not refuse the message
  std::string reason;  // why not, for the seller (GBK); never holds the address
};

// Why the address may not be used, "" when it may: it must be an https address, or an http one on
// this machine, without a user name or password in it.
std::string RobotAddressRefusal(std::string_view address);

// The host of the address, for log lines; "" when the address cannot be read.
std::string RobotAddressHost(std::string_view address);

// {"msgtype":"text","text":{"content":...}} with the GBK text in UTF-8, escaped for JSON.
std::string RobotTextMessage(std::string_view gbkText);

// Posts the text to the robot through the request function (its time-outs, on the calling thread).
// A refused address, no answer, a redirect elsewhere, a status other than 2xx, or an answer whose
// "errcode" or "code" is not 0 is a failure with its reason.
RobotResult PostToGroupRobot(std::string_view address, std::string_view gbkText);

// The activity line for a failed post: the host and the reason, not the address.
std::string RobotFailureLine(std::string_view address, std::string_view reason);

}  // namespace torvane
