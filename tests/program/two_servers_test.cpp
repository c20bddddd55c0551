// Feeding two servers from one station: two relays in two working directories
// (two service instances) read one real receiver (Debian's dump1090-mutability);
// each delivers every line to its own server and keeps its own status and metrics.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "program/loopback.h"
#include "program/program_runner.h"
#include "support/receiver.h"

namespace velgor::test {
namespace {

using namespace std::chrono_literals;

const std::string kVelgor = VELGOR_PROGRAM;

// The lines of a stream the relay takes from the receiver's raw port.
std::vector<std::string> messageLines(const std::string& stream) {
    std::vector<std::string> lines;
    for (const std::string& line : splitLines(stream)) {
        if (line[0] == '*' || line[0] == '@') lines.push_back(line);
    }
    return lines;
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The value of the first sample of `name` in a metrics file's text.
std::optional<double> firstSample(const std::string& metrics, const std::string& name) {
    std::istringstream lines(metrics);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(name + "{", 0) == 0) return std::stod(line.substr(line.rfind(' ') + 1));
    }
    return std::nullopt;
}

struct Instance {
    TempDir dir;
    LoopbackListener server;
    std::unique_ptr<RunningProgram> velgor;
    int connection = -1;
    std::string received;
};

TEST(FeedingTwoServers, EachRelayDeliversEveryLineAndKeepsItsOwnFigures) {
    ReceiverOptions options;
    options.mlat = true;
    Receiver receiver(options);
    ASSERT_TRUE(receiver.start()) << receiver.error();
    const int witness = connectLoopback(receiver.rawPort());
    ASSERT_GE(witness, 0);

    std::array<Instance, 2> relays;
    for (Instance& relay : relays) {
        relay.dir.write("initmkp1.ini", std::to_string(receiver.rawPort()) + "\n127.0.0.1\n");
        relay.dir.write("initmkp2.ini", std::to_string(relay.server.port()) + "\n127.0.0.1\n");
        relay.dir.write("watch.ini", "1\n");
        RunningProgram::Options run;
        run.workingDirectory = relay.dir.path();
        run.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "NOTIFY_SOCKET",
                        "JOURNAL_STREAM"};
        relay.velgor = std::make_unique<RunningProgram>(kVelgor, std::vector<std::string>{}, run);
    }
    for (Instance& relay : relays) {
        relay.connection = relay.server.accept(10s);
        ASSERT_GE(relay.connection, 0) << relay.velgor->err();
        for (const std::uint16_t port : {receiver.rawPort(), relay.server.port()}) {
            ASSERT_TRUE(relay.velgor->waitForOutput(std::to_string(port) + "  Соединение", 5s))
                << relay.velgor->out();
        }
    }
    receiver.startInput();
    std::vector<std::string> direct;
    ASSERT_TRUE(readUntilClosed({witness}, direct, 30s)) << "the receiver did not finish";
    const std::vector<std::string> expected = messageLines(direct.at(0));
    ASSERT_GT(expected.size(), 100u) << "the replay should carry hundreds of lines";

    for (Instance& relay : relays) {
        // The receiver has closed; what the relay had is on its way.
        const std::string last = expected.back() + "\r\n";
        (void)readUntil(relay.connection, last, relay.received, 10s);
        EXPECT_EQ(messageLines(relay.received), expected) << relay.dir.path();
    }
    // Two status writes later each relay's own files show its own count.
    std::this_thread::sleep_for(2200ms);
    for (Instance& relay : relays) {
        std::string metricsFile;
        for (const auto& entry : std::filesystem::directory_iterator(relay.dir.path())) {
            if (entry.path().extension() == ".prom") metricsFile = entry.path();
        }
        ASSERT_FALSE(metricsFile.empty()) << relay.dir.path();
        const std::string metrics = fileText(metricsFile);
        EXPECT_EQ(firstSample(metrics, "velgor_lines_forwarded_total"), double(expected.size()));
        EXPECT_NE(metrics.find("relay=\"" + relay.dir.path() + "\""), std::string::npos);
        const std::string status = fileText(relay.dir.path() + "/status.json");
        EXPECT_NE(status.find("\"lines_forwarded\": " + std::to_string(expected.size())),
                  std::string::npos)
            << status;
        relay.velgor->signal(SIGTERM);
        EXPECT_EQ(relay.velgor->wait(5s), std::optional<int>(0));
        ::close(relay.connection);
    }
}

}  // namespace
}  // namespace velgor::test
