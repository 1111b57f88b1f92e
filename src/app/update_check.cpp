#include "app/update_check.h"

#include <mutex>
#include <optional>
#include <random>

#include "web/http.h"
#include "base/text.h"
#include "base/web_address.h"

namespace torvane {

namespace {

struct NoticeValues {
  std::mutex mutex;
  std::string publishedVersion;
  std::string downloadAddress;
};

NoticeValues& Values() {
  static NoticeValues values;
  return values;
}

int RandomPair() {
  static std::mutex mutex;
  static std::mt19937 engine{std::random_device{}()};
  std::uniform_int_distribution<int> pick(11, 99);
  std::lock_guard<std::mutex> lock(mutex);
  return pick(engine);
}

}  // namespace

std::string UpdateNoticeAddress(const Deployment& deployment) {
  std::string address = deployment.updateNoticePage;
  for (int i = 0; i < 3; ++i) address += std::to_string(RandomPair());
  return address;
}

std::optional<UpdateNotice> ParseUpdateNotice(std::string_view page) {
  std::string piece = TextBetween(page, "==分类头==", "==分类尾==");
  std::vector<std::string> fields = SplitText(piece, "|");
  if (fields.size() < 2) return std::nullopt;
  return UpdateNotice{fields[0], fields[1]};
}

UpdateCheckOutcome CheckForUpdate(const Deployment& deployment, UpdateUi& ui) {
  std::optional<UpdateNotice> notice = ParseUpdateNotice(FetchPageText(UpdateNoticeAddress(deployment)));
  if (!notice) return UpdateCheckOutcome::NoNotice;
  {
    NoticeValues& values = Values();
    std::lock_guard<std::mutex> lock(values.mutex);
    values.publishedVersion = notice->version;
    values.downloadAddress = notice->downloadAddress;
  }
  if (notice->version == kProgramVersion) return UpdateCheckOutcome::SameVersion;
  ui.ShowNewVersion();
  return UpdateCheckOutcome::NewVersion;
}

std::string PublishedVersion() {
  NoticeValues& values = Values();
  std::lock_guard<std::mutex> lock(values.mutex);
  return values.publishedVersion;
}

std::string DownloadAddress() {
  NoticeValues& values = Values();
  std::lock_guard<std::mutex> lock(values.mutex);
  return values.downloadAddress;
}

bool IsSafeWebAddress(const std::string& address) {
  constexpr std::string_view kForbidden = " \"'`<>\\^{}|";
  for (char ch : address) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F || kForbidden.find(ch) != std::string_view::npos) return false;
  }
  // "https://www.example.com@evil.example/" names evil.example: an address with user-info is refused.
  const std::optional<WebAddress> parsed = ParseWebAddress(address);
  return parsed && parsed->Secure() && !parsed->hasUserInfo;
}

std::string SafeDownloadAddress() {
  std::string address = DownloadAddress();
  return IsSafeWebAddress(address) ? address : std::string();
}

}  // namespace torvane
