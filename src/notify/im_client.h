// Client of the WAP IM service (飞信) that sends the seller's SMS notices: log in,
// post a text to the account's own phone, log out. One object per notice or test;
// each object keeps its own cookies, so concurrent notices never share a login.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace torvane {

// The GBK text as UTF-8, every byte written "%XX" with upper-case hexadecimal digits ("a" -> "%61").
std::string Utf8FormEncode(std::string_view gbk);

// A reply's bytes as GBK text: as received when contentType names a GBK charset (gbk, gb2312, gb18030)
// or the bytes are not UTF-8, else converted from UTF-8.
std::string ImReplyText(std::string_view bytes, std::string_view contentType);

// The token of a login reply: the text after the first "t=" up to the next double quote (or the end);
// nullopt when the reply holds no "t=".
std::optional<std::string> ImLoginToken(std::string_view reply);

// Result of a user search.
enum class ImSearchResult { kNoMatch, kFound, kUnknown };

class ImClient {
 public:
  // serviceBase: scheme://host[:port] of the service; time-outs in seconds.
  explicit ImClient(std::string serviceBase, int connectTimeoutSeconds = 15, int totalTimeoutSeconds = 60);
  ~ImClient();
  ImClient(const ImClient&) = delete;
  ImClient& operator=(const ImClient&) = delete;

  // One request; the reply converted to GBK (UTF-8 unless the reply names a GBK charset).
  // For POST it sends Accept, Referer, Accept-Language and Content-Type, in that order.
  // Up to 10 redirects are followed within the origin (scheme, host, port) of url; a redirect anywhere
  // else gives "" and counts as a failed request. Any failure gives the text received so far, usually "".
  std::string ImRequest(const std::string& url, const std::string& method = "GET", const std::string& body = {},
                        const std::string& referer = {});

  // Logs in with status 1..4 (anything else: false without a request); keeps the token.
  bool Login(const std::string& account, const std::string& password, int status = 4);
  // Text to the account's own phone; a timing text (exactly 12 bytes) schedules it instead.
  bool SendToSelf(const std::string& text, const std::string& timing = {});
  // Ends the service's login; the reply is not judged.
  void Logout();

  // Message to a contact, as SMS or as chat.
  bool SendToContact(const std::string& contactId, const std::string& text, bool asSms);
  // The message box with one contact (reply text).
  std::string ListMessages(const std::string& contactId);
  // Deletes the messages from one contact (reply text).
  std::string DeleteMessages(const std::string& fromUserId);
  // The group list page (reply text).
  std::string ListGroups(const std::string& groupId);
  // New contact group.
  bool CreateGroup(const std::string& name);
  // New name for a group.
  bool RenameGroup(const std::string& groupId, const std::string& name);
  // Removes a group.
  bool DeleteGroup(const std::string& groupId);
  // One page of a group's contacts (reply text).
  std::string ListGroupContacts(const std::string& groupId, int page);
  // Searches users by text.
  ImSearchResult SearchUsers(const std::string& text);
  // The chat page of a contact (reply text).
  std::string ContactChatPage(const std::string& contactId);
  // The profile page of a contact (reply text).
  std::string ContactInfo(const std::string& contactId);
  // Friend request.
  bool AddFriend(const std::string& nickname, const std::string& buddyList, const std::string& number,
                 const std::string& type, const std::string& localName);
  // The seller's own name for a contact.
  bool SetLocalName(const std::string& contactId, const std::string& localName);
  // Moves a contact between groups through the given address.
  bool MoveContact(const std::string& address, const std::string& contactId, const std::string& fromGroupId,
                   const std::string& toGroupId);
  // Removes a contact from a group.
  bool DeleteContact(const std::string& groupId, const std::string& contactId);
  // Any operation on one contact at the given address.
  bool ContactOperation(const std::string& address, const std::string& contactId);
  // The seller's own profile page (reply text).
  std::string MyProfile();
  // Profile edits.
  bool EditNickname(const std::string& nickname);
  bool EditSex(const std::string& sex);
  bool EditBirthday(const std::string& year, const std::string& month, const std::string& day);
  bool EditBloodType(const std::string& bloodType);
  bool EditMood(const std::string& mood);

  // Token of the last successful login ("" before).
  const std::string& token() const { return token_; }
  // True when the last request never got a usable HTTP reply (no connection, time-out, a refused redirect).
  bool lastRequestFailed() const { return lastRequestFailed_; }

 private:
  // POST to a path on the service (or to a whole address starting with http).
  std::string Post(const std::string& pathOrAddress, const std::string& body);
  bool PostAndFind(const std::string& pathOrAddress, const std::string& body, std::string_view successText);

  std::string base_;
  int connectTimeoutSeconds_;
  int totalTimeoutSeconds_;
  void* curl_ = nullptr;  // the client's own handle; its cookie engine holds the login
  std::string token_;
  bool lastRequestFailed_ = false;
};

}  // namespace torvane
