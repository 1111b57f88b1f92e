// Reading the seller's list of paid, not yet shipped orders.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/deployment.h"

namespace torvane {

// One order block of the to-ship list; every field is GBK text and may be empty.
struct PaidOrder {
  std::string title;         // item title as shown in the order
  std::string quantity;      // ordered quantity, as text
  std::string orderNumber;   // the marketplace's order number
  std::string buyer;         // buyer's chat id, verbatim from the page (not URL-decoded)
  std::string buyerMessage;  // the message the buyer left with the order
  std::string shipLink;      // address of the order's ship page
};

// The orders of one to-ship list page, in page order. Line breaks and tabs are removed first;
// each "<tbody>" ... "</tbody>" block is one order. A block whose title text lacks the quantity
// separator gives the whole title text as title and "" as quantity. Title, quantity, buyer and
// message are written HTML-escaped on the page and come back decoded (DecodeCharacterReferences).
// No field keeps a control character (StripControlCharacters).
std::vector<PaidOrder> ParseOrderPage(std::string_view page);

// The GBK text with the character references a page writes replaced by their characters: the named
// &amp; &lt; &gt; &quot; &apos; and &nbsp; (an ASCII space: GBK has no no-break space), and the
// numeric &#NNN; and &#xHHH;. A reference GBK cannot hold, one to a control character (it would
// bring back the line breaks the page lost), an unknown name or one without its ";" stays as written.
// The work is linear in the text: each "&" looks at most 10 bytes ahead for its ";" (lookedAhead, when
// given, is increased by the bytes looked at).
std::string DecodeCharacterReferences(std::string_view text, std::size_t* lookedAhead = nullptr);

// What reading the to-ship list gave: the orders when the page was read, else why not.
struct OrderListResult {
  bool read = false;          // the page was the order list (its orders may be none)
  bool loginExpired = false;  // the marketplace answered with its login page
  std::string error;          // why the list could not be read (GBK), empty when read
  std::vector<PaidOrder> orders;
  // An answer that was neither the list nor the login page: its body, and the address it came from.
  std::string unknownPage;
  std::string address;
};

// Whether a page is the marketplace's login form (where an expired session lands): its final address's path
// starts with the login path, or it holds the login form's marker.
bool IsLoginPage(std::string_view page, std::string_view finalUrl, const PageMarkers& markers = {});

// Whether a page without an order block is the to-ship list with no order: it holds the list's container,
// or its <title> holds the list's title, or its <thead> holds the list's table head (tags in any case).
bool IsOrderListPage(std::string_view page, const PageMarkers& markers = {});

// Address of the to-ship list: logistics host, fixed query and token prefix, then three random
// numbers 11..99.
std::string OrderListAddress(const Deployment& deployment);

// What a fetched to-ship list page (body up to its first zero byte, HTTP status, final address) holds:
// its orders when it is the list; the login page, another status than 200, or a page that holds no
// order block and is not the list (IsOrderListPage) give read == false and the reason.
OrderListResult ReadOrderListPage(std::string_view page, int status, std::string_view finalUrl,
                                  const PageMarkers& markers = {});

// Fetches the to-ship list and parses it with the deployment's page markers. A failed request, an HTTP
// status other than 200, the login page or a page that is neither an order block nor the list give
// read == false and the reason: an unreadable list never reads as an empty one.
OrderListResult ScanPaidOrders(const Deployment& deployment);

}  // namespace torvane
