#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace velgor {

// The program keeps every text as Windows-1251 bytes; the windows get UTF-16
// through the W calls, so that they read right whatever the system's ANSI
// code page is.
std::wstring widenCp1251(std::string_view bytes);
// Characters that Windows-1251 lacks become '?'.
std::string narrowToCp1251(std::wstring_view text);

}  // namespace velgor
