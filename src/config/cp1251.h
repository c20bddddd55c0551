#pragma once

#include <string>
#include <string_view>

namespace velgor {

// Every text inside the relay is Windows-1251 bytes; only the edges that show
// text to a person (widgets, the console) convert.
std::string cp1251ToUtf8(std::string_view bytes);
// Characters with no Windows-1251 form, and malformed UTF-8, become '?'.
std::string utf8ToCp1251(std::string_view utf8);

}  // namespace velgor
