#include "shell/win/win_text.h"

namespace velgor {
namespace {

constexpr UINT CP_WINDOWS_1251 = 1251;

}  // namespace

std::wstring widenCp1251(std::string_view bytes) {
    if (bytes.empty()) return {};
    const int length = static_cast<int>(bytes.size());
    const int wide = ::MultiByteToWideChar(CP_WINDOWS_1251, 0, bytes.data(), length, nullptr, 0);
    std::wstring text(static_cast<std::size_t>(wide), L'\0');
    ::MultiByteToWideChar(CP_WINDOWS_1251, 0, bytes.data(), length, text.data(), wide);
    return text;
}

std::string narrowToCp1251(std::wstring_view text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    // No "best fit" look-alikes: a character without a byte is '?'.
    const int narrow = ::WideCharToMultiByte(CP_WINDOWS_1251, WC_NO_BEST_FIT_CHARS, text.data(),
                                             length, nullptr, 0, "?", nullptr);
    std::string bytes(static_cast<std::size_t>(narrow), '\0');
    ::WideCharToMultiByte(CP_WINDOWS_1251, WC_NO_BEST_FIT_CHARS, text.data(), length,
                          bytes.data(), narrow, "?", nullptr);
    return bytes;
}

}  // namespace velgor
