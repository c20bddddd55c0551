#pragma once

#include <windows.h>
#include <winsock2.h>

#include <array>
#include <functional>

#include "config/link_endpoint.h"
#include "links/relay_host.h"
#include "sys/main_thread_tasks.h"

namespace velgor {

class Relay;

// The relay's host on the main window's message loop (Windows Sockets started
// before it is made):
// - link sockets are watched with WSAAsyncSelect, which posts WM_SOURCE_EVENT or
//   WM_CONSUMER_EVENT to the main window with the socket and the event word;
// - the reconnect thread's tasks go through MainThreadTasks, whose wake-up socket
//   posts WM_STATUS_REFRESH; the main thread runs them when that arrives, and the
//   asking thread waits until it has (or until shutdown lets it go);
// - the main window procedure hands these messages and the tick to handleMessage.
class WinRelayHost : public RelayHost {
  public:
    // The call that asks for a socket's notifications: WSAAsyncSelect, or a
    // stand-in that refuses (for tests).
    using SelectEvents = int(WSAAPI*)(SOCKET, HWND, unsigned int, long);

    explicit WinRelayHost(SelectEvents selectEvents = &::WSAAsyncSelect);
    WinRelayHost(const WinRelayHost&) = delete;
    WinRelayHost& operator=(const WinRelayHost&) = delete;

    // The main window that receives the notifications, and the relay whose
    // handlers get them. Before the reconnect thread starts. False when the
    // reconnect thread's requests could never reach the main window (its wake-up
    // socket could not be made or watched): the program cannot work then.
    [[nodiscard]] bool attach(HWND window, Relay& relay);
    // Main thread: from now on runOnMainThread refuses and lets every waiting
    // caller go; notifications still queued are ignored.
    void beginShutdown();

    [[nodiscard]] bool runOnMainThread(const std::function<void()>& task) override;
    // False, the socket left unwatched, when its notifications cannot be asked for.
    [[nodiscard]] bool watchSocket(int link, int socket) override;
    void unwatchSocket(int link, int socket) override;
    void watchForRoom(int link, int socket, bool on) override;
    void holdReading(int link, int socket, bool on) override;

    // A message of the main window: true when it was one of the relay's (socket
    // notifications, the reconnect thread's requests, the tick) and was handled.
    bool handleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  private:
    // Asks for the link's notifications as its state says (none when unwatched);
    // whether they were granted.
    bool select(int link);
    void deliver(int link, int socket, int event);

    SelectEvents selectEvents_;
    HWND window_ = nullptr;
    Relay* relay_ = nullptr;
    DWORD mainThread_;
    MainThreadTasks tasks_;
    bool shuttingDown_ = false;
    std::array<int, LINK_COUNT> watched_{-1, -1, -1};
    std::array<bool, LINK_COUNT> watchingRoom_{};
    std::array<bool, LINK_COUNT> holding_{};
    // A close reported while reading was held: told to the relay at once, and
    // delivered again once the hold ends, after the bytes that came before it (0
    // when none).
    std::array<int, LINK_COUNT> heldClose_{};
};

}  // namespace velgor
