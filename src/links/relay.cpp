#include "links/relay.h"

#include <array>
#include <string>
#include <vector>

#include "config/settings_loader.h"
#include "links/link_send_ops.h"
#include "links/link_texts.h"
#include "links/socket_event.h"
#include "links/tcp_connect.h"
#include "sys/socket_calls.h"

namespace velgor {
namespace {

// The period of the tick, and the ticks the watchdog may pause for a hold at most:
// a hold ends by then anyway, with the consumer's drop for a line too old.
constexpr std::chrono::milliseconds TICK{100};
constexpr int HOLD_PAUSE_TICKS = static_cast<int>(CONSUMER_AGE_LIMIT / TICK);

// The cause of a close event: the peer's close, or the error it carries.
LinkDrop closeOf(int event) {
    const int error = eventError(event);
    return {error != 0 ? DropCause::ConnectionError : DropCause::PeerClosed, error};
}

// Whether two sets of settings (or of handshake values) name the same stream mode.
template <class A, class B>
bool sameMode(const A& a, const B& b) {
    return (a.binaryMode != 0) == (b.binaryMode != 0) &&
           (a.compressEnabled != 0) == (b.compressEnabled != 0);
}

}  // namespace

Relay::Relay(RelayHost& host, CompressFn compress, ConsumerLock& consumerLock, SocketOps& ops)
    : host_(host),
      ops_(ops),
      display_(settings(), log_),
      outbox_(ops, consumerLock),
      sender_(settings(), compress, log_, outbox_),
      decoder_(settings(), *this) {}

void Relay::handleSourceEvent(int socket, int event) {
    switch (eventCode(event)) {
        case FD_READ: {
            const long n = ops_.recv(socket, readBuffer_.data(), SOCKET_READ_MAX);
            if (n <= 0) return;  // an orderly close comes as its own event
            const int count = static_cast<int>(n);
            outbox_.countWaitFrom(catchingUpFrom_);
            decoder_.decodeSourceBlock(readBuffer_.data(), count);
            if (sender_.rawPassThrough() != 0) {
                forwardRawBlock(reinterpret_cast<const char*>(readBuffer_.data()), count);
            }
            outbox_.countWaitFrom(std::nullopt);
            if (n < static_cast<long>(SOCKET_READ_MAX)) catchingUpFrom_.reset();
            // Everything this block gave the consumer goes out together.
            pushToConsumer();
            return;
        }
        case FD_CLOSE:
            if (sourceHeld_) {
                // The receiver ended while held back: what it sent before its end
                // is read first (the hold is over for good), then the close comes again.
                sourceEnding_ = true;
                holdSource(false);
                return;
            }
            dropLink(LINK_SOURCE, closeOf(event));
            return;
        default:
            return;
    }
}

void Relay::handleConsumerEvent(int socket, int event) {
    switch (eventCode(event)) {
        case FD_READ: {
            const long n = ops_.recv(socket, readBuffer_.data(), SOCKET_READ_MAX);
            if (n <= 0) return;
            sender_.handleConsumerCommand(reinterpret_cast<const char*>(readBuffer_.data()),
                                          static_cast<int>(n));
            return;
        }
        case FD_WRITE:
            if (socket == links_.slot(LINK_CONSUMER).socket.get()) pushToConsumer();
            return;
        case FD_CLOSE:
            dropLink(LINK_CONSUMER, closeOf(event));
            return;
        default:
            return;
    }
}

void Relay::tickDuties() {
    const RelaySettings& settings = this->settings();
    if (settings.compressEnabled != 0) sender_.advanceBatchClock();
    if (links_.isUp(LINK_CONSUMER)) sender_.flushIfDue(links_.slot(LINK_CONSUMER).socket.get());
    // One read-modify-write: a reset by the connecting thread is never lost. While
    // the relay itself holds the receiver back, its silence is not the receiver's;
    // but no hold outlasts the consumer's age limit, and no pause does either.
    const bool paused = sourceHeld_ && ++heldTicks_ <= HOLD_PAUSE_TICKS;
    const std::int32_t ticks = paused ? noDataTicks_.load(std::memory_order_relaxed)
                                      : noDataTicks_.fetch_add(1, std::memory_order_relaxed) + 1;
    if (ticks > settings.noDataLimit) {
        noDataTicks_.store(0, std::memory_order_relaxed);
        if (settings.watchdogEnabled != 0 && links_.isUp(LINK_SOURCE)) {
            dropLink(LINK_SOURCE, {DropCause::Watchdog});
        }
    }
    if (links_.isUp(LINK_CONSUMER) && !dropConsumerFallenBehind()) pushToConsumer();
    log_.logMessage("", LOG_SHOW_NEWEST);
    if (tickListener_) tickListener_();
}

void Relay::forwardRawBlock(const char* bytes, int count) {
    if (links_.isUp(LINK_CONSUMER)) {
        sender_.sendToConsumer(links_.slot(LINK_CONSUMER).socket.get(), bytes, count);
    }
}

void Relay::forwardLine(const char* line, std::size_t length) {
    ++linesPassed_;  // the signal filter let it through
    if (links_.isUp(LINK_CONSUMER) && sender_.rawPassThrough() == 0) {
        ++counts_.linesForwarded;
        sender_.sendToConsumer(links_.slot(LINK_CONSUMER).socket.get(), line,
                               static_cast<int>(length));
    }
}

void Relay::pushToConsumer() {
    if (!links_.isUp(LINK_CONSUMER)) return;
    switch (outbox_.push()) {
        case ConsumerOutbox::Push::Lost:
            dropLink(LINK_CONSUMER, outbox_.overflowed()
                                        ? LinkDrop{DropCause::ConsumerOverflow}
                                        : LinkDrop{DropCause::SendFailed, outbox_.sendError()});
            return;
        case ConsumerOutbox::Push::Waiting:
            watchConsumerRoom(true);
            break;
        case ConsumerOutbox::Push::Empty:
            watchConsumerRoom(false);
            break;
    }
    holdSourceWhileQueueFull();
}

bool Relay::dropConsumerFallenBehind() {
    DropCause why{};
    if (outbox_.stalledAfterTick()) {
        why = DropCause::ConsumerStalled;
    } else if (outbox_.tooOldAt(std::chrono::steady_clock::now())) {
        why = DropCause::ConsumerBehind;
    } else {
        return false;
    }
    dropLink(LINK_CONSUMER, {why});
    return true;
}

void Relay::holdSourceWhileQueueFull() {
    const std::size_t queued = outbox_.queued();
    holdSource(sourceHeld_ ? queued > CONSUMER_RESUME_MARK : queued >= CONSUMER_HOLD_MARK);
}

void Relay::holdSource(bool on) {
    if (on == sourceHeld_ || (on && (sourceEnding_ || !links_.isUp(LINK_SOURCE)))) return;
    sourceHeld_ = on;
    if (on) {
        heldSince_ = std::chrono::steady_clock::now();
        heldTicks_ = 0;
    } else {
        catchingUpFrom_ = heldSince_;
    }
    host_.holdReading(LINK_SOURCE, links_.slot(LINK_SOURCE).socket.get(), on);
}

void Relay::watchConsumerRoom(bool on) {
    if (on == watchingConsumerRoom_) return;
    watchingConsumerRoom_ = on;
    host_.watchForRoom(LINK_CONSUMER, links_.slot(LINK_CONSUMER).socket.get(), on);
}

void Relay::showLine(const char* line, std::size_t length) {
    display_.displayReceivedLine(line, length);
}

void Relay::lineFinished() {
    ++counts_.linesReceived;
    noDataTicks_.store(0, std::memory_order_relaxed);
}

TrafficCounts Relay::trafficCounts() const {
    TrafficCounts counts = counts_;
    // Every line that finished without passing the filter was held back by it.
    counts.linesHeldBack = counts_.linesReceived - linesPassed_;
    counts.bytesSent = outbox_.bytesSent();
    counts.bytesCompressed = sender_.bytesCompressed();
    counts.framedBytes = sender_.framedBytes();
    counts.framesSent = sender_.framesSent();
    return counts;
}

HandshakeValues Relay::handshakeValues() const {
    MutexLock lock(settingsMutex_);
    return handshakeValuesOf(settings_);
}

void Relay::editSettings(const std::function<void(RelaySettings&)>& change) {
    const HandshakeValues before = handshakeValues();
    {
        MutexLock lock(settingsMutex_);
        change(settings_);
    }
    if (!sameMode(before, settings())) endBatchOfOldMode();
}

void Relay::endBatchOfOldMode() {
    // The live connection, if any, announced the old mode: the batch goes out on it
    // now, before the switch ends it. Without one, no later connection may carry
    // the batch.
    if (links_.isUp(LINK_CONSUMER)) {
        sender_.flushPending(links_.slot(LINK_CONSUMER).socket.get());
        pushToConsumer();
    } else if (sender_.dropPending()) {
        ++counts_.batchesDropped;
    }
}

void Relay::loadSettingsFrom(const std::string& dir) {
    std::array<LinkEndpoint, LINK_COUNT> endpoints;
    for (std::size_t link = 0; link < endpoints.size(); ++link) {
        endpoints[link] = links_.endpoint(static_cast<int>(link));
    }
    {
        MutexLock lock(settingsMutex_);
        loadSettings(dir, settings_, endpoints[LINK_LOCAL], endpoints[LINK_SOURCE],
                     endpoints[LINK_CONSUMER]);
    }
    for (std::size_t link = 0; link < endpoints.size(); ++link) {
        links_.setEndpoint(static_cast<int>(link), endpoints[link].port,
                           endpoints[link].host.view());
    }
}

void Relay::setStationName(std::string_view name) {
    MutexLock lock(settingsMutex_);
    settings_.stationName = name;
}

void Relay::setStationPosition(double latitude, double longitude) {
    MutexLock lock(settingsMutex_);
    settings_.stationLatitude = latitude;
    settings_.stationLongitude = longitude;
}

void Relay::refreshStatusLines() {
    const LinkEndpoint source = links_.endpoint(LINK_SOURCE);
    const LinkEndpoint consumer = links_.endpoint(LINK_CONSUMER);
    log_.refreshStatusLines(source.port, links_.statusText(LINK_SOURCE).view(), consumer.port,
                            links_.statusText(LINK_CONSUMER).view());
}

bool Relay::refreshFromReconnectThread() {
    return host_.runOnMainThread([this] { refreshStatusLines(); });
}

void Relay::reportAttempt(int link, std::string_view statusText) {
    links_.setStatusText(link, statusText);
    // Refused only once the program is shutting down; the attempt ends here anyway.
    (void)refreshFromReconnectThread();
}

bool Relay::connectLink(int link, std::stop_token stop) {
    LinkSlot& slot = links_.slot(link);
    links_.setStatusText(link, link_texts::CONNECTING);
    if (!refreshFromReconnectThread()) return false;

    // The attempt owns its socket until the slot takes it over: every way out
    // before that closes it. The first socket is made before the look-up, as an
    // IPv4 one: a socket layer that cannot make sockets at all shows as such
    // whatever the host, and an IPv4 first address (the common case) takes it.
    UniqueFd owned = createTcpSocket();
    if (!owned.valid()) {
        reportAttempt(link, link_texts::SOCKET_FAILED);
        slot.state.store(LINK_FAILED, std::memory_order_release);
        return false;
    }

    auto giveUp = [&](std::string_view statusText) {
        owned.reset();
        if (!stop.stop_requested()) reportAttempt(link, statusText);
        return false;
    };

    const LinkEndpoint endpoint = links_.endpoint(link);
    std::vector<IpAddress> addresses;
    switch (resolveHost(endpoint.host.c_str(), stop, ops_.nameLookUp(), addresses)) {
        case AttemptStep::Done:
            break;
        case AttemptStep::Failed:
            return giveUp(std::string(link_texts::ERROR_PREFIX) + endpoint.host.c_str());
        case AttemptStep::Stopped:
            return giveUp({});
    }
    IpAddress address;
    switch (connectFirstAnswering(addresses, endpoint.port, stop, CONNECT_LIMIT_PER_ADDRESS, owned,
                                  address)) {
        case AttemptStep::Done:
            break;
        case AttemptStep::Failed:
            return giveUp(link_texts::CONNECT_ERROR);
        case AttemptStep::Stopped:
            return giveUp({});
    }
    const int socket = owned.get();
    if (!makeNonBlocking(socket)) return giveUp(link_texts::WATCH_ERROR);
    if (link == LINK_CONSUMER) capSendBufferWhereUnseen(socket);

    links_.setStatusText(link, std::string(link_texts::CONNECTED_PREFIX) + addressText(address));
    noDataTicks_.store(0, std::memory_order_relaxed);

    const HandshakeValues announced = handshakeValues();
    if (link == LINK_CONSUMER) {
        LinkSendOps handshakeOps(ops_, stop);
        sendConsumerHandshake(handshakeOps, socket, announced);
    }

    // The slot goes live on the main thread: it takes the socket over, and its
    // socket events start together with LINK_UP, so no event (a close during the
    // handshake, say) can reach a slot that is not up yet.
    // An endpoint changed by the operator while this attempt ran (the link was
    // not up, so nothing was dropped) must not leave the link on the old one, nor
    // a consumer connection on a mode its handshake did not announce: the
    // connection is let go, and the next cycle makes it anew. A connection that
    // does not go live (so too when shutdown refuses the task) is closed as
    // `owned` goes.
    bool wentUp = false;
    (void)host_.runOnMainThread([&] {
        const LinkEndpoint now = links_.endpoint(link);
        const bool current = now.port == endpoint.port && now.host.view() == endpoint.host.view() &&
                             (link != LINK_CONSUMER || sameMode(announced, handshakeValues()));
        if (!current) {
            links_.setStatusText(link, link_texts::DROPPED);
        } else if (!host_.watchSocket(link, socket)) {
            // Up without its events the link would never hear of data or a close:
            // it stays down, its socket closed as `owned` goes, and is tried again.
            links_.setStatusText(link, link_texts::WATCH_ERROR);
        } else {
            slot.socket = std::move(owned);
            if (link == LINK_CONSUMER) outbox_.open(socket);
            slot.state.store(LINK_UP, std::memory_order_release);
            ++counts_.connectionsMade[static_cast<std::size_t>(link)];
            wentUp = true;
        }
        refreshStatusLines();
    });
    return wentUp;
}

void Relay::dropLink(int link, LinkDrop why) {
    LinkSlot& slot = links_.slot(link);
    if (links_.isUp(link)) countLoss(counts_, link, why.cause);
    if (slot.socket.valid()) {
        host_.unwatchSocket(link, slot.socket.get());
        // A consumer that fell behind gets nothing more of what waited for it: its
        // system's unsent bytes go too (the connection is reset, not closed after them).
        if (why.cause == DropCause::ConsumerStalled || why.cause == DropCause::ConsumerBehind) {
            discardUnsentOnClose(slot.socket.get());
        }
        slot.socket.reset();
    }
    if (link == LINK_CONSUMER) {
        // What waited for this connection was meant to follow its handshake only.
        outbox_.close();
        watchingConsumerRoom_ = false;
        holdSource(false);
    }
    // What the lost connection left half-assembled can never be finished: the
    // next connection's stream starts afresh.
    if (link == LINK_SOURCE) {
        decoder_.reset();
        sourceHeld_ = sourceEnding_ = false;  // the host forgot the hold with the socket
        catchingUpFrom_.reset();
    }
    links_.setStatusText(link, link_texts::DROPPED);
    refreshStatusLines();
    slot.state.store(LINK_DOWN, std::memory_order_release);
    if (dropListener_) dropListener_(link, why);
}

}  // namespace velgor
