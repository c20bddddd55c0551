// Watching a running relay from outside with the field's own tools: Debian's
// Prometheus node exporter serves the metrics file the relay writes, promtool
// checks every metrics file, and the status file is read as JSON.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "config/cp1251_literal.h"
#include "program/loopback.h"
#include "program/program_runner.h"

namespace velgor::test {
namespace {

using namespace std::chrono_literals;

const std::string kVelgor = VELGOR_PROGRAM;
const std::string kNodeExporter = "/usr/bin/prometheus-node-exporter";
const std::string kPromtool = "/usr/bin/promtool";
constexpr int kIntervalSeconds = 1;
constexpr auto kStaleAfter = std::chrono::seconds(2 * kIntervalSeconds + 1);
const std::string kLine = "*8D4840D6202CC371C32CE0576098;";

RunningProgram::Options quietIn(const std::string& dir) {
    RunningProgram::Options options;
    options.workingDirectory = dir;
    options.unsetEnv = {
        "DISPLAY",       "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",       "NOTIFY_SOCKET",
        "WATCHDOG_USEC", "JOURNAL_STREAM",  "VELGOR_SUMMARY_SECONDS"};
    return options;
}

// A port of 127.0.0.1 nobody uses now.
std::uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// GET /metrics from the exporter; empty when it does not answer.
std::string scrape(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        sendAll(fd, "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n")) {
        (void)readUntil(fd, "\n\n# never sent", reply, 5s);  // until the exporter closes
    }
    ::close(fd);
    return reply.find("200 OK") != std::string::npos ? reply : std::string();
}

// The value of the sample of `name` that carries every one of `labels`
// ("link=\"consumer\""); none when there is no such sample.
std::optional<double> sampleOf(const std::string& scraped, const std::string& name,
                               const std::vector<std::string>& labels = {}) {
    std::istringstream lines(scraped);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(name + "{", 0) != 0 && line.rfind(name + " ", 0) != 0) continue;
        bool all = true;
        for (const auto& label : labels) all = all && line.find(label) != std::string::npos;
        if (all) return std::stod(line.substr(line.rfind(' ') + 1));
    }
    return std::nullopt;
}

// Scrapes until `ready` holds for what the exporter serves (or the limit passes).
template <typename Ready>
std::string scrapeUntil(std::uint16_t port, Ready ready, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string scraped;
    do {
        scraped = scrape(port);
        if (!scraped.empty() && ready(scraped)) return scraped;
        std::this_thread::sleep_for(100ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return scraped;
}

double unixNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Runs a program to its end; its exit code and its output.
std::pair<int, std::string> runToEnd(const std::vector<std::string>& command) {
    RunningProgram program(command[0], {command.begin() + 1, command.end()}, {});
    const auto code = program.wait(20s);
    return {code.value_or(-1), program.out() + program.err()};
}

// promtool's verdict on every metrics file in `dir`; "" when all pass.
std::string promtoolComplaints(const std::string& dir) {
    std::string complaints;
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".prom") continue;
        ++files;
        const auto [code, said] =
            runToEnd({"sh", "-c", kPromtool + " check metrics < \"$1\"", "sh", entry.path()});
        if (code != 0) complaints += entry.path().string() + ": " + said;
    }
    return files > 0 ? complaints : "no metrics file in " + dir;
}

// The status file read by Python's json module: the fields it lacks, seconds
// until it expires, the station name and the consumer link.
std::string readStatus(const std::string& path) {
    const std::string script = R"(
import json, sys, time
s = json.load(open(sys.argv[1], encoding="utf-8"))
need = {"": ["written", "expires", "version", "started", "relay", "station", "links", "traffic"],
        "station": ["name", "latitude", "longitude"],
        "traffic": ["lines_received", "lines_forwarded", "lines_held_back", "bytes_sent",
                    "bytes_compressed", "framed_bytes", "frames_sent", "compression_ratio",
                    "consumer_queue_bytes", "source_held", "watchdog_drops",
                    "seconds_since_last_line"]}
for link in ("source", "consumer"):
    need["links." + link] = ["state", "status", "host", "port", "connected_since",
                             "connections", "drops"]
missing = []
for where, keys in need.items():
    node = s
    for part in filter(None, where.split(".")):
        node = node.get(part, {})
    missing += [where + "." + k for k in keys if k not in node]
c = s["links"]["consumer"]
print("missing=" + ",".join(missing))
print("expires_in=%.3f" % (s["expires"] - time.time()))
print("name=" + s["station"]["name"])
print("consumer=%s/%s" % (c["state"], c["status"]))
print("consumer_closed=%d" % c["drops"]["peer_closed"])
)";
    const auto [code, said] = runToEnd({"python3", "-c", script, path});
    return code == 0 ? said : "unreadable: " + said;
}

std::string valueIn(const std::string& status, const std::string& key) {
    const auto at = status.find(key + "=");
    if (at == std::string::npos) return "(none)";
    const auto start = at + key.size() + 1;
    return status.substr(start, status.find('\n', start) - start);
}

TEST(StationWatch, ExporterServesWhatTheRelayDidAndTheStatusFileExpires) {
    if (!std::filesystem::exists(kNodeExporter) || !std::filesystem::exists(kPromtool)) {
        GTEST_SKIP() << "needs prometheus-node-exporter and prometheus (promtool)";
    }
    TempDir station;
    TempDir other;  // a second relay sharing the metrics directory
    TempDir metrics;
    LoopbackListener source;
    // Closed with the connection, so that the relay stays without a consumer.
    std::optional<LoopbackListener> consumerListener(std::in_place);
    LoopbackListener& consumer = *consumerListener;
    const std::string watch = std::to_string(kIntervalSeconds) + "\n" + metrics.path() + "\n";
    station.write("watch.ini", watch);
    station.write("initmkp1.ini", std::to_string(source.port()) + "\n127.0.0.1\n");
    station.write("initmkp2.ini", std::to_string(consumer.port()) + "\n127.0.0.1\n");
    station.write("name.ini", cp1251<u8"Прибор \"Юг\"\n">);
    other.write("watch.ini", watch);
    const std::uint16_t refused = freePort();
    other.write("initmkp1.ini", std::to_string(refused) + "\n127.0.0.1\n");
    other.write("initmkp2.ini", std::to_string(refused) + "\n127.0.0.1\n");

    const std::uint16_t exporterPort = freePort();
    RunningProgram exporter(kNodeExporter,
                            {"--web.listen-address=127.0.0.1:" + std::to_string(exporterPort),
                             "--collector.disable-defaults", "--collector.textfile",
                             "--collector.textfile.directory=" + metrics.path()},
                            {});
    RunningProgram velgor(kVelgor, {}, quietIn(station.path()));
    RunningProgram second(kVelgor, {}, quietIn(other.path()));

    const int sourceConn = source.accept(10s);
    ASSERT_GE(sourceConn, 0) << velgor.err();
    const int consumerConn = consumer.accept(10s);
    ASSERT_GE(consumerConn, 0) << velgor.err();
    std::string received;
    ASSERT_TRUE(readUntil(consumerConn, "#TEXT\r\n", received, 5s)) << received;
    // The consumer link is up once the program says so.
    ASSERT_TRUE(velgor.waitForOutput(std::to_string(consumer.port()) + "  Соединение", 5s))
        << velgor.out();

    // Lines in a few bursts; the consumer counts what arrives.
    constexpr int kBursts = 20;
    constexpr int kLinesPerBurst = 50;
    std::string burst;
    for (int i = 0; i < kLinesPerBurst; ++i) burst += kLine + "\r\n";
    for (int i = 0; i < kBursts; ++i) {
        ASSERT_TRUE(sendAll(sourceConn, burst));
        std::this_thread::sleep_for(20ms);
    }
    const std::size_t sent = kBursts * kLinesPerBurst;
    std::size_t counted = 0;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (counted < sent && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{consumerConn, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0) continue;
        char buffer[4096];
        const ssize_t n = ::recv(consumerConn, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        counted += static_cast<std::size_t>(std::count(buffer, buffer + n, '\n'));
    }
    ASSERT_EQ(counted, sent) << "the consumer did not get every line";
    const double countedAt = unixNow();

    // The exporter serves a file written after the consumer had counted.
    const auto written = [&](const std::string& scraped) {
        const auto stamp = sampleOf(scraped, "velgor_metrics_last_write_timestamp_seconds",
                                    {"relay=\"" + station.path() + "\""});
        return stamp && *stamp > countedAt;
    };
    std::string scraped = scrapeUntil(exporterPort, written, 5s);
    ASSERT_TRUE(written(scraped)) << scraped;
    const std::string ours = "relay=\"" + station.path() + "\"";
    EXPECT_EQ(sampleOf(scraped, "velgor_lines_forwarded_total", {ours}), double(counted));
    EXPECT_EQ(sampleOf(scraped, "velgor_lines_received_total", {ours}), double(counted));
    EXPECT_EQ(sampleOf(scraped, "velgor_link_up", {ours, "link=\"consumer\""}), 1.0);
    EXPECT_EQ(sampleOf(scraped, "velgor_link_connections_total", {ours, "link=\"consumer\""}), 1.0);
    EXPECT_EQ(sampleOf(scraped, "velgor_info", {ours, "station=\"Прибор \\\"Юг\\\"\""}), 1.0);
    // Both relays' files, each with its own label, and no complaint about either.
    EXPECT_EQ(sampleOf(scraped, "velgor_info", {"relay=\"" + other.path() + "\""}), 1.0);
    EXPECT_EQ(sampleOf(scraped, "node_textfile_scrape_error"), 0.0) << scraped;
    EXPECT_EQ(promtoolComplaints(metrics.path()), "");

    std::string status = readStatus(station.path() + "/status.json");
    EXPECT_EQ(valueIn(status, "missing"), "") << status;
    EXPECT_GT(std::stod(valueIn(status, "expires_in")), 0.0) << status;
    EXPECT_EQ(valueIn(status, "name"), "Прибор \"Юг\"");
    EXPECT_EQ(valueIn(status, "consumer"), "up/Соединение 127.0.0.1");
    EXPECT_EQ(valueIn(status, "consumer_closed"), "0");

    // The consumer goes: the drop shows with its cause, the link as down.
    consumerListener.reset();
    ::close(consumerConn);
    const auto dropped = [&](const std::string& s) {
        return sampleOf(s, "velgor_link_drops_total",
                        {ours, "link=\"consumer\"", "cause=\"peer_closed\""}) == 1.0;
    };
    scraped = scrapeUntil(exporterPort, dropped, 5s);
    EXPECT_TRUE(dropped(scraped)) << scraped;
    EXPECT_EQ(sampleOf(scraped, "velgor_link_up", {ours, "link=\"consumer\""}), 0.0);
    EXPECT_EQ(promtoolComplaints(metrics.path()), "");
    status = readStatus(station.path() + "/status.json");
    EXPECT_EQ(valueIn(status, "consumer").substr(0, 5), "down/") << status;
    EXPECT_EQ(valueIn(status, "consumer_closed"), "1") << status;

    // Stopped, the relay leaves a status file that expires 2 intervals and a second on.
    velgor.signal(SIGTERM);
    ASSERT_EQ(velgor.wait(5s), std::optional<int>(0));
    std::this_thread::sleep_for(kStaleAfter + 200ms);
    status = readStatus(station.path() + "/status.json");
    EXPECT_LT(std::stod(valueIn(status, "expires_in")), 0.0) << status;
    ::close(sourceConn);
    second.signal(SIGTERM);
    exporter.signal(SIGTERM);
}

// A metrics directory that cannot be written is told once, not every interval;
// the status file is written all the same.
TEST(StationWatch, UnwritableMetricsDirectoryIsToldOnce) {
    TempDir station;
    station.write("watch.ini", std::to_string(kIntervalSeconds) + "\nno-such-directory\n");
    station.write("initmkp1.ini", std::to_string(freePort()) + "\n127.0.0.1\n");
    RunningProgram velgor(kVelgor, {}, quietIn(station.path()));
    std::this_thread::sleep_for(std::chrono::seconds(3 * kIntervalSeconds) + 500ms);
    velgor.signal(SIGTERM);
    ASSERT_EQ(velgor.wait(5s), std::optional<int>(0));
    const std::string& out = velgor.out();
    const auto first = out.find("Cannot write");
    ASSERT_NE(first, std::string::npos) << out;
    EXPECT_EQ(out.find("Cannot write", first + 1), std::string::npos) << out;
    EXPECT_TRUE(std::filesystem::exists(station.path() + "/status.json"));
}

}  // namespace
}  // namespace velgor::test
