#include "notify/im_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <mutex>
#include <optional>

#include "base/text.h"
#include "base/web_address.h"
#include "web/request_address.h"

namespace torvane {

namespace {

constexpr std::size_t kMaxReplyBytes = 8u << 20;
constexpr int kMaxRedirects = 10;

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Reply {
  std::string bytes;
};

size_t CollectReply(char* data, size_t size, size_t count, void* user) {
  auto* reply = static_cast<Reply*>(user);
  std::size_t n = size * count;
  if (reply->bytes.size() + n > kMaxReplyBytes) return 0;  // aborts the transfer
  reply->bytes.append(data, n);
  return n;
}

// A value that goes into a form as typed unless a byte would change the form's
// meaning: "&", "=", "+", "%", spaces, controls and non-ASCII bytes are written
// "%XX" (non-ASCII text first turned into UTF-8 as the service expects).
std::string FormValue(std::string_view gbk) {
  std::string bytes = IsAscii(gbk) ? std::string(gbk) : GbkToUtf8(gbk);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    bool keep = c > 0x20 && c < 0x7F && c != '&' && c != '=' && c != '+' && c != '%' && c != '#';
    if (keep) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

bool NamesGbkCharset(std::string_view contentType) {
  std::string lower(contentType);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  std::size_t pos = lower.find("charset=");
  if (pos == std::string::npos) return false;
  std::string charset = lower.substr(pos + 8);
  charset.erase(std::remove(charset.begin(), charset.end(), '"'), charset.end());
  return charset.rfind("gbk", 0) == 0 || charset.rfind("gb2312", 0) == 0 || charset.rfind("gb18030", 0) == 0;
}

}  // namespace

std::string Utf8FormEncode(std::string_view gbk) { return PercentEncodeAll(GbkToUtf8(gbk)); }

std::string ImReplyText(std::string_view bytes, std::string_view contentType) {
  if (NamesGbkCharset(contentType) || !IsValidUtf8(bytes)) return std::string(bytes);
  return Utf8ToGbk(bytes);
}

std::optional<std::string> ImLoginToken(std::string_view reply) {
  std::size_t at = FindText(reply, "t=");
  if (at == kNotFound) return std::nullopt;
  std::size_t end = reply.find('"', at + 2);
  return std::string(reply.substr(at + 2, end == std::string_view::npos ? std::string_view::npos : end - at - 2));
}

ImClient::ImClient(std::string serviceBase, int connectTimeoutSeconds, int totalTimeoutSeconds)
    : base_(std::move(serviceBase)),
      connectTimeoutSeconds_(connectTimeoutSeconds > 0 ? connectTimeoutSeconds : 15),
      totalTimeoutSeconds_(totalTimeoutSeconds > 0 ? totalTimeoutSeconds : 60) {
  while (!base_.empty() && base_.back() == '/') base_.pop_back();
  InitCurlOnce();
  CURL* curl = curl_easy_init();
  if (curl != nullptr) {
    // An empty file name switches on this handle's own cookie engine.
    curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");
  }
  curl_ = curl;
}

ImClient::~ImClient() {
  if (curl_ != nullptr) curl_easy_cleanup(static_cast<CURL*>(curl_));
}

std::string ImClient::ImRequest(const std::string& url, const std::string& method, const std::string& body,
                                const std::string& referer) {
  lastRequestFailed_ = true;
  auto* curl = static_cast<CURL*>(curl_);
  if (curl == nullptr) return {};
  // Redirects are followed here, not by curl: only within the first address's origin, so the account,
  // the password and the login cookie never reach another host, scheme or port.
  // The request goes where the one reading of the address says, never to the raw text.
  const std::optional<WebAddress> origin = ParseWebAddress(url);
  if (!origin || origin->hasUserInfo) return {};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(totalTimeoutSeconds_);
  std::string target = ConnectionAddressOf(*origin);
  std::string currentMethod = method.empty() ? "GET" : method;
  Reply reply;
  std::string contentTypeText;
  for (int hop = 0;; ++hop) {
    const auto remaining =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (hop > kMaxRedirects || remaining <= 0) return {};
    reply.bytes.clear();
    bool post = currentMethod == "POST";
    curl_slist* headers = nullptr;
    if (post) {
      headers = curl_slist_append(headers, "Accept: */*");
      // "Name;" sends the header with an empty value; "Name:" would drop it.
      headers = curl_slist_append(headers, referer.empty() ? "Referer;" : ("Referer: " + referer).c_str());
      headers = curl_slist_append(headers, "Accept-Language: zh-CN");
      headers = curl_slist_append(headers, "Content-Type: application/x-www-form-urlencoded");
      headers = curl_slist_append(headers, "Expect:");
    }

    // "localhost" goes to this machine's addresses without asking the name resolver.
    curl_slist* fixedAddresses = nullptr;
    if (const std::string fixed = FixedAddressesOf(origin->host); !fixed.empty()) {
      const std::string rule = origin->host + ":" + std::to_string(origin->port) + ":" + fixed;
      fixedAddresses = curl_slist_append(nullptr, rule.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_RESOLVE, fixedAddresses);
    curl_easy_setopt(curl, CURLOPT_URL, target.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);  // the send address has two slashes after the host
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(connectTimeoutSeconds_));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(remaining));
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CollectReply);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (post) {
      curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, nullptr);
      curl_easy_setopt(curl, CURLOPT_POST, 1L);
      curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
      curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    } else {
      curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
      curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, currentMethod == "GET" ? nullptr : currentMethod.c_str());
    }

    CURLcode code = curl_easy_perform(curl);
    char* contentType = nullptr;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &contentType);
    contentTypeText = contentType != nullptr ? contentType : "";
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    char* location = nullptr;
    curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location);
    std::string next = location != nullptr ? location : "";
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, nullptr);
    curl_slist_free_all(headers);
    curl_easy_setopt(curl, CURLOPT_RESOLVE, nullptr);
    curl_slist_free_all(fixedAddresses);

    if (code != CURLE_OK) {
      lastRequestFailed_ = true;
      break;
    }
    lastRequestFailed_ = false;
    if (status < 300 || status >= 400 || next.empty()) break;
    const std::optional<WebAddress> nextAddress = ParseWebAddress(next);
    if (!nextAddress || nextAddress->hasUserInfo || !SameOrigin(*origin, *nextAddress)) {
      lastRequestFailed_ = true;
      return {};
    }
    if (status == 303 || ((status == 301 || status == 302) && post)) currentMethod = "GET";
    target = ConnectionAddressOf(*nextAddress);
  }
  return ImReplyText(reply.bytes, contentTypeText);
}

std::string ImClient::Post(const std::string& pathOrAddress, const std::string& body) {
  bool whole = pathOrAddress.rfind("http://", 0) == 0 || pathOrAddress.rfind("https://", 0) == 0;
  return ImRequest(whole ? pathOrAddress : base_ + pathOrAddress, "POST", body, {});
}

bool ImClient::PostAndFind(const std::string& pathOrAddress, const std::string& body, std::string_view successText) {
  return ContainsText(Post(pathOrAddress, body), successText);
}

bool ImClient::Login(const std::string& account, const std::string& password, int status) {
  if (status < 1 || status > 4) return false;
  std::string body = "m=" + FormValue(account) + "&pass=" + FormValue(password) +
                     "&loginstatus=" + std::to_string(status);
  std::string reply = Post("/im/login/inputpasssubmit1.action", body);
  if (!ContainsText(reply, "您正在登录中国移动WAP飞信,请稍候")) return false;
  if (std::optional<std::string> token = ImLoginToken(reply)) token_ = std::move(*token);
  return true;
}

bool ImClient::SendToSelf(const std::string& text, const std::string& timing) {
  if (timing.empty()) {
    return PostAndFind("//im/user/sendMsgToMyselfs.action", "msg=" + Utf8FormEncode(text), "短信发送成功");
  }
  if (timing.size() != 12) return false;
  return PostAndFind("/im/user/sendTimingMsgToMyselfs.action",
                     "timing=" + FormValue(timing) + "&msg=" + Utf8FormEncode(text), "定时短信设置成功");
}

void ImClient::Logout() { Post("/im/index/logoutsubmit.action", {}); }

bool ImClient::SendToContact(const std::string& contactId, const std::string& text, bool asSms) {
  std::string path = std::string(asSms ? "/im/chat/sendShortMsg.action" : "/im/chat/sendMsg.action") +
                     "?touserid=" + FormValue(contactId);
  return PostAndFind(path, "msg=" + Utf8FormEncode(text), "发送消息成功");
}

std::string ImClient::ListMessages(const std::string& contactId) {
  return Post("/im/box/alllist.action", "touserid=" + FormValue(contactId));
}

std::string ImClient::DeleteMessages(const std::string& fromUserId) {
  return Post("/im/box/deleteMessages.action", "fromIdUser=" + FormValue(fromUserId));
}

std::string ImClient::ListGroups(const std::string& groupId) {
  return Post("/im/user/userGroupManagement.action", "index=true&idContactList=" + FormValue(groupId));
}

bool ImClient::CreateGroup(const std::string& name) {
  return PostAndFind("/im/user/userInsertGroups.action", "msg=" + Utf8FormEncode(name), "创建成功");
}

bool ImClient::RenameGroup(const std::string& groupId, const std::string& name) {
  return PostAndFind("/im/user/userUpdateGroups.action",
                     "msg=" + Utf8FormEncode(name) + "&idContactList=" + FormValue(groupId), "分组修改成功");
}

bool ImClient::DeleteGroup(const std::string& groupId) {
  return PostAndFind("/im/user/userDeleteGroups.action", "idContactList=" + FormValue(groupId), "成功删除");
}

std::string ImClient::ListGroupContacts(const std::string& groupId, int page) {
  return Post("/im/index/contactlistView.action",
              "type=group&idContactList=" + FormValue(groupId) + "&page=" + std::to_string(page));
}

ImSearchResult ImClient::SearchUsers(const std::string& text) {
  std::string reply = Post("/im/index/searchOtherInfoList.action", "searchText=" + Utf8FormEncode(text));
  if (ContainsText(reply, "没有符合条件的好友哦")) return ImSearchResult::kNoMatch;
  if (ContainsText(reply, "与TA聊")) return ImSearchResult::kFound;
  return ImSearchResult::kUnknown;
}

std::string ImClient::ContactChatPage(const std::string& contactId) {
  return Post("/im/chat/toinputMsg.action", "type=all&touserid=" + FormValue(contactId));
}

std::string ImClient::ContactInfo(const std::string& contactId) {
  return Post("/im/user/userinfoByuserid.action", "type=all&touserid=" + FormValue(contactId));
}

bool ImClient::AddFriend(const std::string& nickname, const std::string& buddyList, const std::string& number,
                         const std::string& type, const std::string& localName) {
  std::string body = "nickname=" + Utf8FormEncode(nickname) + "&buddylist=" + FormValue(buddyList) +
                     "&number=" + FormValue(number) + "&type=" + FormValue(type) +
                     "&localName=" + Utf8FormEncode(localName);
  return PostAndFind("/im/user/insertfriendsubmit.action", body, "发送成功");
}

bool ImClient::SetLocalName(const std::string& contactId, const std::string& localName) {
  return PostAndFind("/im/user/updateLocalnames.action",
                     "touserid=" + FormValue(contactId) + "&localName=" + Utf8FormEncode(localName), "设置成功");
}

bool ImClient::MoveContact(const std::string& address, const std::string& contactId, const std::string& fromGroupId,
                           const std::string& toGroupId) {
  return PostAndFind(address,
                     "touserid=" + FormValue(contactId) + "&idContactList=" + FormValue(fromGroupId) +
                         "&idContactListNew=" + FormValue(toGroupId),
                     "成功");
}

bool ImClient::DeleteContact(const std::string& groupId, const std::string& contactId) {
  return PostAndFind("/im/user/crewDeleteManagement.action",
                     "idContactList=" + FormValue(groupId) + "&touserid=" + FormValue(contactId), "成功");
}

bool ImClient::ContactOperation(const std::string& address, const std::string& contactId) {
  return PostAndFind(address, "touserid=" + FormValue(contactId), "成功");
}

std::string ImClient::MyProfile() { return Post("/im/user/myuserinfo.action", {}); }

bool ImClient::EditNickname(const std::string& nickname) {
  return PostAndFind("/im/user/editnicknamesubmit.action", "nickname=" + Utf8FormEncode(nickname), "修改姓名成功");
}

bool ImClient::EditSex(const std::string& sex) {
  return PostAndFind("/im/user/editsexsubmit.action", "sex=" + FormValue(sex), "修改性别成功");
}

bool ImClient::EditBirthday(const std::string& year, const std::string& month, const std::string& day) {
  // Each key after the first needs its own "&", or the day would run into the month.
  return PostAndFind("/im/user/editbirthdaysubmit.action",
                     "year=" + FormValue(year) + "&month=" + FormValue(month) + "&day=" + FormValue(day),
                     "修改生日成功");
}

bool ImClient::EditBloodType(const std::string& bloodType) {
  return PostAndFind("/im/user/editbloodTypeSubmit.action", "bloodType=" + FormValue(bloodType), "血型修改成功");
}

bool ImClient::EditMood(const std::string& mood) {
  return PostAndFind("/im/user/editimpresaSubmit.action", "impresa=" + Utf8FormEncode(mood), "修改心情短语成功");
}

}  // namespace torvane
