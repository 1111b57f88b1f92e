// The code-page conversions the text helpers are built on. They are the operating system's
// business, so the platform layer provides them: iconv and OpenCC on Linux, the Win32
// code-page functions on Windows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/text.h"

namespace torvane {

// The text in the code page as UTF-16; a byte that starts no valid character becomes U+FFFD and
// the conversion goes on after it.
std::u16string DecodeCodePage(std::string_view text, CodePage from);

// UTF-16 text in the code page. A character the page cannot hold becomes "?"; with stopAtUnmappable
// it ends the text instead and *stoppedAt (when given) is the index of its first UTF-16 unit
// (text.size() when every character was held).
std::string EncodeCodePage(std::u16string_view text, CodePage to, bool stopAtUnmappable = false,
                           std::size_t* stoppedAt = nullptr);

// A UTF-8 text with traditional Chinese characters mapped to simplified ones; the text as it is when
// no mapping is available. Zero bytes are kept.
std::string TraditionalToSimplifiedUtf8(std::string_view utf8);

}  // namespace torvane
