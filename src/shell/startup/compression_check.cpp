#include "shell/startup/compression_check.h"

#include "config/cp1251_literal.h"

namespace velgor {
namespace {

constexpr auto& COULD_NOT_ATTACH = cp1251<u8"Не удалось подключить ">;
constexpr auto& ERROR_CAPTION = cp1251<u8"Ошибка">;

}  // namespace

std::optional<StartupFailure> compressionFailure(const ZlibBinding& binding) {
    switch (binding.status()) {
        case ZlibBindStatus::Ok:
            return std::nullopt;
        case ZlibBindStatus::LibraryMissing:
            // Nothing else has been done at this point: no file touched, no window.
            return StartupFailure{
                EXIT_LIBRARY_MISSING,
                OperatorMessage{std::string(COULD_NOT_ATTACH) + binding.fileName() + "\n",
                                ERROR_CAPTION}};
        case ZlibBindStatus::CompressMissing:
            return StartupFailure{EXIT_COMPRESS_MISSING, std::nullopt};
        case ZlibBindStatus::UncompressMissing:
            return StartupFailure{EXIT_UNCOMPRESS_MISSING, std::nullopt};
    }
    return StartupFailure{EXIT_LIBRARY_MISSING, std::nullopt};
}

}  // namespace velgor
