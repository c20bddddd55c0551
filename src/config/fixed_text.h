#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace velgor {

// A NUL-terminated byte text in a fixed field of N bytes, as every text of the
// relay is kept (host names, status texts, the station name). A text longer than
// N - 1 bytes is cut so that it never runs past its field. Bytes are stored as
// they come (Windows-1251 text); nothing is converted.
template <std::size_t N>
class FixedText {
  public:
    static constexpr std::size_t capacity = N - 1;

    FixedText() { bytes_.fill('\0'); }
    FixedText(std::string_view text) : FixedText() { assign(text); }  // NOLINT: implicit by design

    void assign(std::string_view text) {
        const std::size_t n = text.size() < capacity ? text.size() : capacity;
        if (n > 0) std::memmove(bytes_.data(), text.data(), n);
        bytes_[n] = '\0';
    }
    FixedText& operator=(std::string_view text) {
        assign(text);
        return *this;
    }

    const char* c_str() const { return bytes_.data(); }
    std::string_view view() const { return std::string_view(bytes_.data()); }
    bool empty() const { return bytes_[0] == '\0'; }

    // Raw access for bounded reads straight into the field.
    char* data() { return bytes_.data(); }
    static constexpr std::size_t size() { return N; }

    friend bool operator==(const FixedText& a, std::string_view b) { return a.view() == b; }

  private:
    std::array<char, N> bytes_;
};

using Text256 = FixedText<256>;

}  // namespace velgor
