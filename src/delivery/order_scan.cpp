#include "delivery/order_scan.h"

#include <cstdint>
#include <cstring>
#include <utility>
#include <random>

#include "web/http.h"
#include "base/text.h"

namespace torvane {
namespace {

constexpr std::string_view kBlockStart = "<tbody>";
constexpr std::string_view kBlockEnd = "</tbody>";
constexpr std::string_view kOrderNumberStart = "<span class=\"order-number\">订单编号：";
constexpr std::string_view kOrderNumberEnd = "</span>";
constexpr std::string_view kTitleStart = "<a target=\"_blank\" title=\"名称：";
constexpr std::string_view kTitleEnd = "件\"";
constexpr std::string_view kQuantitySeparator = " §数量：";
constexpr std::string_view kBuyerStart = "<span class=\"ww ww:token\"";
constexpr std::string_view kBuyerEnd = "</li>";
constexpr std::string_view kNickStart = "nick=";
constexpr std::string_view kNickEnd = "&";
constexpr std::string_view kMessageStart = "<label>买家留言：</label>";
constexpr std::string_view kMessageEnd = "</span>";
constexpr std::string_view kMessageInnerStart = "<span >";
constexpr std::string_view kMessageInnerEnd = "&nbsp;";
constexpr std::string_view kShipLinkStart = "class=\"btn\" href=\"";
constexpr std::string_view kShipLinkEnd = "\">发货</a>";

// The page with its character starts worked out once, so that every marker search is a plain
// byte search plus a look-up instead of a walk from the start of the block. Searches give the same
// results as FindText over the block: a match counts only where a character starts.
class AlignedPage {
 public:
  explicit AlignedPage(std::string_view text) : text_(text), starts_(text.size() + 1, 0) {
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
      // Runs of one-byte characters go eight at a time.
      while (i + 8 <= n) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        if ((word & 0x8080808080808080ULL) != 0) break;
        std::memset(&starts_[i], 1, 8);
        i += 8;
      }
      if (i >= n) break;
      starts_[i] = 1;
      i += CharLengthAt(text, i);
    }
    if (i <= n) starts_[i] = 1;
  }

  std::string_view Text() const { return text_; }

  // First character-aligned occurrence of part inside [from, limit); kNotFound when none.
  std::size_t Find(std::string_view part, std::size_t from, std::size_t limit) const {
    if (from >= limit) return kNotFound;
    if (part.empty()) return from;
    std::size_t at = from;
    while (at < limit && limit - at >= part.size()) {
      const std::size_t hit = text_.substr(0, limit).find(part, at);
      if (hit == std::string_view::npos) return kNotFound;
      if (starts_[hit] != 0) return hit;
      at = hit + 1;
    }
    return kNotFound;
  }

  // TextBetween over [from, limit).
  std::string_view Between(std::size_t from, std::size_t limit, std::string_view left, std::string_view right) const {
    const std::size_t l = Find(left, from, limit);
    if (l == kNotFound) return {};
    const std::size_t rest = l + left.size();
    const std::size_t r = Find(right, rest, limit);
    if (r == kNotFound) return {};
    return text_.substr(rest, r - rest);
  }

 private:
  std::string_view text_;
  std::vector<unsigned char> starts_;
};

// StripLineBreaks without a branch per byte.
std::string WithoutLineBreaks(std::string_view text) {
  std::string out(text.size(), '\0');
  std::size_t j = 0;
  for (const char c : text) {
    out[j] = c;
    j += (c != '\r' && c != '\n' && c != '\t') ? 1 : 0;
  }
  out.resize(j);
  return out;
}

// A field as the seller's texts hold it: cut out escaped, so decoded after the cut, then trimmed.
// Control characters go: they would reach the terminal, the history, the records and the SMS text.
std::string FieldText(std::string_view escaped) {
  return Trim(StripControlCharacters(DecodeCharacterReferences(Trim(escaped))));
}

// A field taken as written (order number, ship link), without control characters.
std::string PlainField(std::string_view text) { return Trim(StripControlCharacters(text)); }

PaidOrder ParseBlock(const AlignedPage& page, std::size_t from, std::size_t limit) {
  PaidOrder order;
  order.orderNumber = PlainField(page.Between(from, limit, kOrderNumberStart, kOrderNumberEnd));
  const std::string titleText = Trim(page.Between(from, limit, kTitleStart, kTitleEnd));
  const std::size_t sep = FindText(titleText, kQuantitySeparator);
  if (sep == kNotFound) {
    order.title = FieldText(titleText);
  } else {
    order.title = FieldText(std::string_view(titleText).substr(0, sep));
    std::string_view rest = std::string_view(titleText).substr(sep + kQuantitySeparator.size());
    // The second piece ends at a further separator, if the text holds one.
    const std::size_t next = FindText(rest, kQuantitySeparator);
    if (next != kNotFound) rest = rest.substr(0, next);
    order.quantity = FieldText(rest);
  }
  const std::string buyerPart = Trim(page.Between(from, limit, kBuyerStart, kBuyerEnd));
  order.buyer = FieldText(TextBetween(buyerPart, kNickStart, kNickEnd));
  const std::string messagePart = Trim(page.Between(from, limit, kMessageStart, kMessageEnd));
  order.buyerMessage = FieldText(TextBetween(messagePart, kMessageInnerStart, kMessageInnerEnd));
  order.shipLink = PlainField(page.Between(from, limit, kShipLinkStart, kShipLinkEnd));
  return order;
}

// The character of a code point as GBK; "" for a control character or one GBK cannot hold.
std::string GbkCharacter(std::uint32_t codePoint) {
  if (codePoint < 0x20 || codePoint == 0x7F || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
    return {};
  }
  if (codePoint < 0x80) return std::string(1, static_cast<char>(codePoint));
  std::u16string utf16;
  if (codePoint >= 0x10000) {
    const std::uint32_t v = codePoint - 0x10000;
    utf16 += static_cast<char16_t>(0xD800 + (v >> 10));
    utf16 += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
  } else {
    utf16 += static_cast<char16_t>(codePoint);
  }
  std::string gbk = FromUtf16(utf16, CodePage::Gbk);
  // The converter writes "?" for what it cannot hold.
  if (gbk.empty() || gbk.find('?') != std::string::npos) return {};
  return gbk;
}

// The character a reference names ("amp", "#38", "#x26"); "" when unknown or not in GBK.
std::string ReferencedCharacter(std::string_view name) {
  static constexpr std::pair<std::string_view, std::string_view> kNamed[] = {
      {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}, {"nbsp", " "}};
  for (const auto& [named, character] : kNamed) {
    if (name == named) return std::string(character);
  }
  if (name.size() < 2 || name[0] != '#') return {};
  const bool hex = name[1] == 'x' || name[1] == 'X';
  const std::string_view digits = name.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 8) return {};
  std::uint32_t value = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      return {};
    }
    value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
  }
  return GbkCharacter(value);
}

}  // namespace

std::string DecodeCharacterReferences(std::string_view text, std::size_t* lookedAhead) {
  // "&" (0x26) is never the second byte of a GBK character, and neither are "#" or ";".
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t amp = text.find('&', pos);
    if (amp == std::string_view::npos) break;
    out.append(text, pos, amp - pos);
    // The longest reference is "&#x10FFFF;" (or a name shorter than that): its ";" is looked for in
    // the next 10 bytes only, so that a field of "&" without ";" costs its length, not its square.
    const std::string_view window = text.substr(amp + 1, 10);
    if (lookedAhead != nullptr) *lookedAhead += window.size();
    const std::size_t semi = window.find(';') == std::string_view::npos ? std::string_view::npos
                                                                         : amp + 1 + window.find(';');
    if (semi != std::string_view::npos) {
      const std::string character = ReferencedCharacter(text.substr(amp + 1, semi - amp - 1));
      if (!character.empty()) {
        out += character;
        pos = semi + 1;
        continue;
      }
    }
    out.push_back('&');
    pos = amp + 1;
  }
  out.append(text.substr(std::min(pos, text.size())));
  return out;
}

bool IsLoginPage(std::string_view page, std::string_view finalUrl, const PageMarkers& markers) {
  return PathOfUrl(finalUrl).rfind(markers.loginPath, 0) == 0 || FindText(page, markers.loginField) != kNotFound;
}

namespace {

// The text inside the first <tag ...> ... </tag> of the page, tags matched in any case; "" when none.
std::string_view TagContent(std::string_view page, std::string_view tag) {
  const std::string open = "<" + std::string(tag);
  std::size_t at = FindTextIgnoreAsciiCase(page, open);
  while (at != kNotFound) {
    const std::size_t after = at + open.size();
    // "<title>" or "<title lang=...>", never "<titles>".
    if (after < page.size() && (page[after] == '>' || page[after] == ' ' || page[after] == '\t')) {
      const std::size_t contentStart = page.find('>', after);
      if (contentStart == std::string_view::npos) return {};
      const std::size_t close = FindTextIgnoreAsciiCase(page, "</" + std::string(tag), contentStart + 1);
      if (close == kNotFound) return {};
      return page.substr(contentStart + 1, close - contentStart - 1);
    }
    at = FindTextIgnoreAsciiCase(page, open, after);
  }
  return {};
}

}  // namespace

bool IsOrderListPage(std::string_view page, const PageMarkers& markers) {
  if (page.empty()) return false;
  return FindText(page, markers.listContainer) != kNotFound ||
         FindText(TagContent(page, "title"), markers.listTitle) != kNotFound ||
         FindText(TagContent(page, "thead"), markers.listTableHead) != kNotFound;
}

std::vector<PaidOrder> ParseOrderPage(std::string_view raw) {
  const std::string text = WithoutLineBreaks(raw);
  std::vector<PaidOrder> orders;
  if (text.empty()) return orders;
  const AlignedPage page(text);
  // Same cut as ExtractAllBetween: each piece runs from one "<tbody>" to the next and must hold a "</tbody>".
  std::size_t hit = page.Find(kBlockStart, 0, text.size());
  while (hit != kNotFound) {
    const std::size_t pieceStart = hit + kBlockStart.size();
    const std::size_t next = page.Find(kBlockStart, pieceStart, text.size());
    const std::size_t pieceEnd = next == kNotFound ? text.size() : next;
    const std::size_t end = page.Find(kBlockEnd, pieceStart, pieceEnd);
    if (end != kNotFound) orders.push_back(ParseBlock(page, pieceStart, end));
    hit = next;
  }
  return orders;
}

std::string OrderListAddress(const Deployment& deployment) {
  thread_local std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<int> number(11, 99);
  std::string address = deployment.logisticsHost +
                        "/user/order_list_new.htm?order_status_show=send&mytmenu=fh&utkn=k,m7wq2xrt5pnb8cv3ja4618273";
  for (int i = 0; i < 3; ++i) address += std::to_string(number(generator));
  return address;
}

OrderListResult ScanPaidOrders(const Deployment& deployment) {
  HttpRequest request;
  request.url = OrderListAddress(deployment);
  const HttpResult reply = WebRequest(request);
  if (!reply.ok) {
    OrderListResult result;
    result.error = reply.error.empty() ? std::string("无法连接") : reply.error;
    return result;
  }
  OrderListResult result = ReadOrderListPage(UpToFirstZero(reply.body), reply.status, reply.finalUrl, deployment.pages);
  if (!result.read && !result.loginExpired) result.address = reply.finalUrl;
  return result;
}

OrderListResult ReadOrderListPage(std::string_view page, int status, std::string_view finalUrl,
                                  const PageMarkers& markers) {
  OrderListResult result;
  if (IsLoginPage(page, finalUrl, markers)) {
    result.loginExpired = true;
    result.error = "登录已失效";
    return result;
  }
  if (status != 200) {
    result.error = "服务器返回 " + std::to_string(status);
    result.unknownPage = page;
    return result;
  }
  result.orders = ParseOrderPage(page);
  if (result.orders.empty() && !IsOrderListPage(page, markers)) {
    result.error = "页面不是订单列表";
    result.unknownPage = page;
    return result;
  }
  result.read = true;
  return result;
}

}  // namespace torvane
