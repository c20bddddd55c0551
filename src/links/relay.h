#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "config/relay_settings.h"
#include "decode/line_outlet.h"
#include "decode/receive_time_display.h"
#include "decode/source_decoder.h"
#include "feed/compress_fn.h"
#include "feed/consumer_handshake.h"
#include "feed/consumer_outbox.h"
#include "feed/consumer_sender.h"
#include "links/link_drop.h"
#include "links/link_send_ops.h"
#include "links/link_table.h"
#include "links/relay_host.h"
#include "links/traffic_counts.h"
#include "log/message_log.h"
#include "sys/consumer_lock.h"
#include "sys/socket_ops.h"
#include "sys/thread_safety.h"

namespace velgor {

// One socket read: at most 65535 bytes.
inline constexpr std::size_t SOCKET_READ_MAX = 65535;

// The running relay: settings, the link table, the decoder, the receive-time
// display, the consumer sender and the message log, with the handlers the event
// loop calls. Everything but connectLink runs on the main thread.
class Relay : private LineOutlet {
  public:
    Relay(RelayHost& host, CompressFn compress, ConsumerLock& consumerLock,
          SocketOps& ops = systemSocketOps());
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // Socket events of the two links (event word: low 16 bits FD_READ, FD_CLOSE, or
    // for the consumer FD_WRITE: room for the bytes waiting in its queue).
    void handleSourceEvent(int socket, int event);
    void handleConsumerEvent(int socket, int event);
    // The 100 ms tick: batch clock and due batch, no-data watchdog, the consumer's
    // stall clock, then the log's display step.
    void tickDuties();

    // One connection attempt on LINK_SOURCE or LINK_CONSUMER (reconnect thread,
    // only while the slot is not LINK_UP). Gives up at once on a stop request.
    // True when the link went up (it may be down again already).
    bool connectLink(int link, std::stop_token stop);
    // Ends a link's connection (main thread).
    void dropLink(int link, LinkDrop why = {});
    // Told of every drop with its cause (main thread); for diagnostics.
    void setDropListener(std::function<void(int link, const LinkDrop& why)> listener) {
        dropListener_ = std::move(listener);
    }
    // Told at the end of every tick (main thread); for the status files.
    void setTickListener(std::function<void()> listener) { tickListener_ = std::move(listener); }
    // Rewrites the two status lines from the link slots (main thread).
    void refreshStatusLines();

    // The handshake fields as one consistent copy (any thread).
    HandshakeValues handshakeValues() const EXCLUDES(settingsMutex_);

    // The settings as the main thread reads them. Only the main thread changes
    // them, and only through the operations below, which hold the settings lock
    // while they write, so the main thread's own reads need no lock; the
    // reconnect thread reads a copy (handshakeValues).
    const RelaySettings& settings() const NO_THREAD_SAFETY_ANALYSIS { return settings_; }
    // Main thread. Changes any settings under the lock. A change of the stream mode
    // (binary, compression) ends the compression batch: no connection carries a
    // line of a mode its handshake did not announce.
    void editSettings(const std::function<void(RelaySettings&)>& change) EXCLUDES(settingsMutex_);
    void setStationName(std::string_view name) EXCLUDES(settingsMutex_);
    // Arc-seconds, as the settings hold them.
    void setStationPosition(double latitude, double longitude) EXCLUDES(settingsMutex_);
    // Start-up: the settings files in `dir` into the settings and the link endpoints.
    void loadSettingsFrom(const std::string& dir) EXCLUDES(settingsMutex_);

    LinkTable& links() { return links_; }
    MessageLog& messageLog() { return log_; }
    SourceDecoder& decoder() { return decoder_; }
    ReceiveTimeDisplay& display() { return display_; }
    ConsumerSender& sender() { return sender_; }
    const ConsumerOutbox& consumerOutbox() const { return outbox_; }

    std::int32_t noDataTicks() const { return noDataTicks_.load(std::memory_order_relaxed); }
    // Whether the receiver is being held back for the consumer (main thread).
    bool sourceHeld() const { return sourceHeld_; }
    // What the relay has done since it started (main thread).
    TrafficCounts trafficCounts() const;

  private:
    void forwardLine(const char* line, std::size_t length) override;
    void showLine(const char* line, std::size_t length) override;
    void lineFinished() override;

    void forwardRawBlock(const char* bytes, int count);
    // Sends what waits for the consumer, as far as its socket takes it now; drops
    // the link when the connection failed or its queue overflowed.
    void pushToConsumer();
    void watchConsumerRoom(bool on);
    // Holds the receiver back while the consumer's queue is full, and lets it go
    // once the queue has gone down.
    void holdSourceWhileQueueFull();
    void holdSource(bool on);
    // Sends the batch on the live consumer connection, or drops it when none is up.
    void endBatchOfOldMode();
    // Drops the consumer when the oldest line waiting for it is about to be worth
    // nothing (CONSUMER_AGE_LIMIT), or it has taken nothing for too long; true
    // when it did.
    bool dropConsumerFallenBehind();
    void reportAttempt(int link, std::string_view statusText);
    [[nodiscard]] bool refreshFromReconnectThread();

    RelayHost& host_;
    SocketOps& ops_;
    mutable Mutex settingsMutex_;
    RelaySettings settings_ GUARDED_BY(settingsMutex_);
    LinkTable links_;
    MessageLog log_;
    ReceiveTimeDisplay display_;
    ConsumerOutbox outbox_;
    bool watchingConsumerRoom_ = false;
    bool sourceHeld_ = false;
    std::chrono::steady_clock::time_point heldSince_;
    int heldTicks_ = 0;  // ticks of the current hold
    // The receiver closed while held back: what it sent before its close is read,
    // without holding it again, then the close is handled.
    bool sourceEnding_ = false;
    // After a hold: the bytes that waited in the system meanwhile are read with
    // full reads; their wait for the consumer counts from the hold's start, until
    // a read comes back short (they have all been read).
    std::optional<std::chrono::steady_clock::time_point> catchingUpFrom_;
    std::function<void(int, const LinkDrop&)> dropListener_;
    std::function<void()> tickListener_;
    ConsumerSender sender_;
    SourceDecoder decoder_;
    std::atomic<std::int32_t> noDataTicks_{0};
    // Main thread: the figures of trafficCounts() the relay keeps itself.
    TrafficCounts counts_;
    std::uint64_t linesPassed_ = 0;
    std::array<unsigned char, SOCKET_READ_MAX + 1> readBuffer_{};
};

}  // namespace velgor
