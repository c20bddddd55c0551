#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace velgor {

// The widget boundary of the relay's Windows-1251 texts: widgets show them
// decoded; typed text goes back as Windows-1251 bytes ('?' for a character
// that has no Windows-1251 form).
QString fromCp1251(std::string_view bytes);
std::string toCp1251(const QString& text);

}  // namespace velgor
