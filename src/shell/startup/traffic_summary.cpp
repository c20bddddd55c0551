#include "shell/startup/traffic_summary.h"

#include <cstdio>
#include <cstdlib>

namespace velgor {
namespace {

constexpr long MAX_INTERVAL_SECONDS = 24 * 60 * 60;

std::size_t at(int link) {
    return static_cast<std::size_t>(link);
}

}  // namespace

std::string describeTraffic(const TrafficCounts& since, const TrafficCounts& now,
                            std::chrono::seconds over) {
    // The figures only grow, so each difference is what happened in between.
    auto made = [&](int link) {
        return static_cast<unsigned long long>(now.connectionsMade[at(link)] -
                                               since.connectionsMade[at(link)]);
    };
    auto lost = [&](int link) {
        return static_cast<unsigned long long>(now.connectionsLost[at(link)] -
                                               since.connectionsLost[at(link)]);
    };
    char compression[48] = "";
    const std::uint64_t compressed = now.bytesCompressed - since.bytesCompressed;
    const std::uint64_t framed = now.framedBytes - since.framedBytes;
    if (framed > 0) {
        std::snprintf(compression, sizeof compression, " (compressed %.2f:1)",
                      static_cast<double>(compressed) / static_cast<double>(framed));
    }
    // Named only when it happened: a batch of the old mode that a mode switch
    // found with no connection to send it on.
    char dropped[64] = "";
    const std::uint64_t batches = now.batchesDropped - since.batchesDropped;
    if (batches > 0) {
        std::snprintf(dropped, sizeof dropped, ", %llu batches dropped at a mode switch",
                      static_cast<unsigned long long>(batches));
    }
    char line[576];
    std::snprintf(line, sizeof line,
                  "summary of the last %lld s: %llu lines received, %llu forwarded, %llu held "
                  "back by the signal threshold, %llu bytes sent%s%s; source: %llu connected, "
                  "%llu lost; consumer: %llu connected, %llu lost",
                  static_cast<long long>(over.count()),
                  static_cast<unsigned long long>(now.linesReceived - since.linesReceived),
                  static_cast<unsigned long long>(now.linesForwarded - since.linesForwarded),
                  static_cast<unsigned long long>(now.linesHeldBack - since.linesHeldBack),
                  static_cast<unsigned long long>(now.bytesSent - since.bytesSent), compression,
                  dropped, made(LINK_SOURCE), lost(LINK_SOURCE), made(LINK_CONSUMER),
                  lost(LINK_CONSUMER));
    return line;
}

PeriodicSummary::PeriodicSummary(std::chrono::seconds interval, Clock::time_point start)
    : interval_(interval), since_(start) {}

std::optional<std::string> PeriodicSummary::due(const TrafficCounts& now, Clock::time_point at) {
    if (at - since_ < interval_) return std::nullopt;
    std::string line = describeTraffic(counts_, now, interval_);
    counts_ = now;
    // The next interval counts from when this one was due, so a late tick does
    // not move every later summary.
    since_ += interval_;
    if (at - since_ >= interval_) since_ = at;  // a long stall: start afresh
    return line;
}

std::string PeriodicSummary::last(const TrafficCounts& now, Clock::time_point at) {
    const auto over = std::chrono::round<std::chrono::seconds>(at - since_);
    std::string line = "at exit: " + describeTraffic(counts_, now, over);
    counts_ = now;
    since_ = at;
    return line;
}

std::chrono::seconds summaryInterval(const char* text) {
    if (text == nullptr || *text < '0' || *text > '9') return PeriodicSummary::DEFAULT_INTERVAL;
    char* end = nullptr;
    const long seconds = std::strtol(text, &end, 10);
    if (*end != '\0' || seconds < 1 || seconds > MAX_INTERVAL_SECONDS) {
        return PeriodicSummary::DEFAULT_INTERVAL;
    }
    return std::chrono::seconds{seconds};
}

}  // namespace velgor
