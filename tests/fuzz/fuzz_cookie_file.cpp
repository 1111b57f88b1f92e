// cookies.txt as LoadCookies reads it (a file the seller or another program may have edited or
// damaged). A file that loads gives well-formed cookies that survive a save and a load unchanged; one
// that does not load leaves the store as it was and is never replaced by a save.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/files.h"
#include "fuzz_check.h"
#include "web/cookie_store.h"

using namespace torvane;

namespace {

const std::filesystem::path& ScratchDir() {
  static const std::filesystem::path dir = [] {
    std::string base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path().string();
    std::string pattern = base + "/torvane-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchDir(), ignored);
    });
    return std::filesystem::path(pattern);
  }();
  return dir;
}

bool SameCookie(const StoredCookie& a, const StoredCookie& b) {
  return a.domain == b.domain && a.hostOnly == b.hostOnly && a.path == b.path && a.name == b.name &&
         a.value == b.value && a.secure == b.secure && a.httpOnly == b.httpOnly && a.expiry == b.expiry;
}

bool SameCookies(const std::vector<StoredCookie>& a, const std::vector<StoredCookie>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!SameCookie(a[i], b[i])) return false;
  }
  return true;
}

// Cookies that could expire while the checks run are left out of the comparisons.
std::vector<StoredCookie> Lasting(const std::vector<StoredCookie>& all) {
  const std::int64_t soon = static_cast<std::int64_t>(std::time(nullptr)) + 60;
  std::vector<StoredCookie> kept;
  for (const StoredCookie& c : all) {
    if (c.expiry == 0 || c.expiry > soon) kept.push_back(c);
  }
  return kept;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::filesystem::path file = CookieFilePath(ScratchDir());

  // The store holds a login before the file is read.
  ClearCookies();
  ImportCookie(".taobao.com", "cookie2", "session-before");
  const std::vector<StoredCookie> before = AllCookies();

  FUZZ_CHECK(WriteFileAtomic(file, bytes));
  std::string error;
  if (!LoadCookies(ScratchDir(), &error)) {
    FUZZ_CHECK(!error.empty());
    FUZZ_CHECK(SameCookies(AllCookies(), before));
    // The file is kept as it is.
    FUZZ_CHECK(!SaveCookies(ScratchDir(), &error));
    FUZZ_CHECK(ReadWholeFile(file) == std::string(bytes));
    return 0;
  }

  const std::vector<StoredCookie> loaded = AllCookies();
  for (const StoredCookie& c : loaded) {
    FUZZ_CHECK(fuzz::NoControlBytes(c.name) && fuzz::NoControlBytes(c.value));
    FUZZ_CHECK(!c.domain.empty() && c.domain.front() != '.');
    FUZZ_CHECK(!c.path.empty());
    FUZZ_CHECK(c.expiry >= 0);
    // Every field comes from the file.
    FUZZ_CHECK(bytes.find(c.name) != std::string_view::npos && bytes.find(c.value) != std::string_view::npos);
    FUZZ_CHECK(c.path == "/" || bytes.find(c.path) != std::string_view::npos);
  }
  // What was read is written and read again unchanged.
  FUZZ_CHECK(SaveCookies(ScratchDir(), &error));
  ClearCookies();
  FUZZ_CHECK(LoadCookies(ScratchDir(), &error));
  FUZZ_CHECK(SameCookies(Lasting(AllCookies()), Lasting(loaded)));
  return 0;
}
