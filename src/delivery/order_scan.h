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
// separator gives the whole title text as title and "" as quantity.
std::vector<PaidOrder> ParseOrderPage(std::string_view page);

// Address of the to-ship list: logistics host, fixed query and token prefix, then three random
// numbers 11..99.
std::string OrderListAddress(const Deployment& deployment);

// Fetches the to-ship list and parses it. A failed request or a page that is not the list gives no order.
std::vector<PaidOrder> ScanPaidOrders(const Deployment& deployment);

}  // namespace torvane
