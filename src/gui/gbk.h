// Texts at the widget boundary: the program's texts are GBK byte strings, Qt's are UTF-16.
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>

namespace torvane {

// The GBK text as a QString; invalid bytes become U+FFFD.
QString FromGbk(std::string_view gbk);

// The QString as GBK; characters GBK cannot hold become "?".
std::string ToGbk(const QString& text);

// The QString as GBK, or nullopt when a character has no GBK form: never a substitute character.
std::optional<std::string> ToGbkExact(const QString& text);

// True when every character of the text has a GBK form (ToGbk then loses nothing).
bool GbkCanHold(const QString& text);

}  // namespace torvane
