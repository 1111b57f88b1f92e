// Deployment facts kept in 部署配置.ini beside 配置文件.ini: marketplace hosts,
// service addresses, the mail account, the shipper contact, help pages, time-outs.
#pragma once

#include <filesystem>
#include <string>

namespace torvane {

// How the mail connection is encrypted (邮件/加密).
enum class MailEncryption {
  kStartTls,     // "STARTTLS": plain connection turned into TLS before the login; refused when the server will not
  kImplicitTls,  // "SSL": TLS from the first byte (smtps, port 465)
  kNone,         // "无": no encryption; only for a mail server on this machine
};

struct MailAccount {
  std::string server;            // 邮件/服务器 (host name)
  int port = 25;                 // 邮件/端口 (465 when 加密=SSL and no port is given)
  std::string fromAddress;       // 邮件/发信地址
  std::string userName;          // 邮件/用户名
  std::string passwordObfuscated;  // 邮件/密码, as printed by `torvane mail-password`
  MailEncryption encryption = MailEncryption::kStartTls;  // 邮件/加密
  std::string caFile;            // 邮件/CA证书: certificates the server's must chain to ("": the system's)
};

// Sender and return contact of the consign form.
struct ShipperContact {
  std::string regionCode1 = "86440000";   // 发货人/地区码一 (8 digits)
  std::string regionCode2 = "440300";     // 发货人/地区码二 (6 digits)
  std::string name = "张先生";            // 发货人/姓名
  std::string street = "科技园南区";      // 发货人/街道
  std::string fullAddress = "广东省深圳市南山区科技园南区";  // 发货人/详细地址
  std::string joinedAddress = "广东省^^^深圳市^^^南山区^^^科技园南区";  // 发货人/分段地址
  std::string postcode = "518057";        // 发货人/邮编
  std::string mobile = "13800138000";     // 发货人/手机
};

// 页面: what tells the marketplace's pages apart, so that a changed page can be followed without a new build.
// The order list is recognised by any one of its three signals; the login page by either of its two.
struct PageMarkers {
  std::string listContainer = "id=\"J_OrderList\"";  // 页面/订单列表容器: a text of the list's container
  std::string listTitle = "已卖出的宝贝";                // 页面/订单列表标题: a text of the page's <title>
  std::string listTableHead = "交易状态";                // 页面/订单列表表头: a text of the list's <thead>
  std::string loginPath = "/member/login.jhtml";         // 页面/登录地址: path the answer's final address starts with
  std::string loginField = "name=\"TPL_password\"";   // 页面/登录页标记: a text only the login form holds
};

struct Deployment {
  // 市场: base addresses (scheme://host[:port]) of each marketplace host role.
  std::string loginHost = "https://login.taobao.com";
  std::string personalHost = "https://i.taobao.com";
  std::string memberHost = "https://member1.taobao.com";
  std::string logisticsHost = "https://wuliu.taobao.com";
  std::string tradeHost = "https://trade.taobao.com";
  std::string rateHost = "https://rate.taobao.com";
  // 更新/公告页面: the update notice page, ending with "?".
  std::string updateNoticePage = "https://www.torvane.com/update.htm?";
  // 短信/服务地址: base address of the WAP IM service.
  std::string smsServiceAddress = "https://f.10086.cn";
  // 网络: time-outs in seconds.
  int connectTimeoutSeconds = 15;
  int totalTimeoutSeconds = 60;
  // 聊天/聊天窗口等待秒: how long to wait for the chat window.
  int chatWaitSeconds = 15;
  // 聊天/WINEPREFIX: a wine prefix holding the chat client (empty: none on this machine).
  std::string chatWinePrefix;
  // 网络/CA证书: certificates the marketplace's must chain to ("": the system's).
  std::string webCaFile;
  MailAccount mail;
  ShipperContact shipper;
  PageMarkers pages;
  // 帮助: product website and help pages.
  std::string websiteHome = "https://www.torvane.com/";
  std::string helpCentre = "https://www.torvane.com/help/";
  std::string imRegistrationPage = "https://feixin.10086.cn/account/register";
  // 帮助: the six help pages of the tutorial pane, keyed by the name of their link.
  std::string helpSimpleDelivery = "https://www.torvane.com/help/simple.htm";   // 帮助/简单发货
  std::string helpChatSetup = "https://www.torvane.com/help/wangwang.htm";      // 帮助/手机修改
  std::string helpMailSetup = "https://www.torvane.com/help/mail.htm";          // 帮助/邮箱设置
  std::string helpAddCards = "https://www.torvane.com/help/add-cards.htm";      // 帮助/添加卡密
  std::string helpEditCards = "https://www.torvane.com/help/edit-cards.htm";    // 帮助/修改卡密
  std::string helpDeleteCards = "https://www.torvane.com/help/delete-cards.htm";  // 帮助/删除卡密
};

// "部署配置.ini" in the given configuration directory.
std::filesystem::path DeploymentPath(const std::filesystem::path& configDir);

// Reads the deployment file; every missing key keeps its default above. A file saved as UTF-8 or
// with lone CR line ends is read converted, and note then says so in one line for the seller
// (otherwise it is emptied). A file that exists but cannot be read, or holds none of the keys above,
// would silently leave every default (the real marketplace hosts) in force: error then names the
// file and says why (otherwise it is emptied), and the defaults are returned. An 邮件/加密 value
// other than STARTTLS, SSL or 无 (ASCII letters in any case) is an error naming the key too.
Deployment LoadDeployment(const std::filesystem::path& deploymentFile, std::string* error = nullptr,
                          std::string* note = nullptr);

// Checks the addresses that carry the seller's session, form token and SMS password (the marketplace
// roles, the SMS service, the update notice page): each must be an http(s) address without user-info,
// and plain http only on a loopback host; the mail server must be a host name or address
// (NormaliseHost), and mail without encryption goes only to a loopback server.
// False with a message naming the first faulty key.
bool CheckDeploymentAddresses(const Deployment& deployment, std::string* error);

// True when the mail server is this machine (IsLoopbackHost): "localhost", 127.x.y.z, "::1" or "[::1]".
bool IsLoopbackMailServer(const std::string& server);

}  // namespace torvane
