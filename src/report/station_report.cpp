#include "report/station_report.h"

#include <cstring>
#include <filesystem>
#include <system_error>

#include "config/cp1251.h"
#include "config/settings_path.h"
#include "report/prometheus_text.h"
#include "report/report_file.h"
#include "report/status_json.h"

namespace velgor {
namespace {

constexpr std::array<int, 2> WATCHED_LINKS = {LINK_SOURCE, LINK_CONSUMER};
constexpr std::array<const char*, 2> LINK_NAMES = {"source", "consumer"};
constexpr std::size_t STATUS_FILE = 0;
constexpr std::size_t METRICS_FILE = 1;

UnixSeconds unixNow() {
    using Seconds = std::chrono::duration<double>;
    return std::chrono::duration_cast<Seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

const char* stateName(int state) {
    switch (state) {
        case LINK_IDLE:
            return "idle";
        case LINK_FAILED:
            return "failed";
        case LINK_UP:
            return "up";
        default:
            return "down";
    }
}

// The settings directory as an absolute path in UTF-8.
std::string absoluteDir(const std::string& dir) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path path = dir.empty() ? fs::current_path(error) : fs::absolute(fs::path(dir), error);
    if (error) return dir;
    path = path.lexically_normal();
    if (!path.has_filename() && path.has_parent_path() && path != path.root_path()) {
        path = path.parent_path();  // no trailing separator
    }
    const std::u8string text = path.u8string();
    return {reinterpret_cast<const char*>(text.data()), text.size()};
}

// FNV-1a, 64 bits, as 16 hex digits: a short file name that differs per directory.
std::string hashName(std::string_view text) {
    constexpr std::uint64_t FNV_OFFSET = 14695981039346656037ULL;
    constexpr std::uint64_t FNV_PRIME = 1099511628211ULL;
    constexpr int HEX_DIGIT_COUNT = 16;
    std::uint64_t hash = FNV_OFFSET;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= FNV_PRIME;
    }
    std::string hex(HEX_DIGIT_COUNT, '0');
    for (int i = HEX_DIGIT_COUNT - 1; i >= 0; --i, hash >>= 4) {
        hex[static_cast<std::size_t>(i)] = "0123456789abcdef"[hash & 0xF];
    }
    return hex;
}

// A relative metrics directory is taken from the settings directory.
std::string metricsDirOf(const std::string& settingsDir, const std::string& named) {
    if (named.empty()) return settingsDir;
    if (settingsDir.empty() || std::filesystem::path(named).is_absolute()) return named;
    return settingsPath(settingsDir, named);
}

}  // namespace

StationReport::StationReport(Relay& relay, const std::string& settingsDir,
                             const WatchSettings& watch)
    : relay_(relay),
      interval_(watch.intervalSeconds),
      relayId_(absoluteDir(settingsDir)),
      statusPath_(settingsPath(settingsDir, STATUS_FILE_NAME)),
      metricsPath_(settingsPath(metricsDirOf(settingsDir, watch.metricsDirectory),
                                "velgor-" + hashName(relayId_) + ".prom")),
      started_(unixNow()),
      nextWrite_(std::chrono::steady_clock::now()) {}

void StationReport::tick() {
    const SteadyTime now = std::chrono::steady_clock::now();
    const UnixSeconds wallNow = unixNow();
    observe(now, wallNow);
    if (now < nextWrite_) return;
    // A slow tick does not move every later write.
    nextWrite_ += interval_;
    if (nextWrite_ <= now) nextWrite_ = now + interval_;
    const StationSnapshot station = snapshot(now, wallNow);
    write(STATUS_FILE, statusPath_, formatStatusJson(station));
    write(METRICS_FILE, metricsPath_, formatPrometheusText(station));
}

void StationReport::observe(SteadyTime now, UnixSeconds wallNow) {
    const TrafficCounts counts = relay_.trafficCounts();
    for (std::size_t i = 0; i < WATCHED_LINKS.size(); ++i) {
        const int link = WATCHED_LINKS[i];
        const std::uint64_t made = counts.connectionsMade[static_cast<std::size_t>(link)];
        if (!relay_.links().isUp(link)) {
            connectedSince_[i].reset();
        } else if (made != connectionsSeen_[i] || !connectedSince_[i]) {
            connectedSince_[i] = wallNow;  // to within a tick
        }
        connectionsSeen_[i] = made;
    }
    if (counts.linesReceived != linesSeen_) {
        linesSeen_ = counts.linesReceived;
        lastLine_ = now;
    }
}

StationSnapshot StationReport::snapshot(SteadyTime now, UnixSeconds wallNow) const {
    StationSnapshot station;
    station.written = wallNow;
    // Stale once two writes in a row are missing.
    station.expires = wallNow + 2.0 * static_cast<double>(interval_.count()) + 1.0;
    station.started = started_;
    station.version = VELGOR_VERSION;
    station.relayId = relayId_;
    const RelaySettings& settings = relay_.settings();
    station.stationName = cp1251ToUtf8(settings.stationName.view());
    station.latitude = settings.stationLatitude / ARC_SECONDS_PER_DEGREE;
    station.longitude = settings.stationLongitude / ARC_SECONDS_PER_DEGREE;
    station.counts = relay_.trafficCounts();
    for (std::size_t i = 0; i < WATCHED_LINKS.size(); ++i) {
        const int link = WATCHED_LINKS[i];
        const auto slot = static_cast<std::size_t>(link);
        LinkSnapshot& shown = station.links[i];
        const int state = relay_.links().slot(link).state.load(std::memory_order_acquire);
        shown.name = LINK_NAMES[i];
        shown.state = stateName(state);
        shown.up = state == LINK_UP;
        shown.status = cp1251ToUtf8(relay_.links().statusText(link).view());
        const LinkEndpoint endpoint = relay_.links().endpoint(link);
        shown.host = cp1251ToUtf8(endpoint.host.view());
        shown.port = endpoint.port;
        shown.connectedSince = connectedSince_[i];
        shown.connectionsMade = station.counts.connectionsMade[slot];
        shown.lostBy = station.counts.lostBy[slot];
    }
    station.queuedBytes = relay_.consumerOutbox().queued();
    station.sourceHeld = relay_.sourceHeld();
    if (lastLine_) {
        station.secondsSinceLastLine = std::chrono::duration<double>(now - *lastLine_).count();
    }
    return station;
}

void StationReport::write(std::size_t file, const std::string& path, const std::string& text) {
    const int error = replaceWithText(path, text);
    if (error == 0) {
        if (failing_[file]) {
            failing_[file] = false;
            relay_.messageLog().logMessage(("Writing " + path + " again").c_str(), LOG_SHOW);
        }
        return;
    }
    if (failing_[file]) return;
    failing_[file] = true;
    const std::string message = "Cannot write " + path + ": " + std::strerror(error) +
                                " (tried again every write, told once)";
    relay_.messageLog().logMessage(message.c_str(), LOG_SHOW);
}

}  // namespace velgor
