#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string_view>

#include "config/fixed_text.h"
#include "config/link_endpoint.h"
#include "sys/thread_safety.h"
#include "sys/unique_fd.h"

namespace velgor {

// Link states. Only LINK_UP against every other state drives behaviour.
enum LinkState : int {
    LINK_IDLE = 0,    // nothing connected on the slot since start
    LINK_FAILED = 1,  // an attempt could not create a socket
    LINK_UP = 9,      // connected, watched, and for the consumer the handshake sent
    LINK_DOWN = 10,   // ended by dropLink
};

// One TCP client connection of the relay: its socket and its state.
//
// Hand-over between the threads: a slot that is not LINK_UP belongs to the
// reconnect thread; it stores LINK_UP as the last step of a connection (on the
// main thread, together with starting the socket watch), and from then on only
// the main thread acts on the slot until dropLink stores LINK_DOWN as its last
// step. The connection attempt owns its socket until then: the slot takes it
// over on the main thread in that same last step, so `socket` is only ever
// touched on the main thread (or once the reconnect thread has ended).
struct LinkSlot {
    UniqueFd socket;
    std::atomic<int> state{LINK_IDLE};
};

// The three link slots: LINK_LOCAL (never connected), LINK_SOURCE, LINK_CONSUMER,
// with each link's endpoint (from the settings files and the link dialogs) and
// status text. Those are written on both threads (dialogs and dropLink on the
// main thread, connection attempts on the reconnect thread), so they are only
// read and written whole, under the table's own lock: no thread ever sees half
// of a text.
class LinkTable {
  public:
    LinkTable();

    LinkSlot& slot(int link) { return slots_[static_cast<std::size_t>(link)]; }
    const LinkSlot& slot(int link) const { return slots_[static_cast<std::size_t>(link)]; }

    bool isUp(int link) const {
        return slot(link).state.load(std::memory_order_acquire) == LINK_UP;
    }

    LinkEndpoint endpoint(int link) const EXCLUDES(guard_);
    void setEndpoint(int link, std::uint16_t port, std::string_view host) EXCLUDES(guard_);
    Text256 statusText(int link) const EXCLUDES(guard_);
    void setStatusText(int link, std::string_view text) EXCLUDES(guard_);

  private:
    struct Described {
        LinkEndpoint endpoint;
        Text256 statusText;
    };

    std::array<LinkSlot, LINK_COUNT> slots_;
    mutable Mutex guard_;
    std::array<Described, LINK_COUNT> described_ GUARDED_BY(guard_);
};

}  // namespace velgor
