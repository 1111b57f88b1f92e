// The group-chat robot's webhook, as the office chat services give one to a group: POST
// /robot/send?key=KEY with {"msgtype":"text","text":{"content":"..."}} in UTF-8. Every post is
// recorded as it came, for tests and the demo to read back through the admin interface.
#pragma once

#include <string>

#include "json_fields.h"

namespace marketsim {

struct SimRequest;
struct SimResponse;

class GroupRobot {
 public:
  // True for the paths the robot serves.
  static bool Serves(const std::string& path);

  // One post to the webhook: answered like the services do, 200 with {"errcode":N,"errmsg":"..."};
  // errcode 93000 for a key other than the one set, 40008 for a body that is not a text message.
  SimResponse Post(const SimRequest& request);

  // GET /admin/robot: {"key":..., "messages":[{"key","contentTypes","validUtf8","validJson","msgtype",
  // "content","errcode","bodyHex"}]}.
  SimResponse State() const;
  // POST /admin/robot {"key":"..."}: only posts with this key are taken ("" or none: any key).
  SimResponse Configure(const Json& body);

  void Reset();

 private:
  std::string key_;
  Json messages_ = Json::array();
};

}  // namespace marketsim
