#include "links/link_rig.h"

#ifdef _WIN32
#include "sys/win/winsock_fd.h"
#else
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "config/cp1251.h"
#include "sys/ip_sockaddr.h"
#include "sys/socket_calls.h"

namespace velgor::test {
namespace {

// The few calls the rig makes that differ between POSIX sockets and Winsock.
#ifdef _WIN32
using socklen_t = int;
SOCKET native(int socket) {
    return toSocket(socket);
}
#else
int native(int socket) {
    return socket;
}
#endif

// The loopback address of the family: 127.0.0.1 or ::1.
IpAddress loopbackOf(AddressFamily family) {
    IpAddress address;
    address.family = family;
    if (family == AddressFamily::IPv6) {
        address.bytes[15] = 1;
    } else {
        address.bytes = {127, 0, 0, 1};
    }
    return address;
}

// Binds a new socket to the family's loopback address on `port` (0: an ephemeral
// one); returns it and sets the port.
UniqueFd boundSocket(std::uint16_t& port, int receiveBuffer = 0,
                     AddressFamily family = AddressFamily::IPv4) {
    UniqueFd socket = openTcpSocket(family);
    if (!socket.valid()) throw std::runtime_error("socket");
    if (receiveBuffer > 0) {
        ::setsockopt(native(socket.get()), SOL_SOCKET, SO_RCVBUF,
                     reinterpret_cast<const char*>(&receiveBuffer), sizeof receiveBuffer);
    }
    const NativeAddress address = nativeAddress(loopbackOf(family), port);
    IpAddress bound;
    if (::bind(native(socket.get()), address.get(), address.length) != 0 ||
        !socketAddress(socket.get(), bound, port)) {
        throw std::runtime_error("bind");
    }
    return socket;
}

constexpr auto ATTEMPT_LIMIT = 30s;

// Whether the last socket call failed only because it would have had to wait.
bool wouldWait(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

}  // namespace

Listener::Listener(int backlog, int receiveBuffer, AddressFamily family)
    : fd_(boundSocket(port_, receiveBuffer, family)) {
    // Non-blocking, so that tryAccept never waits.
    if (!setNonBlocking(fd_.get(), true) || ::listen(native(fd_.get()), backlog) != 0) {
        throw std::runtime_error("listen");
    }
}

int Listener::tryAccept() const {
    UniqueFd accepted = acceptConnection(fd_.get());
    if (accepted.valid() && !setNonBlocking(accepted.get(), true)) return INVALID_FD;
    return accepted.release();
}

RefusingPort::RefusingPort(AddressFamily family, std::uint16_t port)
    : port_(port), fd_(boundSocket(port_, 0, family)) {}

Peer::Peer(int fd) : fd_(fd) {
    if (fd_ != INVALID_FD && !setNonBlocking(fd_, true)) close();
}

Peer::Peer(Peer&& other) noexcept
    : fd_(std::exchange(other.fd_, INVALID_FD)),
      received_(std::move(other.received_)),
      closedByRelay_(other.closedByRelay_) {}

Peer& Peer::operator=(Peer&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, INVALID_FD);
        received_ = std::move(other.received_);
        closedByRelay_ = other.closedByRelay_;
    }
    return *this;
}

bool Peer::readAvailable() {
    if (fd_ == INVALID_FD || closedByRelay_) return false;
    char buffer[65536];
    for (;;) {
        const long n = systemSocketOps().recv(fd_, buffer, sizeof buffer);
        if (n > 0) {
            received_.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && wouldWait(errno)) return true;
        closedByRelay_ = true;
        return false;
    }
}

bool Peer::send(std::string_view bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const long n = systemSocketOps().send(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && wouldWait(errno)) {
            std::this_thread::sleep_for(1ms);
            continue;
        }
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void Peer::close() {
    UniqueFd closed(std::exchange(fd_, INVALID_FD));
}

#ifdef _WIN32
namespace {

// The system's handle table (NtQuerySystemInformation's
// SystemExtendedHandleInformation): one entry per open handle of every process.
using QuerySystemInformation = LONG(WINAPI*)(ULONG kind, void* into, ULONG size, ULONG* needed);
constexpr ULONG EXTENDED_HANDLE_INFORMATION = 64;
constexpr LONG INFO_LENGTH_MISMATCH = static_cast<LONG>(0xC0000004L);
struct HandleEntry {
    void* object;
    ULONG_PTR process;
    ULONG_PTR handle;
    ULONG access;
    USHORT creatorBackTraceIndex;
    USHORT objectType;
    ULONG attributes;
    ULONG reserved;
};
struct HandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};

// This process's entries in the system's handle table.
std::vector<HandleEntry> handlesOfThisProcess() {
    const auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) throw std::runtime_error("NtQuerySystemInformation");
    std::vector<unsigned char> table(1 << 16);
    for (;;) {
        ULONG needed = 0;
        const LONG status = query(EXTENDED_HANDLE_INFORMATION, table.data(),
                                  static_cast<ULONG>(table.size()), &needed);
        if (status == INFO_LENGTH_MISMATCH) {
            table.resize(std::max<std::size_t>(table.size() * 2, needed));
            continue;
        }
        if (status != 0) throw std::runtime_error("the system's handle table");
        break;
    }
    const auto& handles = *reinterpret_cast<const HandleTable*>(table.data());
    const ULONG_PTR me = ::GetCurrentProcessId();
    std::vector<HandleEntry> mine;
    for (ULONG_PTR i = 0; i < handles.count; ++i) {
        if (handles.entries[i].process == me) mine.push_back(handles.entries[i]);
    }
    return mine;
}

// The object type of a socket's handle (a file's, on Windows), found once.
USHORT socketObjectType() {
    static const USHORT type = [] {
        const UniqueFd probe = openTcpSocket();
        for (const HandleEntry& entry : handlesOfThisProcess()) {
            if (entry.handle == static_cast<ULONG_PTR>(native(probe.get())))
                return entry.objectType;
        }
        throw std::runtime_error("a socket that is not in the handle table");
    }();
    return type;
}

}  // namespace
#endif

int openDescriptorCount() {
#ifdef _WIN32
    // The handles of a socket's kind (sockets and files): the descriptors here.
    // Threads and events are not counted: the run-time makes and keeps some as it
    // likes. (GetProcessHandleCount would count them all, and answers 0 under wine.)
    const USHORT type = socketObjectType();
    int count = 0;
    for (const HandleEntry& entry : handlesOfThisProcess()) {
        if (entry.objectType == type) ++count;
    }
    return count;
#else
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.') ++count;
        }
        ::closedir(dir);
        --count;  // the directory's own descriptor
    }
    return count;
#endif
}

bool noDelayOn(int socket) {
    int noDelay = 0;
    socklen_t size = sizeof noDelay;
    if (::getsockopt(native(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&noDelay),
                     &size) != 0) {
        throw std::runtime_error("getsockopt TCP_NODELAY");
    }
    return noDelay != 0;
}

bool isNonBlocking(int socket) {
#ifdef _WIN32
    // Winsock cannot be asked; a receive with nothing to take tells. A blocking
    // socket would wait, so a receive time-out keeps the question short.
    const DWORD limit = 1000;
    const DWORD none = 0;
    const SOCKET s = native(socket);
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    char probe = 0;
    const int got = ::recv(s, &probe, 1, MSG_PEEK);
    const int error = ::WSAGetLastError();
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&none), sizeof none);
    if (got != SOCKET_ERROR) throw std::runtime_error("isNonBlocking: data was waiting");
    return error == WSAEWOULDBLOCK;
#else
    return (::fcntl(socket, F_GETFL) & O_NONBLOCK) != 0;
#endif
}

void setSendBuffer(int socket, int bytes) {
    if (::setsockopt(native(socket), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes),
                     sizeof bytes) != 0) {
        throw std::runtime_error("setsockopt SO_SNDBUF");
    }
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
          std::random_device random;
          const auto base = std::filesystem::temp_directory_path();
          for (int attempt = 0; attempt < 100; ++attempt) {
              auto candidate = base / ("velgor-links-" + std::to_string(random()));
              if (std::filesystem::create_directory(candidate)) return candidate.string();
          }
          throw std::runtime_error("no temporary directory");
      }()),
      lock_(dir_) {}

TempConsumerLock::~TempConsumerLock() {
    lock_ = ConsumerLock(std::string());  // closes the lock file
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

LinkRig::LinkRig(SocketOps& ops, CompressFn compress)
    : relay(host, compress, sendLock.lock(), ops) {
    host.attach(relay);
    host.recordFor(relay);
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

void LinkRig::startReconnecting(RetrySchedule consumerSchedule) {
    reconnect_ = std::make_unique<ReconnectThread>(relay, consumerSchedule);
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
