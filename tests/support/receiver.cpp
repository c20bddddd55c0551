#include "support/receiver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "support/loopback_address.h"

extern char** environ;

namespace velgor::test {

namespace {

constexpr const char* RECEIVER_PROGRAM = "dump1090-mutability";
constexpr auto PORT_OPEN_TIMEOUT = std::chrono::seconds(10);
constexpr auto POLL_STEP = std::chrono::milliseconds(20);
constexpr auto STOP_GRACE = std::chrono::seconds(3);
constexpr int LAUNCH_ATTEMPTS = 3;

// Three ports that are free right now: bound together to port 0 so that they
// differ, then released for the receiver to take.
bool pickFreePorts(std::array<std::uint16_t, 3>& ports) {
    std::array<int, 3> sockets{-1, -1, -1};
    bool ok = true;
    for (std::size_t i = 0; i < sockets.size() && ok; ++i) {
        sockets[i] = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = loopbackAddress(0);
        socklen_t length = sizeof address;
        ok = sockets[i] >= 0 &&
             ::bind(sockets[i], reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
             ::getsockname(sockets[i], reinterpret_cast<sockaddr*>(&address), &length) == 0;
        if (ok) ports[i] = ntohs(address.sin_port);
    }
    for (int s : sockets) {
        if (s >= 0) ::close(s);
    }
    return ok;
}

bool readWholeFile(const std::string& path, std::string& contents) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    contents.clear();
    std::array<char, 65536> chunk;
    std::size_t n = 0;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), file)) > 0)
        contents.append(chunk.data(), n);
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

std::string defaultCaptureFile() {
    return std::string(VELGOR_DATA_DIR) + "/modes1-2400k.u8";
}

}  // namespace

int connectLoopback(std::uint16_t port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    sockaddr_in address = loopbackAddress(port);
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

bool readUntilClosed(const std::vector<int>& sockets, std::vector<std::string>& received,
                     std::chrono::milliseconds timeout) {
    received.assign(sockets.size(), std::string());
    std::vector<pollfd> open;
    for (int s : sockets) open.push_back(pollfd{s, POLLIN, 0});
    std::size_t remaining = sockets.size();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::array<char, 65536> buffer;
    while (remaining > 0 && std::chrono::steady_clock::now() < deadline) {
        if (::poll(open.data(), open.size(), static_cast<int>(POLL_STEP.count())) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (std::size_t i = 0; i < open.size(); ++i) {
            if (open[i].fd < 0 || open[i].revents == 0) continue;
            const ssize_t n = ::recv(open[i].fd, buffer.data(), buffer.size(), 0);
            if (n > 0) {
                received[i].append(buffer.data(), static_cast<std::size_t>(n));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                ::close(open[i].fd);
                open[i].fd = -1;
                --remaining;
            }
        }
    }
    for (const pollfd& p : open) {
        if (p.fd >= 0) ::close(p.fd);
    }
    return remaining == 0;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '\r' || text[i] == '\n') {
            if (i > start) lines.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return lines;
}

Receiver::Receiver(ReceiverOptions options) : options_(std::move(options)) {
    if (options_.captureFile.empty()) options_.captureFile = defaultCaptureFile();
}

Receiver::~Receiver() {
    stop();
}

bool Receiver::start() {
    if (!readWholeFile(options_.captureFile, capture_) || capture_.empty()) {
        error_ = "cannot read " + options_.captureFile;
        return false;
    }
    // A port picked free may be taken by someone else before the receiver
    // binds it; the receiver then exits, and another set is tried.
    for (int attempt = 0; attempt < LAUNCH_ATTEMPTS; ++attempt) {
        if (launch() && waitForPorts(PORT_OPEN_TIMEOUT)) return true;
        stop();
    }
    return false;
}

bool Receiver::launch() {
    std::array<std::uint16_t, 3> ports{};
    if (!pickFreePorts(ports)) {
        error_ = "no free loopback ports";
        return false;
    }
    binaryPort_ = ports[0];
    rawPort_ = ports[1];
    sbsPort_ = ports[2];

    int input[2];
    if (::pipe2(input, O_CLOEXEC) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    std::vector<std::string> args = {RECEIVER_PROGRAM,
                                     "--ifile",
                                     "-",
                                     "--quiet",
                                     "--net",
                                     "--net-bind-address",
                                     "127.0.0.1",
                                     "--net-heartbeat",
                                     "0",
                                     "--net-http-port",
                                     "0",
                                     "--net-ri-port",
                                     "0",
                                     "--net-bi-port",
                                     "0",
                                     "--net-bo-port",
                                     std::to_string(binaryPort_),
                                     "--net-ro-port",
                                     std::to_string(rawPort_),
                                     "--net-sbs-port",
                                     std::to_string(sbsPort_)};
    if (options_.mlat) args.emplace_back("--mlat");
    if (options_.modeAC) args.emplace_back("--modeac");
    if (options_.throttle) args.emplace_back("--throttle");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int rc =
        ::posix_spawnp(&pid, RECEIVER_PROGRAM, &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(input[0]);
    if (rc != 0) {
        ::close(input[1]);
        error_ = std::string("cannot start ") + RECEIVER_PROGRAM + ": " + std::strerror(rc);
        return false;
    }
    pid_ = pid;
    inputFd_ = input[1];
    exitStatus_ = -1;
    return true;
}

bool Receiver::waitForPorts(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (std::uint16_t port : {binaryPort_, rawPort_, sbsPort_}) {
        for (;;) {
            const int s = connectLoopback(port);
            if (s >= 0) {
                ::close(s);
                break;
            }
            if (reap(false)) {
                error_ = "receiver exited before opening port " + std::to_string(port);
                return false;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                error_ = "receiver did not open port " + std::to_string(port);
                return false;
            }
            std::this_thread::sleep_for(POLL_STEP);
        }
    }
    return true;
}

void Receiver::startInput() {
    if (pid_ <= 0 || inputFd_ < 0 || feeder_.joinable()) return;
    stopFeeding_ = false;
    feeder_ = std::thread([this] { feed(); });
}

void Receiver::feed() {
    // A receiver that goes away makes the write fail with EPIPE; its SIGPIPE is
    // kept blocked in this thread (and dropped with it), not the process's.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    for (int pass = 0; options_.replays == 0 || pass < options_.replays; ++pass) {
        std::size_t done = 0;
        while (done < capture_.size()) {
            if (stopFeeding_) break;
            const ssize_t n = ::write(inputFd_, capture_.data() + done, capture_.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                stopFeeding_ = true;
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        if (stopFeeding_) break;
    }
    ::close(inputFd_);  // end of input: the receiver finishes and exits
    inputFd_ = -1;
}

bool Receiver::reap(bool block) {
    if (pid_ <= 0) return true;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
    if (r == pid_ || (r < 0 && errno == ECHILD)) {
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pid_ = -1;
        return true;
    }
    return false;
}

bool Receiver::waitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!reap(false)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(POLL_STEP);
    }
    return true;
}

void Receiver::stop() {
    stopFeeding_ = true;
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        if (!waitForExit(std::chrono::duration_cast<std::chrono::milliseconds>(STOP_GRACE))) {
            ::kill(pid_, SIGKILL);
            reap(true);
        }
    }
    // With the receiver gone a blocked write fails, so the feeder ends.
    if (feeder_.joinable()) feeder_.join();
    if (inputFd_ >= 0) {
        ::close(inputFd_);
        inputFd_ = -1;
    }
}

ReceiverRun captureReceiverRun(ReceiverOptions options, std::chrono::milliseconds clientDelay) {
    ReceiverRun run;
    options.replays = options.replays == 0 ? 1 : options.replays;
    Receiver receiver(options);
    if (!receiver.start()) {
        run.error = receiver.error();
        return run;
    }
    std::vector<int> sockets;
    for (std::uint16_t port : {receiver.binaryPort(), receiver.rawPort(), receiver.sbsPort()}) {
        const int s = connectLoopback(port);
        if (s < 0) {
            for (int open : sockets) ::close(open);
            run.error = "cannot connect to port " + std::to_string(port);
            return run;
        }
        sockets.push_back(s);
    }
    // The receiver takes new clients in its main loop; without a pause the
    // first messages of a fast replay would go out before it had them.
    std::this_thread::sleep_for(clientDelay);
    receiver.startInput();
    std::vector<std::string> received;
    const bool closed = readUntilClosed(sockets, received, std::chrono::seconds(60));
    const bool exited = receiver.waitForExit(std::chrono::seconds(10));
    receiver.stop();
    run.binary = std::move(received[0]);
    run.raw = std::move(received[1]);
    run.sbs = std::move(received[2]);
    run.complete = closed && exited;
    if (!run.complete) run.error = "the receiver did not finish its replay";
    return run;
}

}  // namespace velgor::test
