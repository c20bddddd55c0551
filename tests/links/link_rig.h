#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "links/reconnect_thread.h"
#include "links/relay.h"
#include "log/message_log.h"
#include "shell/platform/poll_relay_host.h"
#include "sys/consumer_lock.h"
#include "sys/socket_calls.h"
#include "sys/socket_ops.h"
#include "sys/unique_fd.h"

namespace velgor::test {

using namespace std::chrono_literals;

// A listening TCP socket on 127.0.0.1 (or ::1) with an ephemeral port.
class Listener {
  public:
    // receiveBuffer > 0 sets SO_RCVBUF before listening (accepted sockets inherit it).
    explicit Listener(int backlog = 8, int receiveBuffer = 0,
                      AddressFamily family = AddressFamily::IPv4);
    explicit Listener(AddressFamily family) : Listener(8, 0, family) {}

    std::uint16_t port() const { return port_; }
    // A connection waiting in the backlog (non-blocking, the caller's to close),
    // or INVALID_FD; never blocks.
    int tryAccept() const;

  private:
    std::uint16_t port_ = 0;
    UniqueFd fd_;
};

// A port on 127.0.0.1 (or ::1) where nothing listens (a bound, non-listening
// socket holds it, so no other test takes it meanwhile): connects to it are
// refused. Port 0: an ephemeral one.
class RefusingPort {
  public:
    explicit RefusingPort(AddressFamily family = AddressFamily::IPv4, std::uint16_t port = 0);
    std::uint16_t port() const { return port_; }

  private:
    std::uint16_t port_ = 0;
    UniqueFd fd_;
};

// The far end of one relay connection, as the receiver or the consumer holds it.
// It owns the socket, which it makes non-blocking.
class Peer {
  public:
    Peer() = default;
    explicit Peer(int fd);
    ~Peer() { close(); }
    Peer(Peer&& other) noexcept;
    Peer& operator=(Peer&& other) noexcept;

    bool connected() const { return fd_ != INVALID_FD; }
    int fd() const { return fd_; }
    // Takes whatever has arrived, without waiting. Returns false once the relay
    // has closed its end (everything it sent has then been taken).
    bool readAvailable();
    const std::string& received() const { return received_; }
    bool closedByRelay() const { return closedByRelay_; }
    // Sends all bytes (blocking); false if the connection refused them.
    bool send(std::string_view bytes) const;
    void close();

  private:
    int fd_ = INVALID_FD;
    std::string received_;
    bool closedByRelay_ = false;
};

// Descriptors open in this process right now (on Windows: handles, sockets
// among them).
int openDescriptorCount();

// What a socket's options say: send coalescing off, non-blocking mode.
bool noDelayOn(int socket);
bool isNonBlocking(int socket);
// Sets a socket's send buffer (SO_SNDBUF).
void setSendBuffer(int socket, int bytes);

// The status texts each link showed, in UTF-8, in the order the status lines
// were rewritten; a refresh that changed nothing for a link adds nothing.
class StatusHistory : public PaneObserver {
  public:
    explicit StatusHistory(Relay& relay) : relay_(relay) {}
    void logLineShown(std::string_view /*text*/) override { ++logLinesShown; }
    void statusLinesChanged() override;

    const std::vector<std::string>& of(int link) const;
    // When each of those texts was first shown.
    const std::vector<std::chrono::steady_clock::time_point>& timesOf(int link) const;
    void clear();

    int logLinesShown = 0;  // the pane's log lines moved this often

  private:
    struct History {
        std::vector<std::string> texts;
        std::vector<std::chrono::steady_clock::time_point> times;
    };
    Relay& relay_;
    History source_;
    History consumer_;
};

// The consumer send lock in a fresh directory, removed with it afterwards.
class TempConsumerLock {
  public:
    TempConsumerLock();
    ~TempConsumerLock();
    TempConsumerLock(const TempConsumerLock&) = delete;
    TempConsumerLock& operator=(const TempConsumerLock&) = delete;
    ConsumerLock& lock() { return lock_; }

  private:
    std::string dir_;
    ConsumerLock lock_;
};

// The far ends of both links: a listener for each on 127.0.0.1, and the
// connections the relay made to them.
struct LinkPeers {
    Listener source;
    Listener consumer;
    Peer receiver;
    Peer feed;
};

// The console's poll host, noting each time the relay holds the receiver back or
// lets it go, with what waited for the consumer then.
class RigHost : public PollRelayHost {
  public:
    struct Hold {
        bool on = false;
        std::size_t queued = 0;
    };
    void recordFor(const Relay& relay) { relay_ = &relay; }
    void holdReading(int link, int socket, bool on) override {
        holds.push_back({on, relay_ != nullptr ? relay_->consumerOutbox().queued() : 0});
        PollRelayHost::holdReading(link, socket, on);
    }
    std::vector<Hold> holds;

  private:
    const Relay* relay_ = nullptr;
};

// How LinkRig::connectBoth brings the links up.
enum class Connecting { ByAttempts, ByReconnectThread };

// A relay on the console's poll host, with a real send lock in a directory of
// its own. The test's thread is the relay's main thread; the test drives the
// loop (pump, runUntil).
class LinkRig {
  public:
    explicit LinkRig(SocketOps& ops = systemSocketOps(), CompressFn compress = nullptr);
    ~LinkRig();
    LinkRig(const LinkRig&) = delete;
    LinkRig& operator=(const LinkRig&) = delete;

    void setEndpoint(int link, std::uint16_t port, std::string_view hostText = "127.0.0.1");
    // The link's status text, in UTF-8.
    std::string status(int link);
    LinkState state(int link);
    // The link's socket; read it only on the main thread while the link is up
    // (a link that is not up belongs to the connecting thread).
    int socketOf(int link);

    // One connection attempt on a thread of its own, as the reconnect thread makes
    // it; pumps until the attempt is over.
    void attempt(int link);
    // Connects `link` to `listener` with one attempt and takes the connection.
    Peer connect(int link, const Listener& listener);

    void startReconnecting(RetrySchedule consumerSchedule = consumerRetryPause);
    // Stops the reconnect thread, pumping meanwhile (it may be waiting for the
    // main thread).
    void stopReconnecting();
    // Pumps until the link is up (and `peer` accepted when given a listener).
    bool waitUp(int link, std::chrono::milliseconds timeout = 5s);
    Peer acceptWhenUp(int link, const Listener& listener, std::chrono::milliseconds timeout = 5s);
    // Points both links at `peers`' listeners and brings them up: by one attempt
    // each (source first), or with the reconnect thread running. True once both
    // are up and the consumer holds the four handshake lines.
    bool connectBoth(LinkPeers& peers, Connecting how = Connecting::ByAttempts);
    // Pumps until `feed` holds the four handshake lines of its connection.
    bool waitForHandshake(Peer& feed);

    // Runs the tick duties `count` times.
    void tick(int count = 1);

    RigHost host;
    TempConsumerLock sendLock;
    Relay relay;
    StatusHistory statuses{relay};
    std::vector<std::pair<int, LinkDrop>> drops;  // every drop, with its cause

  private:
    std::unique_ptr<ReconnectThread> reconnect_;
};

// Lines in the order they came, each with its CR LF.
std::vector<std::string> linesOf(std::string_view stream);

}  // namespace velgor::test
