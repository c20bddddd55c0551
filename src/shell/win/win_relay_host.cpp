#include "shell/win/win_relay_host.h"

#include "links/relay.h"
#include "links/socket_event.h"
#include "shell/win/window_messages.h"
#include "sys/win/winsock_fd.h"

namespace velgor {

namespace {

UINT notificationOf(int link) {
    return link == LINK_SOURCE ? WM_SOURCE_EVENT : WM_CONSUMER_EVENT;
}

}  // namespace

WinRelayHost::WinRelayHost(SelectEvents selectEvents)
    : selectEvents_(selectEvents), mainThread_(::GetCurrentThreadId()) {}

bool WinRelayHost::attach(HWND window, Relay& relay) {
    window_ = window;
    relay_ = &relay;
    // The wake-up socket is readable exactly while tasks wait: each time it
    // becomes so, the main window hears of it.
    return tasks_.ready() && selectEvents_(toSocket(tasks_.wakeFd()), window_, WM_STATUS_REFRESH,
                                           FD_READ) != SOCKET_ERROR;
}

void WinRelayHost::beginShutdown() {
    shuttingDown_ = true;
    tasks_.beginShutdown();
}

bool WinRelayHost::runOnMainThread(const std::function<void()>& task) {
    if (::GetCurrentThreadId() != mainThread_) return tasks_.runOnMainThread(task);
    if (shuttingDown_) return false;
    task();
    return true;
}

bool WinRelayHost::watchSocket(int link, int socket) {
    const auto i = static_cast<std::size_t>(link);
    watched_[i] = socket;
    watchingRoom_[i] = holding_[i] = false;
    heldClose_[i] = 0;
    if (select(link)) return true;
    // A link that would never hear of its socket is not taken up.
    watched_[i] = -1;
    return false;
}

void WinRelayHost::unwatchSocket(int link, int socket) {
    // No further notifications for it; those already queued are recognised as
    // stale by their socket.
    (void)selectEvents_(toSocket(socket), window_, 0, 0);
    const auto i = static_cast<std::size_t>(link);
    watched_[i] = -1;
    watchingRoom_[i] = holding_[i] = false;
    heldClose_[i] = 0;
}

void WinRelayHost::holdReading(int link, int socket, bool on) {
    const auto i = static_cast<std::size_t>(link);
    if (watched_[i] != socket || holding_[i] == on) return;
    holding_[i] = on;
    select(link);
    if (on) return;
    // Bytes that came during the hold are not announced again by themselves: one
    // read is asked for now (a read that finds nothing costs one refused recv),
    // or the close that came, which reads what waits before it.
    const int event = heldClose_[i] != 0 ? heldClose_[i] : FD_READ;
    heldClose_[i] = 0;
    ::PostMessageW(window_, notificationOf(link), static_cast<WPARAM>(toSocket(socket)),
                   static_cast<LPARAM>(event));
}

void WinRelayHost::watchForRoom(int link, int socket, bool on) {
    const auto i = static_cast<std::size_t>(link);
    if (watched_[i] != socket) return;
    watchingRoom_[i] = on;
    select(link);
    // Windows reports room (FD_WRITE) only after a send has been refused for want
    // of it; bytes may wait for another reason (the lock was busy), so one try
    // is asked for now. A try that finds no room costs one refused send.
    if (on)
        ::PostMessageW(window_, notificationOf(link), static_cast<WPARAM>(toSocket(socket)),
                       FD_WRITE);
}

bool WinRelayHost::select(int link) {
    const auto i = static_cast<std::size_t>(link);
    if (watched_[i] < 0 || window_ == nullptr) return false;
    long events = FD_CLOSE;
    if (!holding_[i]) events |= FD_READ;
    if (watchingRoom_[i]) events |= FD_WRITE;
    return selectEvents_(toSocket(watched_[i]), window_, notificationOf(link), events) !=
           SOCKET_ERROR;
}

bool WinRelayHost::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SOURCE_EVENT:
        case WM_CONSUMER_EVENT: {
            const int link = message == WM_SOURCE_EVENT ? LINK_SOURCE : LINK_CONSUMER;
            // The event word as the notification carries it: the event in the low
            // 16 bits, an error code in the high ones.
            deliver(link, fromSocket(static_cast<SOCKET>(wParam)),
                    static_cast<int>(static_cast<DWORD>(lParam)));
            return true;
        }
        case WM_STATUS_REFRESH:
            (void)tasks_.runPending();
            return true;
        case WM_TIMER:
            if (wParam != TICK_TIMER_ID) return false;
            if (relay_ != nullptr && !shuttingDown_) relay_->tickDuties();
            return true;
        default:
            return false;
    }
}

void WinRelayHost::deliver(int link, int socket, int event) {
    const auto i = static_cast<std::size_t>(link);
    // A notification that was queued before its link was dropped.
    if (relay_ == nullptr || shuttingDown_ || watched_[i] != socket) return;
    const auto handle = [&](int what) {
        if (link == LINK_SOURCE) {
            relay_->handleSourceEvent(socket, what);
        } else {
            relay_->handleConsumerEvent(socket, what);
        }
    };
    if (eventCode(event) == FD_WRITE && !watchingRoom_[i]) return;
    // Announced before the hold began; the end of the hold asks again.
    if (eventCode(event) == FD_READ && holding_[i]) return;
    if (eventCode(event) == FD_CLOSE) {
        // A close can be reported while the peer's last bytes still wait to be
        // read: they are read first, so that nothing received is lost. When the
        // reading is held meanwhile, the close is kept for the end of the hold and
        // told at once (the relay then ends the hold, so that those bytes and the
        // close come in order).
        while (watched_[i] == socket && !holding_[i] && pendingSocketEvent(socket) == FD_READ) {
            handle(FD_READ);
        }
        if (watched_[i] != socket) return;
        if (holding_[i]) {
            heldClose_[i] = event;
            handle(event);
            return;
        }
    }
    handle(event);
}

}  // namespace velgor
