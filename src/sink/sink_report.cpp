#include "sink/sink_report.h"

#include <charconv>
#include <cinttypes>

#include "config/cp1251.h"

namespace velgor::sink {
namespace {

constexpr const char* HANDSHAKE_LABELS[HANDSHAKE_LINES] = {"name", "latitude", "longitude", "mode"};

bool isNumber(const std::string& text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && stop == end;
}

// A line without its CR LF, for showing.
std::string_view lineText(Bytes bytes) {
    std::size_t length = bytes.size();
    while (length > 0 && (bytes[length - 1] == '\n' || bytes[length - 1] == '\r')) --length;
    return {reinterpret_cast<const char*>(bytes.data()), length};
}

}  // namespace

SinkReport::SinkReport(std::FILE* console, std::FILE* dataFile, bool countOnly)
    : console_(console), dataFile_(dataFile), countOnly_(countOnly) {}

void SinkReport::listening(const std::string& endpoint) {
    std::fprintf(console_, "listening on %s\n", endpoint.c_str());
    std::fflush(console_);
}

void SinkReport::connectionOpened(std::uint64_t number, const std::string& peer) {
    std::fprintf(console_, "connection %" PRIu64 " from %s\n", number, peer.c_str());
    std::fflush(console_);
}

void SinkReport::connectionClosed(std::uint64_t number, const FeedStream& stream) {
    showPendingRaw();
    std::fprintf(console_,
                 "connection %" PRIu64 " closed: %" PRIu64 " lines, %" PRIu64 " frames, %" PRIu64
                 " bad frames, %" PRIu64 " stray bytes, %" PRIu64 " raw bytes\n",
                 number, stream.lines(), stream.frames(), stream.badFrames(), stream.strayBytes(),
                 stream.rawBytes());
    if (!stream.handshakeComplete()) {
        std::fprintf(console_, "  handshake incomplete: %d of %d lines\n",
                     stream.handshakeLinesSeen(), HANDSHAKE_LINES);
    }
    if (stream.badFrames() > 0) {
        std::fprintf(console_, "  last bad frame: %s\n", stream.lastFrameError().c_str());
    }
    std::fflush(console_);
    totals_.lines += stream.lines();
    totals_.frames += stream.frames();
    totals_.badFrames += stream.badFrames();
    totals_.strayBytes += stream.strayBytes();
    totals_.rawBytes += stream.rawBytes();
    ++totals_.connections;
}

void SinkReport::commandSent(std::string_view command, bool sent) {
    showPendingRaw();
    while (!command.empty() && (command.back() == '\n' || command.back() == '\r')) {
        command.remove_suffix(1);
    }
    std::fprintf(console_, "%s: %.*s\n", sent ? "sent" : "could not send",
                 static_cast<int>(command.size()), command.data());
    std::fflush(console_);
}

void SinkReport::note(std::string_view text) {
    showPendingRaw();
    std::fprintf(console_, "%.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(console_);
}

void SinkReport::received() {
    showPendingRaw();
    std::fflush(console_);
}

void SinkReport::summary() {
    showPendingRaw();
    std::fprintf(console_,
                 "summary: %" PRIu64 " connections, %" PRIu64 " lines, %" PRIu64 " frames, %" PRIu64
                 " bad frames, %" PRIu64 " stray bytes, %" PRIu64 " raw bytes\n",
                 totals_.connections, totals_.lines, totals_.frames, totals_.badFrames,
                 totals_.strayBytes, totals_.rawBytes);
    std::fflush(console_);
    if (dataFile_ != nullptr && !dataFileFailed_ && std::fflush(dataFile_) != 0) {
        dataFileFailed_ = true;
    }
}

void SinkReport::handshake(const Handshake& received) {
    for (int i = 0; i < HANDSHAKE_LINES; ++i) {
        const std::string field = received.field(i);
        std::string remark;
        const std::string& text = received.lines[static_cast<std::size_t>(i)];
        if (text.empty() || text.front() != '#') remark += "  (no '#')";
        if ((i == 1 || i == 2) && !isNumber(field)) remark += "  (not a number)";
        if (i == 3) {
            remark += received.compressed() ? "  (compressed frames)" : "  (plain lines)";
            if (!received.knownMode()) remark += "  (unknown mode)";
        }
        std::fprintf(console_, "%s: %s%s\n", HANDSHAKE_LABELS[i], cp1251ToUtf8(field).c_str(),
                     remark.c_str());
    }
    std::fflush(console_);
}

void SinkReport::line(Bytes bytes) {
    writeData(bytes);
    if (countOnly_) return;
    showPendingRaw();
    const std::string_view text = lineText(bytes);
    std::fwrite(text.data(), 1, text.size(), console_);
    std::fputc('\n', console_);
}

void SinkReport::rawBytes(Bytes bytes) {
    writeData(bytes);
    pendingRaw_ += bytes.size();
}

void SinkReport::showPendingRaw() {
    if (pendingRaw_ == 0) return;
    if (!countOnly_) std::fprintf(console_, "[raw data: %" PRIu64 " bytes]\n", pendingRaw_);
    pendingRaw_ = 0;
}

void SinkReport::writeData(Bytes bytes) {
    if (dataFile_ == nullptr || dataFileFailed_) return;
    if (std::fwrite(bytes.data(), 1, bytes.size(), dataFile_) != bytes.size()) {
        dataFileFailed_ = true;
    }
}

}  // namespace velgor::sink
