#include "links/link_rig.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <utility>

#include "config/cp1251.h"
#include "support/loopback_address.h"

namespace velgor::test {
namespace {

// Binds a new socket to 127.0.0.1 on an ephemeral port; returns it and the port.
int boundSocket(std::uint16_t& port, int receiveBuffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket");
    if (receiveBuffer > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in address = loopbackAddress(0);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("bind");
    }
    port = ntohs(address.sin_port);
    return fd;
}

constexpr auto ATTEMPT_LIMIT = 30s;

}  // namespace

Listener::Listener(int backlog, int receiveBuffer) {
    fd_ = boundSocket(port_, receiveBuffer);
    // Non-blocking, so that tryAccept never waits.
    if (::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK) != 0 ||
        ::listen(fd_, backlog) != 0) {
        throw std::runtime_error("listen");
    }
}

Listener::~Listener() {
    ::close(fd_);
}

int Listener::tryAccept() const {
    return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
}

RefusingPort::RefusingPort() {
    fd_ = boundSocket(port_);
}
RefusingPort::~RefusingPort() {
    ::close(fd_);
}

Peer::Peer(Peer&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      received_(std::move(other.received_)),
      closedByRelay_(other.closedByRelay_) {}

Peer& Peer::operator=(Peer&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        received_ = std::move(other.received_);
        closedByRelay_ = other.closedByRelay_;
    }
    return *this;
}

bool Peer::readAvailable() {
    if (fd_ < 0 || closedByRelay_) return false;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            received_.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
        closedByRelay_ = true;
        return false;
    }
}

bool Peer::send(std::string_view bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            std::this_thread::sleep_for(1ms);
            continue;
        }
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void Peer::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

int openDescriptorCount() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.') ++count;
        }
        ::closedir(dir);
        --count;  // the directory's own descriptor
    }
    return count;
}

void StatusHistory::statusLinesChanged() {
    auto note = [this](int link, History& history) {
        std::string text = cp1251ToUtf8(relay_.links().statusText(link).view());
        // A link that has shown nothing yet starts its history with its first text.
        if (history.texts.empty() ? text.empty() : history.texts.back() == text) return;
        history.texts.push_back(std::move(text));
        history.times.push_back(std::chrono::steady_clock::now());
    };
    note(LINK_SOURCE, source_);
    note(LINK_CONSUMER, consumer_);
}

const std::vector<std::string>& StatusHistory::of(int link) const {
    return (link == LINK_SOURCE ? source_ : consumer_).texts;
}

const std::vector<std::chrono::steady_clock::time_point>& StatusHistory::timesOf(int link) const {
    return (link == LINK_SOURCE ? source_ : consumer_).times;
}

void StatusHistory::clear() {
    source_ = History{};
    consumer_ = History{};
}

TempConsumerLock::TempConsumerLock()
    : dir_([] {
          char pattern[] = "/tmp/velgor-links-XXXXXX";
          if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
          return std::string(pattern);
      }()),
      lock_(dir_) {}

TempConsumerLock::~TempConsumerLock() {
    lock_ = ConsumerLock(std::string());  // closes the lock file
    ::unlink((dir_ + "/" + CONSUMER_LOCK_NAME).c_str());
    ::rmdir(dir_.c_str());
}

LinkRig::LinkRig(SocketOps& ops, CompressFn compress)
    : relay(host, compress, sendLock.lock(), ops) {
    host.attach(relay);
    relay.messageLog().setObserver(&statuses);
    relay.setDropListener([this](int link, const LinkDrop& why) { drops.emplace_back(link, why); });
}

LinkRig::~LinkRig() {
    host.beginShutdown();
    reconnect_.reset();
}

void LinkRig::setEndpoint(int link, std::uint16_t port, std::string_view hostText) {
    relay.links().setEndpoint(link, port, hostText);
}

std::string LinkRig::status(int link) {
    return cp1251ToUtf8(relay.links().statusText(link).view());
}

LinkState LinkRig::state(int link) {
    return static_cast<LinkState>(relay.links().slot(link).state.load());
}

int LinkRig::socketOf(int link) {
    return relay.links().slot(link).socket.get();
}

void LinkRig::attempt(int link) {
    std::atomic<bool> done{false};
    std::jthread worker([&](std::stop_token stop) {
        relay.connectLink(link, stop);
        done = true;
    });
    if (!host.runUntil([&] { return done.load(); }, ATTEMPT_LIMIT)) {
        ADD_FAILURE() << "a connection attempt did not end";
        worker.request_stop();
        host.runUntil([&] { return done.load(); }, ATTEMPT_LIMIT);
    }
}

Peer LinkRig::connect(int link, const Listener& listener) {
    attempt(link);
    Peer peer(listener.tryAccept());
    EXPECT_TRUE(peer.connected()) << "the relay did not connect";
    return peer;
}

void LinkRig::startReconnecting() {
    reconnect_ = std::make_unique<ReconnectThread>(relay);
    reconnect_->start();
}

void LinkRig::stopReconnecting() {
    if (!reconnect_) return;
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        reconnect_->stop();
        stopped = true;
    });
    host.runUntil([&] { return stopped.load(); }, ATTEMPT_LIMIT);
    stopper.join();
    reconnect_.reset();
}

bool LinkRig::waitUp(int link, std::chrono::milliseconds timeout) {
    return host.runUntil([&] { return relay.links().isUp(link); }, timeout);
}

Peer LinkRig::acceptWhenUp(int link, const Listener& listener, std::chrono::milliseconds timeout) {
    Peer peer;
    host.runUntil(
        [&] {
            if (!peer.connected()) peer = Peer(listener.tryAccept());
            return peer.connected() && relay.links().isUp(link);
        },
        timeout);
    return peer;
}

bool LinkRig::connectBoth(LinkPeers& peers, Connecting how) {
    setEndpoint(LINK_SOURCE, peers.source.port());
    setEndpoint(LINK_CONSUMER, peers.consumer.port());
    if (how == Connecting::ByAttempts) {
        peers.receiver = connect(LINK_SOURCE, peers.source);
        peers.feed = connect(LINK_CONSUMER, peers.consumer);
    } else {
        startReconnecting();
        peers.feed = acceptWhenUp(LINK_CONSUMER, peers.consumer);
        peers.receiver = acceptWhenUp(LINK_SOURCE, peers.source);
    }
    return peers.feed.connected() && peers.receiver.connected() && waitForHandshake(peers.feed);
}

bool LinkRig::waitForHandshake(Peer& feed) {
    const auto handshakeLines = [&] {
        feed.readAvailable();
        const std::string& bytes = feed.received();
        std::size_t ends = 0;
        for (std::size_t at = bytes.find("\r\n"); at != std::string::npos;
             at = bytes.find("\r\n", at + 2)) {
            ++ends;
        }
        return ends >= 4;
    };
    return host.runUntil(handshakeLines, 5s);
}

void LinkRig::tick(int count) {
    for (int i = 0; i < count; ++i) relay.tickDuties();
}

std::vector<std::string> linesOf(std::string_view stream) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < stream.size()) {
        const std::size_t end = stream.find('\n', start);
        if (end == std::string_view::npos) {
            lines.emplace_back(stream.substr(start));
            break;
        }
        lines.emplace_back(stream.substr(start, end + 1 - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace velgor::test
