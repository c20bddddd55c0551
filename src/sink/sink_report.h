#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "sink/feed_stream.h"

namespace velgor::sink {

struct SinkTotals {
    std::uint64_t connections = 0;
    std::uint64_t lines = 0;
    std::uint64_t frames = 0;
    std::uint64_t badFrames = 0;
    std::uint64_t strayBytes = 0;
    std::uint64_t rawBytes = 0;
};

// What the sink shows a person and keeps in its data file: the handshake of each
// connection (the station name turned from Windows-1251 into UTF-8), each line
// (or only their count), the size of raw data instead of its bytes, a summary per
// connection and at the end. The data file receives every data byte exactly.
class SinkReport : public FeedListener {
  public:
    // `dataFile` may be null (no --out).
    SinkReport(std::FILE* console, std::FILE* dataFile, bool countOnly);

    void listening(const std::string& endpoint);
    void connectionOpened(std::uint64_t number, const std::string& peer);
    // Adds the connection's counts to the totals.
    void connectionClosed(std::uint64_t number, const FeedStream& stream);
    void commandSent(std::string_view command, bool sent);
    void note(std::string_view text);
    // Called after each receive has been fed: shows pending raw data, flushes.
    void received();
    void summary();

    void handshake(const Handshake& received) override;
    void line(Bytes bytes) override;
    void rawBytes(Bytes bytes) override;

    const SinkTotals& totals() const { return totals_; }
    // Whether writing the data file has failed (it is then no longer written).
    bool dataFileFailed() const { return dataFileFailed_; }

  private:
    void showPendingRaw();
    void writeData(Bytes bytes);

    std::FILE* console_;
    std::FILE* dataFile_;
    bool countOnly_;
    bool dataFileFailed_ = false;
    std::uint64_t pendingRaw_ = 0;  // raw bytes received but not yet reported
    SinkTotals totals_;
};

}  // namespace velgor::sink
