// The order blacklist 临时黑名单.log: the numbers of every handled order, concatenated with no
// separator (other installations read the file, so it keeps that form). Nothing ever removes a number.
//
// Concatenated numbers cannot be told apart: 123 occurs inside 5551234. So every number appended
// here is also recorded whole in a side record, 已处理订单.log, one line per number: the byte length
// the blacklist had before the number was appended, one space, the number, CR LF. A recorded
// number whose bytes stand at that place in the blacklist accounts for them; only the bytes no
// record accounts for (what an older installation wrote, or another program appended since) are
// searched by substring, each such stretch on its own. Without a side record the whole file is such
// a stretch, as before. The side record is written before the blacklist, so a stop between the two
// leaves the number recorded whole, its place the blacklist's end; the next append (or
// CompleteBlacklist) puts it into the blacklist too. A blacklist replaced by another file simply
// turns unaccounted.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace torvane {

// "临时黑名单.log" in the data directory.
std::filesystem::path BlacklistPath(const std::filesystem::path& dataDir);

// "已处理订单.log" in the data directory: the numbers appended by BlacklistAppend, whole.
std::filesystem::path HandledOrdersPath(const std::filesystem::path& dataDir);

// True when the order number was recorded whole, or occurs (character-aligned, case-sensitive)
// inside a stretch of the blacklist that no whole record accounts for, also straddling two numbers
// there. An empty number occurs in any non-empty blacklist. Missing files hold nothing. A file that
// cannot be read answers true and sets error: an order must not be delivered again because its
// record could not be checked.
bool BlacklistContains(const std::filesystem::path& dataDir, std::string_view orderNumber,
                       std::string* error = nullptr);

// Completes an append a stop interrupted (see CompleteBlacklist), records the number whole in the
// side record, then appends its bytes to the blacklist (each file created when missing and
// rewritten atomically). False with error when a write failed; a file that exists but cannot be
// read is never replaced. A number holding CR or LF is only appended to the blacklist (where the
// substring search still finds it). afterSideRecord, when given, runs between the two writes
// (crash tests; if it throws, the blacklist is not written).
bool BlacklistAppend(const std::filesystem::path& dataDir, std::string_view orderNumber, std::string* error = nullptr,
                     const std::function<void()>& afterSideRecord = {});

// Appends to the blacklist the last recorded number when a stop came between its two writes (its
// place is the blacklist's end). True when there was nothing to do or it was done; false with error
// when a file could not be read or written.
bool CompleteBlacklist(const std::filesystem::path& dataDir, std::string* error = nullptr);

}  // namespace torvane
