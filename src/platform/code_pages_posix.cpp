#include <iconv.h>
#include <opencc.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "base/code_pages.h"

namespace torvane {
namespace {

const char* IconvName(CodePage page) {
  switch (page) {
    case CodePage::Utf8:
      return "UTF-8";
    case CodePage::Gbk:
      return "GBK";
    case CodePage::Big5:
      return "BIG5";
  }
  return "UTF-8";
}

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

std::string ConvertWithOpenCc(const std::string& utf8) {
  static std::mutex mutex;
  static opencc_t handle = opencc_open(OPENCC_DEFAULT_CONFIG_TRAD_TO_SIMP);
  if (handle == reinterpret_cast<opencc_t>(-1)) return utf8;
  std::lock_guard<std::mutex> lock(mutex);
  char* converted = opencc_convert_utf8(handle, utf8.data(), utf8.size());
  if (converted == nullptr) return utf8;
  std::string result(converted);
  opencc_convert_utf8_free(converted);
  return result;
}

}  // namespace

std::u16string DecodeCodePage(std::string_view text, CodePage from) {
  std::u16string out;
  Iconv cv("UTF-16LE", IconvName(from));
  if (!cv.ok() || text.empty()) return out;
  out.reserve(text.size());
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  char buffer[4096];
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof(buffer);
    std::size_t r = iconv(cv.get(), &in, &inLeft, &outPtr, &outLeft);
    std::size_t produced = sizeof(buffer) - outLeft;
    for (std::size_t i = 0; i + 1 < produced; i += 2) {
      out.push_back(static_cast<char16_t>(static_cast<unsigned char>(buffer[i]) |
                                          (static_cast<unsigned char>(buffer[i + 1]) << 8)));
    }
    if (r == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL: one replacement character for the bad byte, then go on.
      out.push_back(u'\uFFFD');
      ++in;
      --inLeft;
      iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

std::string EncodeCodePage(std::u16string_view text, CodePage to, bool stopAtUnmappable, std::size_t* stoppedAt) {
  if (stoppedAt) *stoppedAt = text.size();
  std::string out;
  Iconv cv(IconvName(to), "UTF-16LE");
  if (!cv.ok() || text.empty()) return out;
  std::string raw;
  raw.reserve(text.size() * 2);
  for (char16_t c : text) {
    raw.push_back(static_cast<char>(c & 0xFF));
    raw.push_back(static_cast<char>(c >> 8));
  }
  out.reserve(text.size() * 2);
  char* in = raw.data();
  std::size_t inLeft = raw.size();
  char buffer[4096];
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof(buffer);
    std::size_t r = iconv(cv.get(), &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, sizeof(buffer) - outLeft);
    if (r == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      if (stopAtUnmappable) {
        if (stoppedAt) *stoppedAt = static_cast<std::size_t>(in - raw.data()) / 2;
        break;
      }
      // Skip one UTF-16 unit, or a whole surrogate pair.
      std::size_t skip = 2;
      if (inLeft >= 4) {
        char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(in[0]) | (static_cast<unsigned char>(in[1]) << 8));
        char16_t next = static_cast<char16_t>(static_cast<unsigned char>(in[2]) | (static_cast<unsigned char>(in[3]) << 8));
        if (unit >= 0xD800 && unit <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) skip = 4;
      }
      skip = std::min(skip, inLeft);
      in += skip;
      inLeft -= skip;
      out.push_back('?');
      iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

std::string TraditionalToSimplifiedUtf8(std::string_view utf8) {
  // OpenCC works on zero-terminated text; a zero byte would end it early.
  std::string simplified;
  std::size_t pos = 0;
  while (pos <= utf8.size()) {
    std::size_t z = utf8.find('\0', pos);
    std::size_t end = z == std::string_view::npos ? utf8.size() : z;
    simplified += ConvertWithOpenCc(std::string(utf8.substr(pos, end - pos)));
    if (z == std::string_view::npos) break;
    simplified.push_back('\0');
    pos = z + 1;
  }
  return simplified;
}

}  // namespace torvane
