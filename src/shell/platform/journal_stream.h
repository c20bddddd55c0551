#pragma once

namespace velgor {

// Whether `fd` is the stream systemd connected to its journal: JOURNAL_STREAM
// ("<device>:<inode>", decimal) names that stream, and it is still the one open
// on `fd` (a shell started from the service may have redirected it since).
// False when journalStream is null or not of that form.
[[nodiscard]] bool isJournalStream(int fd, const char* journalStream);

}  // namespace velgor
