// What the simulated pages are written with: escaping of buyer-supplied texts (HTML text and
// attributes, link query values), the common page frame, and the JSON answers of the admin interface.
#pragma once

#include <string>
#include <string_view>

#include "json_fields.h"
#include "sim.h"

namespace marketsim {

// Escapes the characters that would end an attribute or start markup, as a careful marketplace writes
// every text a buyer supplied (titles, buyer ids, messages). GBK trail bytes are never below 0x40, so
// byte-wise replacement cannot split a character.
std::string Html(std::string_view text);

// A value as it goes into a link's query: every byte but ASCII letters, digits, "-", "_", "." and the
// bytes of two-byte GBK characters written as %XX, so that no value can end the link, its attribute
// or add a parameter. A buyer id of letters, digits and Chinese characters reads as it is.
std::string LinkValue(std::string_view text);

// Local time as "YYYY-MM-DD HH:MM:SS".
std::string NowText();

// The value of key in a raw query ("a=1&b=2"), decoded; "" when missing.
std::string QueryValue(std::string_view query, std::string_view key);

SimResponse Page(std::string body, int status = 200);
SimResponse JsonAnswer(const Json& j, int status = 200);
SimResponse JsonError(std::string_view message, int status = 400);
SimResponse JsonOk();

// The page's head up to "<body>", with the title as given.
std::string PageHead(std::string_view title);
inline constexpr std::string_view kPageTail = "</body>\r\n</html>\r\n";

// A page that says what went wrong, with a link back to the login.
std::string NoticePage(std::string_view title, std::string_view message, const std::string& base);

// Everything that identifies a recorded request body: its text and its exact bytes.
void SetBody(Json& record, std::string_view body);

}  // namespace marketsim
