// The built velgor-sink program on a loopback port: a scripted relay connects,
// and what the program prints, writes and sends back is checked.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/cp1251_literal.h"
#include "sink/test_framer.h"

namespace velgor::sink {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr auto PATIENCE = 20s;  // only a limit for a broken program, never a measure

// Appends what `fd` gives to `into` until `done` holds, the fd ends or time is up.
template <typename Done>
bool readUntil(int fd, std::string& into, Done done) {
    const auto deadline = Clock::now() + PATIENCE;
    while (!done()) {
        pollfd p{fd, POLLIN, 0};
        if (Clock::now() >= deadline || ::poll(&p, 1, 100) < 0) return false;
        if (p.revents == 0) continue;
        char chunk[4096];
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got <= 0) return false;
        into.append(chunk, static_cast<std::size_t>(got));
    }
    return true;
}

// The program, its standard output and error read through pipes.
class SinkProcess {
  public:
    explicit SinkProcess(std::vector<std::string> args) {
        int out[2], err[2];
        if (::pipe(out) != 0 || ::pipe(err) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            ::dup2(::open("/dev/null", O_RDONLY), STDIN_FILENO);
            args.insert(args.begin(), VELGOR_SINK_PROGRAM);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            _exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~SinkProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
        ::close(err_);
    }
    bool waitFor(const std::string& text) {
        return readUntil(out_, output, [&] { return output.find(text) != std::string::npos; });
    }
    // Sends `signal` (0: none), reads all output and returns the exit code (-1: killed).
    int finish(int signal) {
        if (signal != 0) ::kill(pid_, signal);
        readUntil(out_, output, [] { return false; });
        readUntil(err_, errors, [] { return false; });
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::uint16_t port() {
        if (!waitFor("\n")) return 0;
        const auto at = output.find("127.0.0.1:");
        return at == std::string::npos
                   ? 0
                   : static_cast<std::uint16_t>(std::stoi(output.substr(at + 10)));
    }

    std::string output;
    std::string errors;

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
};

struct Relay {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    explicit Relay(std::uint16_t port) {
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(port);
        where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&where), sizeof where), 0);
    }
    ~Relay() { close(); }
    void close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    void send(const std::string& bytes) const {
        EXPECT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    std::string receive(std::size_t count) const {
        std::string got;
        readUntil(fd, got, [&] { return got.size() >= count; });
        return got;
    }
};

const std::vector<std::string> HANDSHAKE = {cp1251<u8"#Кервала\r\n">, "#47.000000\r\n",
                                            "#-2.000000\r\n"};
const std::string LINE_A = "@0000123456785D4840D6202CC3;\r\n";
const std::string LINE_B = "*8D4840D6202CC371C32CE0576098;\r\n";
// Receiver bytes in raw pass-through: a binary record holding an escaped 0x1A,
// a 0x10 and, last, an LF byte.
const std::string RAW = std::string("\x1A\x33\x00\x00\x12\x34\x56\x78\x40\x10\x1A\x1A\x0A", 13);

TEST(SinkProgram, ServesConnectionsInTurnAndAnswersAfterNLines) {
    const std::string outFile =
        std::filesystem::temp_directory_path() / ("sink-out-" + std::to_string(::getpid()));
    SinkProcess sink({"--port", "0", "--out", outFile, "--raw-after", "3", "--text-after", "4"});
    const std::uint16_t port = sink.port();
    ASSERT_NE(port, 0) << sink.output;

    Relay first(port);
    for (const std::string& line : HANDSHAKE) first.send(line);  // one send each
    first.send("#TEXT\r\n");
    first.send(LINE_A + LINE_B);
    Relay second(port);  // waits while the first is served
    for (const std::string& line : HANDSHAKE) second.send(line);
    second.send("#BINARY:COMPRESS\r\n");
    second.send(test::textOf(test::frame(test::zlibCompress(LINE_B + LINE_A))));

    ASSERT_TRUE(sink.waitFor("*8D4840D6202CC371C32CE0576098;\n")) << sink.output;
    first.send(LINE_A);
    EXPECT_EQ(first.receive(24), "#SET OUT DATE ORIGINAL\r\n");
    first.send(RAW);
    first.send(LINE_B);
    EXPECT_EQ(first.receive(20), "#SET OUT DATE TEXT\r\n");
    first.close();
    ASSERT_TRUE(sink.waitFor("mode: BINARY:COMPRESS")) << sink.output;
    second.close();
    ASSERT_TRUE(sink.waitFor("connection 2 closed")) << sink.output;
    EXPECT_EQ(sink.finish(SIGTERM), 0) << sink.errors;

    // In this order; a command sent too early would split the lines before it.
    const std::vector<std::string> inOrder = {
        "connection 1 from 127.0.0.1:",
        "name: Кервала\nlatitude: 47.000000\nlongitude: -2.000000\nmode: TEXT  (plain lines)\n",
        "@0000123456785D4840D6202CC3;\n*8D4840D6202CC371C32CE0576098;\n"
        "@0000123456785D4840D6202CC3;\n",
        "sent: #SET OUT DATE ORIGINAL\n",
        "[raw data: 13 bytes]\n*8D4840D6202CC371C32CE0576098;\n",
        "sent: #SET OUT DATE TEXT\n",
        "connection 1 closed: 4 lines, 0 frames, 0 bad frames, 0 stray bytes, 13 raw bytes\n",
        "connection 2 from 127.0.0.1:",
        "mode: BINARY:COMPRESS  (compressed frames)\n",
        "*8D4840D6202CC371C32CE0576098;\n@0000123456785D4840D6202CC3;\n",
        "connection 2 closed: 2 lines, 1 frames, 0 bad frames, 0 stray bytes, 0 raw bytes\n",
        "summary: 2 connections, 6 lines, 1 frames, 0 bad frames, 0 stray bytes, 13 raw bytes\n",
    };
    std::size_t from = 0;
    for (const std::string& part : inOrder) {
        const auto at = sink.output.find(part, from);
        ASSERT_NE(at, std::string::npos) << "missing or out of order: " << part << sink.output;
        from = at + part.size();
    }
    std::ostringstream written;
    written << std::ifstream(outFile, std::ios::binary).rdbuf();
    EXPECT_EQ(written.str(), LINE_A + LINE_B + LINE_A + RAW + LINE_B + LINE_B + LINE_A);
    std::filesystem::remove(outFile);
}

TEST(SinkProgram, ManyServesEveryConnectionAtOnce) {
    SinkProcess sink({"--port", "0", "--many", "--count", "--raw-after", "1"});
    const std::uint16_t port = sink.port();
    ASSERT_NE(port, 0) << sink.output;

    // The second station is served, and answered, while the first stays connected.
    Relay first(port);
    Relay second(port);
    second.send("#Second\r\n#1\r\n#2\r\n#TEXT\r\n" + LINE_A);
    EXPECT_EQ(second.receive(24), "#SET OUT DATE ORIGINAL\r\n");
    ASSERT_TRUE(sink.waitFor("name: Second\n")) << sink.output;
    first.send("#First\r\n#1\r\n#2\r\n#TEXT\r\n" + LINE_B);
    EXPECT_EQ(first.receive(24), "#SET OUT DATE ORIGINAL\r\n");
    ASSERT_TRUE(sink.waitFor("name: First\n")) << sink.output;
    second.close();
    ASSERT_TRUE(sink.waitFor("closed: 1 lines")) << sink.output;
    Relay third(port);
    ASSERT_TRUE(sink.waitFor("connection 3 from")) << sink.output;
    EXPECT_EQ(sink.finish(SIGTERM), 0) << sink.errors;
    EXPECT_NE(sink.output.find("summary: 3 connections, 2 lines"), std::string::npos)
        << sink.output;
}

TEST(SinkProgram, RefusesBadArgumentsWithCodeTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {"--port", "99999"}, {"--bind", "localhost"}, {"--count=1"}, {"--many=1"}, {"--raw-after"},
        {"--out"},           {"--raw-after", "many"}, {"extra"}};
    for (const std::vector<std::string>& args : cases) {
        SinkProcess sink(args);
        EXPECT_EQ(sink.finish(0), 2) << args[0];
        // The message names what was wrong.
        const std::string named = args.back().substr(0, args.back().find('='));
        EXPECT_NE(sink.errors.find(named), std::string::npos) << sink.errors;
    }
}

}  // namespace
}  // namespace velgor::sink
