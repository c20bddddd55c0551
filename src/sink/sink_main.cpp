// velgor-sink: a consumer for the relay's feed, for checking a station by hand and
// as the far end of integration tests. It serves one connection at a time and
// takes the next when the relay connects again; with --many it serves every
// connection at once, as a fleet's server does.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sink/feed_stream.h"
#include "sink/sink_options.h"
#include "sink/sink_report.h"
#include "sink/sink_socket.h"

namespace velgor::sink {
namespace {

constexpr std::string_view SET_OUT_ORIGINAL = "#SET OUT DATE ORIGINAL\r\n";
constexpr std::string_view SET_OUT_TEXT = "#SET OUT DATE TEXT\r\n";
constexpr std::size_t RECEIVE_CAPACITY = 65536;
constexpr int EXIT_BAD_ARGUMENT = 2;
constexpr int EXIT_CANNOT_START = 1;
constexpr char PROGRAM[] = "velgor-sink";

// SIGINT and SIGTERM are turned into a byte on this pipe, which the loop polls.
int signalPipe[2] = {-1, -1};

extern "C" void onStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // A write that fails finds the pipe full, so a stop is already waiting.
    (void)!::write(signalPipe[1], &byte, 1);
    errno = saved;
}

[[nodiscard]] bool catchStopSignals() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    ::sigemptyset(&action.sa_mask);
    ::signal(SIGPIPE, SIG_IGN);
    // Started in the background from a terminal, reading a key would stop the
    // program; ignored, the read fails instead and the keys are given up.
    ::signal(SIGTTIN, SIG_IGN);
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0;
}

struct Connection {
    Connection(std::uint64_t n, UniqueFd fd, FeedListener& listener)
        : number(n), socket(std::move(fd)), stream(listener) {}

    std::uint64_t number;
    UniqueFd socket;
    FeedStream stream;
    bool originalSent = false;
    bool textSent = false;
};

class SinkLoop {
  public:
    SinkLoop(const SinkOptions& options, SinkReport& report, UniqueFd listener)
        : options_(options), report_(report), listener_(std::move(listener)) {}

    void run();

  private:
    using Connections = std::list<Connection>;

    void accept();
    void receive(Connections::iterator connection);
    void closeConnection(Connections::iterator connection);
    void sendDueCommands(Connection& connection);
    void sendCommand(Connection& connection, std::string_view command);
    // A command typed: to every connection being served.
    void sendTyped(std::string_view command);
    void readKeys();

    const SinkOptions& options_;
    SinkReport& report_;
    UniqueFd listener_;
    Connections served_;  // one at most, unless --many
    std::uint64_t connections_ = 0;
    bool keys_ = ::isatty(STDIN_FILENO) == 1;
    bool stop_ = false;
    std::array<std::uint8_t, RECEIVE_CAPACITY> buffer_{};
};

void SinkLoop::run() {
    std::vector<pollfd> watched;
    while (!stop_) {
        // Slots: the stop signal, the keys (or nothing), the listener (or nothing),
        // then the connections in the order served_ holds them.
        const bool listening = options_.many || served_.empty();
        watched.assign({{signalPipe[0], POLLIN, 0},
                        {keys_ ? STDIN_FILENO : -1, POLLIN, 0},
                        {listening ? listener_.get() : -1, POLLIN, 0}});
        for (const Connection& connection : served_) {
            watched.push_back({connection.socket.get(), POLLIN, 0});
        }

        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR) continue;
            report_.note(std::string("poll failed: ") + std::strerror(errno));
            break;
        }
        if (watched[0].revents != 0) break;
        auto slot = watched.begin() + 3;
        for (auto connection = served_.begin(); connection != served_.end(); ++slot) {
            const auto next = std::next(connection);
            if (slot->revents != 0) receive(connection);
            connection = next;
        }
        if (watched[2].revents != 0) accept();
        if (watched[1].revents != 0) readKeys();
    }
    while (!served_.empty()) closeConnection(served_.begin());
}

void SinkLoop::accept() {
    UniqueFd socket = acceptConnection(listener_.get());
    if (!socket.valid()) {
        report_.note(std::string("accept failed: ") + std::strerror(errno));
        return;
    }
    const std::string peer = peerEndpoint(socket.get());
    Connection& connection = served_.emplace_back(++connections_, std::move(socket), report_);
    report_.connectionOpened(connection.number, peer);
    sendDueCommands(connection);  // a command wanted after 0 lines waits for the handshake
}

void SinkLoop::receive(Connections::iterator connection) {
    const ssize_t got = ::recv(connection->socket.get(), buffer_.data(), buffer_.size(), 0);
    if (got < 0 && errno == EINTR) return;
    if (got <= 0) {
        if (got < 0) report_.note(std::string("receive failed: ") + std::strerror(errno));
        closeConnection(connection);
        return;
    }
    connection->stream.feed(Bytes(buffer_.data(), static_cast<std::size_t>(got)));
    report_.received();
    sendDueCommands(*connection);
}

void SinkLoop::closeConnection(Connections::iterator connection) {
    connection->stream.finish();
    report_.connectionClosed(connection->number, connection->stream);
    served_.erase(connection);
}

void SinkLoop::sendDueCommands(Connection& connection) {
    const FeedStream& stream = connection.stream;
    if (!stream.handshakeComplete()) return;
    if (options_.rawAfter && !connection.originalSent && stream.lines() >= *options_.rawAfter) {
        connection.originalSent = true;
        sendCommand(connection, SET_OUT_ORIGINAL);
    }
    if (options_.textAfter && !connection.textSent && stream.lines() >= *options_.textAfter) {
        connection.textSent = true;
        sendCommand(connection, SET_OUT_TEXT);
    }
}

void SinkLoop::sendCommand(Connection& connection, std::string_view command) {
    report_.commandSent(command, sendOnce(connection.socket.get(), command));
}

void SinkLoop::sendTyped(std::string_view command) {
    if (served_.empty()) report_.note("no connection to send the command to");
    for (Connection& connection : served_) sendCommand(connection, command);
}

void SinkLoop::readKeys() {
    char keys[256];
    const ssize_t got = ::read(STDIN_FILENO, keys, sizeof keys);
    if (got <= 0) {
        keys_ = false;  // end of input: no more keys
        return;
    }
    // One command per line typed: its first character.
    bool lineStart = true;
    for (char key : std::string_view(keys, static_cast<std::size_t>(got))) {
        if (lineStart && key == 'r') sendTyped(SET_OUT_ORIGINAL);
        if (lineStart && key == 't') sendTyped(SET_OUT_TEXT);
        if (lineStart && key == 'q') stop_ = true;
        lineStart = key == '\n';
    }
}

int runSink(int argc, char** argv) {
    const ParsedOptions parsed = parseSinkOptions(
        std::span<const char* const>(argv + 1, static_cast<std::size_t>(argc > 0 ? argc - 1 : 0)));
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", PROGRAM, parsed.error.c_str(), PROGRAM);
        return EXIT_BAD_ARGUMENT;
    }
    const SinkOptions& options = parsed.options;
    if (options.help) {
        std::fputs(sinkUsage(PROGRAM).c_str(), stdout);
        return 0;
    }

    std::FILE* dataFile = nullptr;
    if (!options.outFile.empty()) {
        dataFile = std::fopen(options.outFile.c_str(), "wb");
        if (dataFile == nullptr) {
            std::fprintf(stderr, "%s: cannot write '%s': %s\n", PROGRAM, options.outFile.c_str(),
                         std::strerror(errno));
            return EXIT_CANNOT_START;
        }
    }
    std::string error;
    UniqueFd listener = listenTcp(options.bindAddress, options.port, options.many, error);
    if (!listener.valid()) {
        std::fprintf(stderr, "%s: %s\n", PROGRAM, error.c_str());
        if (dataFile != nullptr) std::fclose(dataFile);
        return EXIT_CANNOT_START;
    }
    if (!catchStopSignals()) {
        std::fprintf(stderr, "%s: cannot catch signals: %s\n", PROGRAM, std::strerror(errno));
        if (dataFile != nullptr) std::fclose(dataFile);
        return EXIT_CANNOT_START;
    }

    SinkReport report(stdout, dataFile, options.countOnly);
    report.listening(localEndpoint(listener.get()));
    SinkLoop(options, report, std::move(listener)).run();
    report.summary();
    const bool dataFileFailed =
        report.dataFileFailed() || (dataFile != nullptr && std::fclose(dataFile) != 0);
    if (dataFileFailed) {
        std::fprintf(stderr, "%s: writing '%s' failed\n", PROGRAM, options.outFile.c_str());
        return EXIT_CANNOT_START;
    }
    return 0;
}

}  // namespace
}  // namespace velgor::sink

int main(int argc, char** argv) {
    return velgor::sink::runSink(argc, argv);
}
