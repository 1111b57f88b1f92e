// The to-ship order list page (ParseOrderPage) and the reference decoding of its fields.
//
// "Cut from the input" means, for the i-th order found: take the page with CR, LF and TAB removed,
// and its i-th block (the text after a character-aligned "<tbody>" up to the first "</tbody>" before
// the next "<tbody>"). Each field is the text between the first occurrence of its start marker in
// that block and the next end marker, trimmed; the escaped fields (title, quantity, buyer, message)
// are then decoded (DecodeCharacterReferences); control characters are dropped from every field and
// each is trimmed again. Order number and ship link are
// byte-for-byte pieces of the block.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "delivery/order_scan.h"
#include "fuzz_check.h"

using namespace torvane;
using torvane::fuzz::CharacterStarts;

namespace {

constexpr std::string_view kBlockStart = "<tbody>";
constexpr std::string_view kBlockEnd = "</tbody>";
constexpr std::string_view kSeparator = " §数量：";

struct Block {
  std::size_t begin = 0;  // first byte after "<tbody>"
  std::size_t end = 0;    // where "</tbody>" starts
};

// The order blocks of a page without line breaks, found with the plain text helpers.
std::vector<Block> ReferenceBlocks(std::string_view text) {
  std::vector<Block> blocks;
  std::size_t hit = FindText(text, kBlockStart);
  while (hit != kNotFound) {
    const std::size_t begin = hit + kBlockStart.size();
    const std::size_t next = FindText(text, kBlockStart, begin);
    const std::string_view piece = text.substr(begin, (next == kNotFound ? text.size() : next) - begin);
    const std::size_t end = FindText(piece, kBlockEnd);
    if (end != kNotFound) blocks.push_back({begin, begin + end});
    hit = next;
  }
  return blocks;
}

// Control characters never reach the seller's texts.
std::string Field(std::string_view escaped) {
  return Trim(StripControlCharacters(DecodeCharacterReferences(Trim(escaped))));
}
std::string Plain(std::string_view text) { return Trim(StripControlCharacters(text)); }

PaidOrder ReferenceOrder(std::string_view block) {
  PaidOrder o;
  o.orderNumber = Plain(TextBetween(block, "<span class=\"order-number\">订单编号：", "</span>"));
  const std::string titleText = Trim(TextBetween(block, "<a target=\"_blank\" title=\"名称：", "件\""));
  const std::vector<std::string> pieces = SplitText(titleText, kSeparator);
  if (FindText(titleText, kSeparator) == kNotFound) {
    o.title = Field(titleText);
  } else {
    o.title = pieces.empty() ? std::string() : Field(pieces[0]);
    o.quantity = pieces.size() >= 2 ? Field(pieces[1]) : std::string();
  }
  o.buyer = Field(TextBetween(Trim(TextBetween(block, "<span class=\"ww ww:token\"", "</li>")), "nick=", "&"));
  o.buyerMessage = Field(TextBetween(Trim(TextBetween(block, "<label>买家留言：</label>", "</span>")), "<span >", "&nbsp;"));
  o.shipLink = Plain(TextBetween(block, "class=\"btn\" href=\"", "\">发货</a>"));
  return o;
}

bool Same(const PaidOrder& a, const PaidOrder& b) {
  return a.title == b.title && a.quantity == b.quantity && a.orderNumber == b.orderNumber && a.buyer == b.buyer &&
         a.buyerMessage == b.buyerMessage && a.shipLink == b.shipLink;
}

bool Same(const std::vector<PaidOrder>& a, const std::vector<PaidOrder>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!Same(a[i], b[i])) return false;
  }
  return true;
}

// A text as a page writes it: the five characters HTML escapes.
std::string HtmlEscaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

void CheckFieldShape(const std::string& field) {
  FUZZ_CHECK(field.find_first_of("\r\n\t") == std::string::npos);
  FUZZ_CHECK(Trim(field) == field);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::KeepConvertersLoaded();
  const std::string_view page(reinterpret_cast<const char*>(data), size);
  const std::vector<PaidOrder> orders = ParseOrderPage(page);
  const std::string text = StripLineBreaks(page);

  // Line breaks and tabs are nothing to the scan.
  FUZZ_CHECK(Same(ParseOrderPage(text), orders));

  // One order per block, each field cut from its own block.
  const std::vector<Block> blocks = ReferenceBlocks(text);
  FUZZ_CHECK(blocks.size() == orders.size());
  FUZZ_CHECK(ExtractAllBetween(text, kBlockStart, kBlockEnd).size() == orders.size());
  for (std::size_t i = 0; i < orders.size(); ++i) {
    const std::string_view block = std::string_view(text).substr(blocks[i].begin, blocks[i].end - blocks[i].begin);
    const PaidOrder& o = orders[i];
    FUZZ_CHECK(Same(o, ReferenceOrder(block)));
    const std::string visible = StripControlCharacters(block);
    FUZZ_CHECK(ContainsText(visible, o.orderNumber) || o.orderNumber.empty());
    FUZZ_CHECK(ContainsText(visible, o.shipLink) || o.shipLink.empty());
    FUZZ_CHECK(!HasControlCharacter(o.shipLink) && !HasControlCharacter(o.buyer) && !HasControlCharacter(o.buyerMessage));
    for (const std::string* f : {&o.title, &o.quantity, &o.orderNumber, &o.buyer, &o.buyerMessage, &o.shipLink}) {
      CheckFieldShape(*f);
    }
    // The quantity ends at a second separator (one a dropped control character put together aside).
    FUZZ_CHECK(FindText(o.quantity, kSeparator) == kNotFound || visible != block);
  }

  // Unrelated bytes after the last order change nothing: cut the page right after the last block's
  // "</tbody>" and append anything that holds no "<tbody>" once line breaks are gone.
  const std::size_t cut = blocks.empty() ? 0 : blocks.back().end + kBlockEnd.size();
  const std::string head = text.substr(0, cut);
  FUZZ_CHECK(Same(ParseOrderPage(head), orders));
  FUZZ_CHECK(Same(ParseOrderPage(head + fuzz::WithoutBytes(text, kBlockStart)), orders));

  // Whatever follows a page, its orders come first and unchanged, as long as its last character is whole.
  if (fuzz::EndsOnWholeCharacter(text)) {
    const std::vector<PaidOrder> doubled = ParseOrderPage(std::string(page) + std::string(page));
    FUZZ_CHECK(doubled.size() >= orders.size());
    for (std::size_t i = 0; i < orders.size(); ++i) FUZZ_CHECK(Same(doubled[i], orders[i]));
  }

  // An unreadable list never reads as an empty one: a page is read only when it shows orders or one of
  // the list's signs (its container, its title, its table head), and the login page never counts as read.
  const std::string_view body = UpToFirstZero(page);
  const OrderListResult list = ReadOrderListPage(body, 200, "http://127.0.0.1:8080/user/order_list_new.htm");
  const bool loginPage = FindText(body, "name=\"TPL_password\"") != kNotFound;
  FUZZ_CHECK(list.loginExpired == loginPage);
  FUZZ_CHECK(list.read == list.error.empty());
  if (list.read) {
    FUZZ_CHECK(Same(list.orders, ParseOrderPage(body)));
    const PageMarkers signs;
    FUZZ_CHECK(!list.orders.empty() || FindText(body, signs.listContainer) != kNotFound ||
               FindText(body, signs.listTitle) != kNotFound || FindText(body, signs.listTableHead) != kNotFound);
  } else {
    FUZZ_CHECK(list.orders.empty());
    FUZZ_CHECK(loginPage || (ParseOrderPage(body).empty() && FindText(body, "id=\"J_OrderList\"") == kNotFound));
  }
  const OrderListResult refused = ReadOrderListPage(body, 500, "http://127.0.0.1:8080/user/order_list_new.htm");
  FUZZ_CHECK(!refused.read && !refused.error.empty());
  FUZZ_CHECK(ReadOrderListPage(body, 200, "http://127.0.0.1:8080/member/login.jhtml?x=1").loginExpired);

  // The decoding undoes what a page's escaping does, for any text that holds no control byte.
  if (!HasControlCharacter(page) && page.size() <= 256) {
    FUZZ_CHECK(DecodeCharacterReferences(HtmlEscaped(page)) == page);
  }
  // A decoded text holds a control byte only when the escaped one did.
  if (!HasControlCharacter(page)) FUZZ_CHECK(!HasControlCharacter(DecodeCharacterReferences(page)));
  return 0;
}
