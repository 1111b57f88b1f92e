#include "delivery/page_diagnostics.h"

#include <algorithm>
#include <ctime>
#include <system_error>

#include "base/files.h"
#include "base/system.h"
#include "base/text.h"
#include "web/cookie_store.h"

namespace torvane {
namespace {

constexpr std::string_view kHidden = "[已隐去]";
constexpr std::size_t kShortestSecret = 4;

// Blanks the value written after each "_tb_token_" (a hidden input's value='...' or value="...",
// or a query's =...), whoever's token it is.
std::string WithoutTokenFields(std::string text) {
  constexpr std::string_view kName = "_tb_token_";
  std::size_t at = text.find(kName);
  while (at != std::string::npos) {
    std::size_t from = at + kName.size();
    std::size_t valueStart = std::string::npos;
    std::size_t valueEnd = std::string::npos;
    const std::size_t value = text.find("value=", from);
    if (value != std::string::npos && value - from < 80 && value + 6 < text.size() &&
        (text[value + 6] == '\'' || text[value + 6] == '"')) {
      valueStart = value + 7;
      valueEnd = text.find(text[value + 6], valueStart);
    } else if (from < text.size() && text[from] == '=') {
      valueStart = from + 1;
      valueEnd = text.find_first_of("&\"' <>\r\n", valueStart);
      if (valueEnd == std::string::npos) valueEnd = text.size();
    }
    if (valueStart != std::string::npos && valueEnd != std::string::npos && valueEnd > valueStart) {
      text.replace(valueStart, valueEnd - valueStart, kHidden);
      from = valueStart + kHidden.size();
    }
    at = text.find(kName, from);
  }
  return text;
}

// "20261208-184500" of the local time now.
std::string StampNow() {
  std::tm local{};
  LocalTime(std::time(nullptr), &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

// The saved pages, oldest first (their names begin with the time they were saved).
std::vector<std::filesystem::path> SavedPages(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file(ec) && it->path().extension() == ".html") files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

std::filesystem::path DiagnosticsDirectory(const std::filesystem::path& dataDir) {
  return dataDir / std::filesystem::path(u8"诊断");
}

std::string WithoutSecrets(std::string_view page, const std::vector<std::string>& secrets) {
  std::vector<std::string> hidden;
  for (const std::string& s : secrets) {
    if (s.size() >= kShortestSecret) hidden.push_back(s);
  }
  for (const StoredCookie& cookie : AllCookies()) {
    if (cookie.value.size() >= kShortestSecret) hidden.push_back(cookie.value);
  }
  // Longer values first, so that one holding another is taken out whole.
  std::sort(hidden.begin(), hidden.end(), [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  std::string text(page);
  for (const std::string& s : hidden) text = ReplaceAll(text, s, kHidden);
  return WithoutTokenFields(std::move(text));
}

PageDiagnostics::PageDiagnostics(std::filesystem::path dataDir) : dataDir_(std::move(dataDir)) {}

std::string PageDiagnostics::Save(std::string_view what, std::string_view address, std::string_view page,
                                  const std::vector<std::string>& secrets) {
  const std::filesystem::path dir = DiagnosticsDirectory(dataDir_);
  std::vector<std::filesystem::path> saved = SavedPages(dir);
  if (!saved.empty()) {
    std::error_code ec;
    const auto written = std::filesystem::last_write_time(saved.back(), ec);
    if (!ec && std::filesystem::file_time_type::clock::now() - written < kQuietTime) return {};
  }
  std::string error;
  if (!CreatePrivateDirectory(dir, &error)) return " (页面未能保存: " + error + ")";
  // A comment line says where the page came from; the page follows as it arrived, less its secrets.
  std::string text = "<!-- " + WithoutSecrets(address, secrets) + " -->\r\n" + WithoutSecrets(page, secrets);
  std::filesystem::path file = dir / std::filesystem::path(StampNow() + "-" + std::string(what) + ".html");
  if (!WriteFileAtomic(file, text, &error, 0600)) return " (页面未能保存: " + error + ")";
  saved = SavedPages(dir);
  for (std::size_t i = 0; i + kKeptFiles < saved.size(); ++i) {
    std::error_code ec;
    std::filesystem::remove(saved[i], ec);
  }
  return " (页面已保存: " + PathText(file) + ")";
}

}  // namespace torvane
