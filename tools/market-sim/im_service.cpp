// The WAP IM (SMS) service: login, sends to the account's own phone, logout and the further operations.
#include <string>

#include "base/text.h"
#include "page_text.h"
#include "sim.h"

namespace marketsim {

using torvane::GbkToUtf8;
using torvane::Utf8ToGbk;

// ---------------------------------------------------------------------------------------
// WAP IM service

namespace {

std::string ImPage(std::string_view title, std::string_view text) {
  // No charset attribute here: the login reply's token is the first "t=" of the page.
  std::string s = "<html><head><title>";
  s += title;
  s += "</title></head><body>\r\n";
  s += text;
  s += "\r\n</body></html>\r\n";
  return s;
}

std::string ImLoginForm() {
  return ImPage("飞信", "请先登录。<form method=\"post\" action=\"/im/login/inputpasssubmit1.action\">"
                        "手机号：<input name=\"m\"/>密码：<input name=\"pass\" type=\"password\"/></form>");
}

}  // namespace

SimResponse Simulator::ImLogin(const SimRequest& request) {
  auto form = ParseForm(request.body);
  std::string account = FormValue(form, "m");
  std::string password = FormValue(form, "pass");
  std::string status = FormValue(form, "loginstatus");
  auto it = imAccounts_.find(account);
  bool ok = it != imAccounts_.end() && it->second == password && !account.empty();
  Json record = Json::object();
  record["account"] = GbkToUtf8(account);
  record["loginstatus"] = status;
  record["success"] = ok;
  SetBody(record, request.body);
  imLogins_.push_back(std::move(record));
  if (!ok) return Page(ImPage("飞信", "手机号或密码错误，请重新输入。"));

  std::string sid = RandomHex(16);
  std::string token = RandomHex(8);
  imSessions_[sid] = ImSession{account, token};
  SimResponse r = Page(ImPage("飞信", "您正在登录中国移动WAP飞信,请稍候...<br/><a href=\"" + baseUrl_ +
                                         "/im/index/indexcenter.action?t=" + token + "\">进入</a>"));
  r.setCookies.push_back("imsid=" + sid + "; Path=/");
  return r;
}

SimResponse Simulator::ImSend(const SimRequest& request, bool timed) {
  const ImSession* session = ImSessionOf(request);
  auto form = ParseForm(request.body);
  std::string msg = FormValue(form, "msg");  // UTF-8 bytes as sent
  std::string timing = FormValue(form, "timing");
  std::string reason;
  if (!session) reason = "not logged in";
  else if (timed && timing.size() != 12) reason = "bad timing";

  Json record = Json::object();
  record["account"] = session ? GbkToUtf8(session->account) : std::string();
  record["path"] = request.path;
  record["timed"] = timed;
  record["timing"] = timing;
  bool utf8 = torvane::IsValidUtf8(msg);
  record["validUtf8"] = utf8;
  record["text"] = utf8 ? msg : GbkToUtf8(msg);
  record["textHex"] = HexOf(msg);
  record["success"] = reason.empty();
  record["reason"] = reason;
  SetBody(record, request.body);
  sms_.push_back(std::move(record));

  if (!session) return Page(ImLoginForm());
  if (!reason.empty()) return Page(ImPage("飞信", "定时时间格式不正确。"));
  return Page(ImPage("飞信", timed ? "定时短信设置成功！" : "短信发送成功！<a href=\"/im/index/indexcenter.action\">返回</a>"));
}

SimResponse Simulator::ImLogout(const SimRequest& request) {
  auto c = request.cookies.find("imsid");
  bool wasIn = false;
  std::string account;
  if (c != request.cookies.end()) {
    auto s = imSessions_.find(c->second);
    if (s != imSessions_.end()) {
      wasIn = true;
      account = s->second.account;
      imSessions_.erase(s);
    }
  }
  Json record = Json::object();
  record["account"] = GbkToUtf8(account);
  record["loggedIn"] = wasIn;
  imLogouts_.push_back(std::move(record));
  return Page(ImPage("飞信", "您已退出飞信。"));
}

SimResponse Simulator::ImOther(const SimRequest& request) {
  struct Operation {
    std::string_view path;
    std::string_view answer;
  };
  // The further operations of the service with the sentence each answers with.
  static const Operation kOperations[] = {
      {"/im/chat/sendShortMsg.action", "发送消息成功"},
      {"/im/chat/sendMsg.action", "发送消息成功"},
      {"/im/box/alllist.action", "消息盒子"},
      {"/im/box/deleteMessages.action", "消息已删除"},
      {"/im/user/userGroupManagement.action", "分组管理"},
      {"/im/user/userInsertGroups.action", "创建成功"},
      {"/im/user/userUpdateGroups.action", "分组修改成功"},
      {"/im/user/userDeleteGroups.action", "成功删除"},
      {"/im/index/contactlistView.action", "好友列表"},
      {"/im/chat/toinputMsg.action", "好友详情"},
      {"/im/user/userinfoByuserid.action", "好友详情"},
      {"/im/user/insertfriendsubmit.action", "发送成功"},
      {"/im/user/updateLocalnames.action", "设置成功"},
      {"/im/user/crewDeleteManagement.action", "成功"},
      {"/im/user/myuserinfo.action", "我的资料"},
      {"/im/user/editnicknamesubmit.action", "修改姓名成功"},
      {"/im/user/editsexsubmit.action", "修改性别成功"},
      {"/im/user/editbirthdaysubmit.action", "修改生日成功"},
      {"/im/user/editbloodTypeSubmit.action", "血型修改成功"},
      {"/im/user/editimpresaSubmit.action", "修改心情短语成功"},
  };
  const ImSession* session = ImSessionOf(request);
  std::string path = request.path.rfind("//", 0) == 0 ? request.path.substr(1) : request.path;
  Json record = Json::object();
  record["path"] = request.path;
  record["query"] = request.query;
  record["loggedIn"] = session != nullptr;
  SetBody(record, request.body);
  imOperations_.push_back(std::move(record));
  if (!session) return Page(ImLoginForm());
  if (path == "/im/index/searchOtherInfoList.action") {
    bool hit = !FormValue(ParseForm(request.body), "searchText").empty();
    return Page(ImPage("飞信", hit ? "找到 1 位用户 <a href=\"/im/chat/toinputMsg.action\">与TA聊</a>"
                                   : "没有符合条件的好友哦"));
  }
  for (const auto& op : kOperations)
    if (path == op.path) return Page(ImPage("飞信", std::string(op.answer)));
  return Page(ImPage("飞信", "页面不存在"), 404);
}

}  // namespace marketsim
