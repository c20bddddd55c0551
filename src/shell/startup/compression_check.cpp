#include "shell/startup/compression_check.h"

namespace velgor {
namespace {

// "Не удалось подключить "
constexpr char COULD_NOT_ATTACH[] =
    "\xCD\xE5 \xF3\xE4\xE0\xEB\xEE\xF1\xFC \xEF\xEE\xE4\xEA\xEB\xFE\xF7\xE8\xF2\xFC ";
// "Ошибка"
constexpr char ERROR_CAPTION[] = "\xCE\xF8\xE8\xE1\xEA\xE0";

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
