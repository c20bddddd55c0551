#include "sink/feed_stream.h"

#include <string_view>

namespace velgor::sink {
namespace {

constexpr char MARK = '#';
constexpr std::string_view COMPRESS_SUFFIX = ":COMPRESS";
constexpr std::string_view KNOWN_MODES[] = {"#TEXT", "#BINARY", "#TEXT:COMPRESS",
                                            "#BINARY:COMPRESS"};
constexpr int MODE_LINE = 3;

}  // namespace

std::string Handshake::field(int index) const {
    const std::string& text = lines[static_cast<std::size_t>(index)];
    return !text.empty() && text.front() == MARK ? text.substr(1) : text;
}

bool Handshake::allMarked() const {
    for (const std::string& text : lines) {
        if (text.empty() || text.front() != MARK) return false;
    }
    return true;
}

bool Handshake::compressed() const {
    return lines[MODE_LINE].find(COMPRESS_SUFFIX) != std::string::npos;
}

bool Handshake::knownMode() const {
    for (std::string_view mode : KNOWN_MODES) {
        if (lines[MODE_LINE] == mode) return true;
    }
    return false;
}

FeedStream::FeedStream(FeedListener& listener)
    : listener_(listener), splitter_(*this), frames_([this](const std::string& inflated) {
          splitter_.feed(
              Bytes(reinterpret_cast<const std::uint8_t*>(inflated.data()), inflated.size()));
      }) {}

void FeedStream::feed(Bytes bytes) {
    if (!handshakeComplete()) bytes = bytes.subspan(feedHandshake(bytes));
    if (bytes.empty()) return;
    if (compressed_) {
        frames_.feed(bytes.data(), bytes.size());
    } else {
        splitter_.feed(bytes);
    }
}

std::size_t FeedStream::feedHandshake(Bytes bytes) {
    std::size_t used = 0;
    while (used < bytes.size() && !handshakeComplete()) {
        const char c = static_cast<char>(bytes[used++]);
        std::string& text = handshake_.lines[static_cast<std::size_t>(handshakeLine_)];
        if (c == '\n') {
            if (!text.empty() && text.back() == '\r') text.pop_back();
            if (++handshakeLine_ == HANDSHAKE_LINES) {
                compressed_ = handshake_.compressed();
                listener_.handshake(handshake_);
            }
        } else if (text.size() < MAX_HANDSHAKE_LINE) {
            text.push_back(c);
        }
    }
    return used;
}

void FeedStream::finish() {
    splitter_.finish();
}

void FeedStream::line(Bytes bytes) {
    ++lines_;
    listener_.line(bytes);
}

void FeedStream::rawBytes(Bytes bytes) {
    rawBytes_ += bytes.size();
    listener_.rawBytes(bytes);
}

}  // namespace velgor::sink
