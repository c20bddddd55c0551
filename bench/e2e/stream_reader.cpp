#include "e2e/stream_reader.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "e2e/recorded_stream.h"
#include "sink/feed_stream.h"

namespace velgor::e2e {
namespace {

constexpr std::size_t RECEIVE_BYTES = 1 << 18;

// Checks a stream against copies of one expected pass, repeated.
class CyclicCheck {
  public:
    explicit CyclicCheck(std::string_view pass) : pass_(pass) {}
    bool take(const char* bytes, std::size_t n) {
        if (pass_.empty()) return false;
        while (n > 0) {
            const std::size_t now = std::min(n, pass_.size() - at_);
            if (std::memcmp(bytes, pass_.data() + at_, now) != 0) return false;
            at_ = (at_ + now) % pass_.size();
            bytes += now;
            n -= now;
        }
        return true;
    }

  private:
    std::string_view pass_;
    std::size_t at_ = 0;
};

// Latency of unit `index` read at `readNs`.
void noteLatency(const ReaderSetup& setup, ReaderResult& result, std::uint64_t index,
                 std::int64_t readNs) {
    if (setup.stamps == nullptr) return;
    const std::int64_t written = setup.stamps->get(index);
    if (written == 0) {
        ++result.unmatched;
        return;
    }
    result.latenciesNs.push_back(readNs - written);
}

// The feed's lines, checked and timed.
class FeedCounter : public sink::FeedListener {
  public:
    FeedCounter(const ReaderSetup& setup, ReaderResult& result, std::atomic<bool>& handshake)
        : setup_(setup), result_(result), handshake_(handshake), check_(setup.expected) {}
    void handshake(const sink::Handshake&) override { handshake_.store(true); }
    void line(sink::Bytes bytes) override {
        const auto* text = reinterpret_cast<const char*>(bytes.data());
        if (result_.verified && !check_.take(text, bytes.size())) {
            result_.verified = false;
            result_.problem = "line " + std::to_string(result_.units + 1) +
                              " differs: " + std::string(text, bytes.size());
        }
        if (setup_.stamps != nullptr) {
            std::uint64_t serial = 0;
            if (setup_.unitId == UnitId::Ordinal) {
                noteLatency(setup_, result_, result_.units, readNs);
            } else if (lineSerial(std::string_view(text, bytes.size()), serial) && serial > 0) {
                noteLatency(setup_, result_, serial - 1, readNs);
            }
        }
        ++result_.units;
    }
    void rawBytes(sink::Bytes bytes) override {
        if (result_.verified) {
            result_.verified = false;
            result_.problem = std::to_string(bytes.size()) + " bytes that are no line";
        }
    }
    std::int64_t readNs = 0;

  private:
    const ReaderSetup& setup_;
    ReaderResult& result_;
    std::atomic<bool>& handshake_;
    CyclicCheck check_;
};

}  // namespace

StreamReader::~StreamReader() {
    if (thread_.joinable()) thread_.join();
}

void StreamReader::start(UniqueFd socket) {
    socket_ = std::move(socket);
    thread_ = std::thread([this] { run(); });
}

ReaderResult StreamReader::finish() {
    if (thread_.joinable()) thread_.join();
    return std::move(result_);
}

void StreamReader::run() {
    ReaderResult& result = result_;
    const ReaderSetup& setup = setup_;
    auto buffer = std::make_unique<char[]>(RECEIVE_BYTES);
    FeedCounter feedCounter(setup, result, handshake_);
    sink::FeedStream feed(feedCounter);
    CyclicCheck byteCheck(setup.expected);
    std::string partialLine;
    std::size_t nextUnitEnd = 0;
    if (setup.stamps != nullptr && !setup.unitEnds.empty())
        result.latenciesNs.reserve(setup.unitEnds.size());

    const std::int64_t begun = monotonicNs();
    std::int64_t lastActivity = begun;
    for (;;) {
        const std::int64_t now = monotonicNs();
        if (setup.expectedUnits > 0 && result.units >= setup.expectedUnits) break;
        if (setup.expectedBytes > 0 && result.bytes >= setup.expectedBytes) break;
        if (playerDone_.load() && now - lastActivity > setup.idleEndNs) break;
        if (now - begun > setup.overallLimitNs) {
            result.problem = "gave up waiting";
            break;
        }
        pollfd watched{socket_.get(), POLLIN, 0};
        if (::poll(&watched, 1, 20) <= 0) continue;
        const ssize_t got = ::recv(socket_.get(), buffer.get(), RECEIVE_BYTES, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;  // closed by the peer
        const std::int64_t readNs = monotonicNs();
        // The handshake is not data: the clock of a Feed starts with the first line.
        const std::uint64_t unitsBefore = result.units;
        lastActivity = readNs;
        const auto n = static_cast<std::size_t>(got);

        switch (setup.readAs) {
            case ReadAs::Feed:
                feedCounter.readNs = readNs;
                feed.feed(sink::Bytes(reinterpret_cast<const std::uint8_t*>(buffer.get()), n));
                if (result.units > unitsBefore) {
                    if (result.firstNs == 0) result.firstNs = readNs;
                    result.lastNs = readNs;
                }
                result.bytes += n;
                break;
            case ReadAs::Bytes:
                if (result.firstNs == 0) result.firstNs = readNs;
                result.lastNs = readNs;
                if (result.verified && !byteCheck.take(buffer.get(), n)) {
                    result.verified = false;
                    result.problem = "byte " + std::to_string(result.bytes) + " differs";
                }
                result.bytes += n;
                if (setup.stamps != nullptr) {
                    while (nextUnitEnd < setup.unitEnds.size() &&
                           setup.unitEnds[nextUnitEnd] <= result.bytes) {
                        noteLatency(setup, result, nextUnitEnd, readNs);
                        ++nextUnitEnd;
                    }
                    result.units = nextUnitEnd;
                } else if (setup.expected.size() > 0) {
                    result.units = result.bytes / setup.expected.size() * setup.unitsPerPass;
                }
                break;
            case ReadAs::Lines:
                result.bytes += n;
                partialLine.append(buffer.get(), n);
                std::size_t at = 0;
                for (std::size_t end; (end = partialLine.find('\n', at)) != std::string::npos;
                     at = end + 1) {
                    const std::string_view line(partialLine.data() + at, end - at);
                    if (line.empty() || line[0] == '#' || line == "\r") continue;
                    if (setup.stamps != nullptr) {
                        std::uint64_t serial = 0;
                        if (setup.unitId == UnitId::Ordinal) {
                            noteLatency(setup, result, result.units, readNs);
                        } else if (lineSerial(line, serial) && serial > 0) {
                            noteLatency(setup, result, serial - 1, readNs);
                        }
                    }
                    ++result.units;
                }
                partialLine.erase(0, at);
                if (result.units > unitsBefore) {
                    if (result.firstNs == 0) result.firstNs = readNs;
                    result.lastNs = readNs;
                }
                break;
        }
        unitsSoFar_.store(result.units);
        if (setup.keepCheckpoints && result.units > unitsBefore) {
            result.checkpoints.push_back({readNs, result.units});
        }
    }
    if (setup.readAs == ReadAs::Feed && feed.badFrames() > 0 && result.verified) {
        result.verified = false;
        result.problem = std::to_string(feed.badFrames()) + " bad frames: " + feed.lastFrameError();
    }
}

}  // namespace velgor::e2e
