#include "group_robot.h"

#include "base/text.h"
#include "sim.h"

namespace marketsim {

namespace {

SimResponse Answer(const Json& j, int status = 200) {
  SimResponse r;
  r.status = status;
  r.body = Dump(j);
  r.contentType = "application/json; charset=utf-8";
  return r;
}

SimResponse ServiceAnswer(int errcode, const char* errmsg) {
  Json j = Json::object();
  j["errcode"] = errcode;
  j["errmsg"] = errmsg;
  return Answer(j);
}

}  // namespace

bool GroupRobot::Serves(const std::string& path) { return path == "/robot/send"; }

SimResponse GroupRobot::Post(const SimRequest& request) {
  if (request.method != "POST") return ServiceAnswer(43004, "use POST");
  Json record = Json::object();
  const std::string key = FormValue(ParseForm(request.query), "key");
  record["key"] = key;
  record["contentTypes"] = request.contentTypes;
  const bool validUtf8 = torvane::IsValidUtf8(request.body);
  record["validUtf8"] = validUtf8;
  const Json message = validUtf8 ? Parse(request.body) : Json(nullptr);
  record["validJson"] = validUtf8 && !message.is_discarded();
  const Json& content = Field(Field(message, "text"), "content");
  record["msgtype"] = Text(Field(message, "msgtype"));
  record["content"] = content.is_string() ? content.get<std::string>() : std::string();
  record["bodyHex"] = HexOf(request.body);

  int errcode = 0;
  const char* errmsg = "ok";
  if (!key_.empty() && key != key_) {
    errcode = 93000;
    errmsg = "invalid webhook url, hint: [robot] key not found";
  } else if (!record["validJson"].get<bool>() || Text(Field(message, "msgtype")) != "text" || !content.is_string()) {
    errcode = 40008;
    errmsg = "invalid message type";
  }
  record["errcode"] = errcode;
  messages_.push_back(std::move(record));
  return ServiceAnswer(errcode, errmsg);
}

SimResponse GroupRobot::State() const {
  Json j = Json::object();
  j["key"] = key_;
  j["messages"] = messages_;
  return Answer(j);
}

SimResponse GroupRobot::Configure(const Json& body) {
  key_ = Text(Field(body, "key"));
  Json j = Json::object();
  j["ok"] = true;
  return Answer(j);
}

void GroupRobot::Reset() {
  key_.clear();
  messages_ = Json::array();
}

}  // namespace marketsim
