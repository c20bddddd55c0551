#pragma once

#include <optional>
#include <string>

#include "feed/zlib_binding.h"

namespace velgor {

// Exit codes of the program.
inline constexpr int EXIT_NORMAL = 0;
// The compression library could not be attached (after its message).
inline constexpr int EXIT_LIBRARY_MISSING = 1;
// The library has no `compress` / no `uncompress` (no message).
inline constexpr int EXIT_COMPRESS_MISSING = 417;
inline constexpr int EXIT_UNCOMPRESS_MISSING = 418;

// A message for the operator: text and caption, Windows-1251 bytes.
struct OperatorMessage {
    std::string text;
    std::string caption;
};

// Why start-up must end after attaching the compression library.
struct StartupFailure {
    int exitCode = EXIT_NORMAL;
    std::optional<OperatorMessage> message;
};

// Nothing when the library is attached with both entry points; otherwise the
// exit code and, for a library that could not be attached at all, the message
// "Не удалось подключить <file>\n" with the caption "Ошибка".
[[nodiscard]] std::optional<StartupFailure> compressionFailure(const ZlibBinding& binding);

}  // namespace velgor
