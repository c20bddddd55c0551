#pragma once

#include <string>
#include <string_view>

namespace velgor {

// Replaces the file at `path` with `text` in one step: the text goes into
// "<path>.tmp" beside it, which then takes the file's place, so a reader sees
// the old file or the new one, never a part. Returns 0, or the errno value of
// the step that failed (the temporary file is removed then).
[[nodiscard]] int replaceWithText(const std::string& path, std::string_view text);

}  // namespace velgor
