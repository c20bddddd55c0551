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

WinRelayHost::WinRelayHost() : mainThread_(::GetCurrentThreadId()) {}

void WinRelayHost::attach(HWND window, Relay& relay) {
    window_ = window;
    relay_ = &relay;
    // The wake-up socket is readable exactly while tasks wait: each time it
    // becomes so, the main window hears of it.
    if (tasks_.ready()) {
        (void)::WSAAsyncSelect(toSocket(tasks_.wakeFd()), window_, WM_STATUS_REFRESH, FD_READ);
    }
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

void WinRelayHost::watchSocket(int link, int socket) {
    watched_[static_cast<std::size_t>(link)] = socket;
    watchingRoom_[static_cast<std::size_t>(link)] = false;
    select(link);
}

void WinRelayHost::unwatchSocket(int link, int socket) {
    // No further notifications for it; those already queued are recognised as
    // stale by their socket.
    (void)::WSAAsyncSelect(toSocket(socket), window_, 0, 0);
    watched_[static_cast<std::size_t>(link)] = -1;
    watchingRoom_[static_cast<std::size_t>(link)] = false;
}

void WinRelayHost::watchForRoom(int link, int socket, bool on) {
    const auto i = static_cast<std::size_t>(link);
    if (watched_[i] != socket) return;
    watchingRoom_[i] = on;
    select(link);
    // Windows reports room (FD_WRITE) only after a send has been refused for want
    // of it; bytes may wait for another reason (the lock was busy), so one try
    // is asked for now. A try that finds no room costs one refused send.
    if (on) ::PostMessageW(window_, notificationOf(link), static_cast<WPARAM>(toSocket(socket)), FD_WRITE);
}

void WinRelayHost::select(int link) {
    const auto i = static_cast<std::size_t>(link);
    if (watched_[i] < 0 || window_ == nullptr) return;
    long events = FD_READ | FD_CLOSE;
    if (watchingRoom_[i]) events |= FD_WRITE;
    (void)::WSAAsyncSelect(toSocket(watched_[i]), window_, notificationOf(link), events);
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
    if (eventCode(event) == FD_CLOSE) {
        // A close can be reported while the peer's last bytes still wait to be
        // read: they are read first, so that nothing received is lost.
        while (watched_[i] == socket && pendingSocketEvent(socket) == FD_READ) handle(FD_READ);
        if (watched_[i] != socket) return;
    }
    handle(event);
}

}  // namespace velgor
