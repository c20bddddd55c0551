// The Windows program's own parts, under wine: the relay's host on window
// messages, the status lines (Cyrillic texts included) and the tray icon.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "config/cp1251_literal.h"
#include "links/link_texts.h"
#include "links/relay.h"
#include "shell/win/main_window.h"
#include "shell/win/status_lines.h"
#include "shell/win/tray_icon.h"
#include "shell/win/win_relay_host.h"
#include "shell/win/win_resources.h"
#include "shell/win/win_text.h"
#include "shell/win/window_messages.h"
#include "sys/consumer_lock.h"
#include "sys/socket_calls.h"
#include "sys/win/winsock_fd.h"

namespace velgor {
namespace {

// A hidden window of the test's thread that hands every message to the host, as
// the main window's procedure does; message-only unless it is to hold children
// (which need a display).
class HostWindow {
  public:
    explicit HostWindow(WinRelayHost& host, bool messageOnly = true) {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &HostWindow::procedure;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "velgor-test-host";
        ::RegisterClassA(&windowClass);
        handle = ::CreateWindowExA(0, "velgor-test-host", "", 0, 0, 0, 585, 372,
                                   messageOnly ? HWND_MESSAGE : nullptr, nullptr,
                                   windowClass.hInstance, nullptr);
        ::SetWindowLongPtrA(handle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&host));
    }
    ~HostWindow() { ::DestroyWindow(handle); }

    // Dispatches this thread's messages until `done` holds or 5 s pass.
    template <typename Done>
    static bool pumpUntil(Done done) {
        const ULONGLONG deadline = ::GetTickCount64() + 5000;
        while (!done()) {
            if (::GetTickCount64() > deadline) return false;
            MSG message{};
            while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&message);
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
        return true;
    }

    HWND handle = nullptr;

  private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* host = reinterpret_cast<WinRelayHost*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
        if (host != nullptr && host->handleMessage(message, wParam, lParam)) return 0;
        return ::DefWindowProcA(window, message, wParam, lParam);
    }
};

// WSAAsyncSelect, refusing the links' notifications (not the wake-up's) while
// refuseLinkEvents is set.
std::atomic<bool> refuseLinkEvents{false};
int WSAAPI selectUnlessRefused(SOCKET socket, HWND window, unsigned int message, long events) {
    if (refuseLinkEvents && message != WM_STATUS_REFRESH) {
        ::WSASetLastError(WSAENETDOWN);
        return SOCKET_ERROR;
    }
    return ::WSAAsyncSelect(socket, window, message, events);
}

int WSAAPI refuseEveryEvent(SOCKET, HWND, unsigned int, long) {
    ::WSASetLastError(WSAENETDOWN);
    return SOCKET_ERROR;
}

struct HostRig {
    WinRelayHost host{&selectUnlessRefused};
    ConsumerLock lock;
    Relay relay{host, nullptr, lock};
    HostWindow window{host};
    HostRig() { EXPECT_TRUE(host.attach(window.handle, relay)); }

    // One connection attempt of the reconnect thread's, its requests run here;
    // whether it ended.
    bool attempt(int link) {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            relay.connectLink(link, {});
            done = true;
        });
        const bool ended = window.pumpUntil([&] { return done.load(); });
        if (!ended) host.beginShutdown();
        worker.join();
        return ended;
    }
};

// Without a way for the reconnect thread's requests to reach the main window
// (no socket pair while Winsock is not started, or its notifications refused)
// the host cannot be attached, and the program ends with a message instead of
// running with no link ever tried.
TEST(WinRelayHost, CannotBeAttachedWithoutItsWakeUp) {
    ConsumerLock lock;
    {
        SCOPED_TRACE("no socket pair");
        ASSERT_EQ(::WSACleanup(), 0);
        WinRelayHost host;
        WSADATA data{};
        ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
        Relay relay{host, nullptr, lock};
        HostWindow window{host};
        EXPECT_FALSE(host.attach(window.handle, relay));
    }
    {
        SCOPED_TRACE("its notifications refused");
        WinRelayHost host(&refuseEveryEvent);
        Relay relay{host, nullptr, lock};
        HostWindow window{host};
        EXPECT_FALSE(host.attach(window.handle, relay));
    }
}

// A connection whose notifications are refused does not go up: the status line
// says so, its socket is closed, and the next attempt takes the link up.
TEST(WinRelayHost, ALinkWhoseNotificationsAreRefusedStaysDownAndIsTriedAgain) {
    HostRig rig;
    Ipv4Address loopback;
    ASSERT_TRUE(parseDottedIPv4("127.0.0.1", loopback));
    UniqueFd listener = listenTcp(loopback, 0, 4);
    Ipv4Address bound;
    std::uint16_t port = 0;
    ASSERT_TRUE(socketAddress(listener.get(), bound, port));
    rig.relay.links().setEndpoint(LINK_SOURCE, port, "127.0.0.1");

    refuseLinkEvents = true;
    const bool ended = rig.attempt(LINK_SOURCE);
    refuseLinkEvents = false;
    ASSERT_TRUE(ended);
    EXPECT_FALSE(rig.relay.links().isUp(LINK_SOURCE));
    EXPECT_EQ(rig.relay.links().statusText(LINK_SOURCE).view(), link_texts::WATCH_ERROR);
    UniqueFd refused = acceptConnection(listener.get());
    ASSERT_TRUE(refused.valid());
    const DWORD patience = 5000;
    ::setsockopt(toSocket(refused.get()), SOL_SOCKET, SO_RCVTIMEO,
                 reinterpret_cast<const char*>(&patience), sizeof patience);
    char byte = 0;
    EXPECT_EQ(::recv(toSocket(refused.get()), &byte, 1, 0), 0) << "its socket is closed";

    ASSERT_TRUE(rig.attempt(LINK_SOURCE));
    EXPECT_TRUE(rig.relay.links().isUp(LINK_SOURCE));
}

TEST(WinRelayHost, RunsAnotherThreadsTaskOnTheMainThreadWhenItsMessageArrives) {
    HostRig rig;
    const DWORD mainThread = ::GetCurrentThreadId();
    std::atomic<DWORD> ranOn{0};
    std::atomic<int> result{-1};
    std::thread asker([&] {
        result = rig.host.runOnMainThread([&] { ranOn = ::GetCurrentThreadId(); }) ? 1 : 0;
    });
    EXPECT_TRUE(rig.window.pumpUntil([&] { return result.load() != -1; }));
    asker.join();
    EXPECT_EQ(result.load(), 1);
    EXPECT_EQ(ranOn.load(), mainThread);
    // On the main thread itself the task runs at once.
    bool ranHere = false;
    EXPECT_TRUE(rig.host.runOnMainThread([&] { ranHere = true; }));
    EXPECT_TRUE(ranHere);
}

TEST(WinRelayHost, ShutdownLetsAWaitingThreadGoWithoutRunningItsTask) {
    HostRig rig;
    std::atomic<bool> ran{false};
    std::atomic<int> result{-1};
    std::thread asker([&] { result = rig.host.runOnMainThread([&] { ran = true; }) ? 1 : 0; });
    // The request is queued (its wake-up posted) but not yet run.
    MSG message{};
    const ULONGLONG deadline = ::GetTickCount64() + 5000;
    while (::PeekMessageA(&message, rig.window.handle, WM_STATUS_REFRESH, WM_STATUS_REFRESH,
                          PM_NOREMOVE) == FALSE &&
           ::GetTickCount64() < deadline) {
        ::Sleep(5);
    }
    EXPECT_EQ(message.message, WM_STATUS_REFRESH);
    rig.host.beginShutdown();
    asker.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_FALSE(ran.load());
    // Its message, handled afterwards, runs nothing; nor does a later request.
    rig.window.pumpUntil([] { return true; });
    EXPECT_FALSE(ran.load());
    EXPECT_FALSE(rig.host.runOnMainThread([&] { ran = true; }));
    EXPECT_FALSE(ran.load());
}

// While the source's reading is held, neither the receiver's bytes nor its close
// reach the relay; once the hold ends, the bytes come first, then the close.
TEST(WinRelayHost, HeldReadingKeepsTheBytesAndTheCloseUntilTheHoldEnds) {
    HostRig rig;
    std::vector<int> drops;
    rig.relay.setDropListener([&](int link, const LinkDrop&) { drops.push_back(link); });
    UniqueFd relayEnd;
    UniqueFd receiverEnd;
    ASSERT_TRUE(makeSocketPair(relayEnd, receiverEnd));
    ASSERT_TRUE(rig.host.watchSocket(LINK_SOURCE, relayEnd.get()));
    rig.host.holdReading(LINK_SOURCE, relayEnd.get(), true);

    const std::string lines = "*8D4840D6202CC371C32CE0576098;\r\n*5D4840D6E0A1B2;\r\n";
    ASSERT_EQ(::send(toSocket(receiverEnd.get()), lines.data(), static_cast<int>(lines.size()), 0),
              static_cast<int>(lines.size()));
    receiverEnd.reset();
    const ULONGLONG heldUntil = ::GetTickCount64() + 300;
    rig.window.pumpUntil([&] { return ::GetTickCount64() > heldUntil; });
    EXPECT_EQ(rig.relay.trafficCounts().linesReceived, 0u);
    EXPECT_TRUE(drops.empty());

    rig.host.holdReading(LINK_SOURCE, relayEnd.get(), false);
    EXPECT_TRUE(rig.window.pumpUntil([&] { return !drops.empty(); }));
    EXPECT_EQ(rig.relay.trafficCounts().linesReceived, 2u);
    EXPECT_EQ(drops, std::vector<int>{LINK_SOURCE});
}

// A line's text as the program's Windows-1251 bytes.
std::string textOf(HWND line) {
    wchar_t text[1024] = {};
    ::GetWindowTextW(line, text, 1024);
    return narrowToCp1251(text);
}

TEST(StatusLines, ScrollUpByReadingTheLinesBackAndShowBothLinks) {
    WinRelayHost host;
    HostWindow parent(host, false);
    ASSERT_NE(parent.handle, nullptr);
    MessageLog log;
    StatusLines lines(log);
    lines.create(parent.handle, ::GetModuleHandleA(nullptr), nullptr, nullptr);
    ASSERT_NE(lines.consumerStatusLine(), nullptr);
    for (int i = 1; i <= 19; ++i) lines.logLineShown("line " + std::to_string(i));
    // The 19th text pushed the first out at the top.
    EXPECT_EQ(textOf(lines.logLine(0)), "line 2");
    EXPECT_EQ(textOf(lines.logLine(16)), "line 18");
    EXPECT_EQ(textOf(lines.logLine(17)), "line 19");
    // A text longer than a line holds is cut, not overrun.
    lines.logLineShown(std::string(5000, 'x'));
    EXPECT_EQ(textOf(lines.logLine(17)).size(), 1023u);

    log.refreshStatusLines(7777, cp1251<u8"Связь разорвана">, 12345, "down");
    lines.statusLinesChanged();
    EXPECT_EQ(textOf(lines.sourceStatusLine()), log.sourceStatusLine());
    EXPECT_EQ(textOf(lines.consumerStatusLine()), log.consumerStatusLine());
    RECT box{};
    ::GetWindowRect(lines.consumerStatusLine(), &box);
    EXPECT_EQ(box.right - box.left, StatusLines::LINE_WIDTH);
    EXPECT_EQ(box.bottom - box.top, StatusLines::LINE_HEIGHT);
}

// Explorer's taskbar as the shell's notification calls find it: a top-level
// window of its class, which here keeps the one icon it is given.
class FakeTaskbar {
  public:
    FakeTaskbar() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &FakeTaskbar::procedure;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"Shell_TrayWnd";
        ::RegisterClassW(&windowClass);
        handle_ = ::CreateWindowExW(0, L"Shell_TrayWnd", L"", WS_POPUP, 0, 0, 10, 10, nullptr,
                                    nullptr, windowClass.hInstance, nullptr);
        ::SetWindowLongPtrW(handle_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~FakeTaskbar() { ::DestroyWindow(handle_); }
    FakeTaskbar(const FakeTaskbar&) = delete;
    FakeTaskbar& operator=(const FakeTaskbar&) = delete;

    bool shows = false;
    int adds = 0;

  private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<FakeTaskbar*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message != WM_COPYDATA || self == nullptr) {
            return ::DefWindowProcW(window, message, wParam, lParam);
        }
        switch (reinterpret_cast<const COPYDATASTRUCT*>(lParam)->dwData) {
            case NIM_ADD:
                if (self->shows) return FALSE;
                ++self->adds;
                return self->shows = true;
            case NIM_MODIFY:
                return self->shows;
            case NIM_DELETE:
                return std::exchange(self->shows, false);
            default:
                return FALSE;
        }
    }

    HWND handle_;
};

// A start before the taskbar (log-on) gets the icon once the taskbar is there,
// and a new taskbar (Explorer started again) gets it too; the icon goes with
// the window.
TEST(TrayIcon, IsAddedWhenTheTaskbarComesLateAndWhenItIsMadeAnew) {
    MainWindow window(::GetModuleHandleW(nullptr));
    ASSERT_TRUE(window.registerClass());
    ASSERT_NE(window.create(), nullptr);
    TrayIcon tray;
    window.setRoutes({nullptr, nullptr, &tray});
    ASSERT_EQ(::FindWindowW(L"Shell_TrayWnd", nullptr), nullptr) << "a real taskbar is here";
    EXPECT_FALSE(
        tray.add(window.handle(), ::LoadIconW(::GetModuleHandleW(nullptr), ICON_WNAME), "velgor"));
    // Tried again meanwhile, in vain.
    const ULONGLONG tried = ::GetTickCount64() + 1500;
    HostWindow::pumpUntil([&] { return ::GetTickCount64() > tried; });
    EXPECT_FALSE(tray.shown());

    auto taskbar = std::make_unique<FakeTaskbar>();
    EXPECT_TRUE(HostWindow::pumpUntil([&] { return taskbar->shows; }));
    EXPECT_TRUE(tray.shown());

    taskbar = std::make_unique<FakeTaskbar>();
    ASSERT_FALSE(taskbar->shows);
    const UINT taskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");
    ::SendMessageW(window.handle(), taskbarCreated, 0, 0);
    EXPECT_TRUE(taskbar->shows);
    // The same broadcast with the icon still shown leaves it as it is.
    ::SendMessageW(window.handle(), taskbarCreated, 0, 0);
    EXPECT_TRUE(taskbar->shows && tray.shown());
    EXPECT_EQ(taskbar->adds, 1);

    ::DestroyWindow(window.handle());
    EXPECT_FALSE(taskbar->shows);
    MSG quit{};
    (void)::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
}

}  // namespace
}  // namespace velgor
