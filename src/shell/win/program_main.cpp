// velgor.exe: the relay as a Windows program. Attaches zlib1.dll, loads the
// settings, builds the main window with its status lines, tick and tray icon,
// starts the links, and runs the message loop until the main window is gone.
#include <windows.h>
#include <winsock2.h>

#include <string>
#include <string_view>

#include "config/cp1251_literal.h"
#include "feed/zlib_binding.h"
#include "links/relay.h"
#include "shell/controls/relay_controls.h"
#include "shell/controls/window_texts.h"
#include "shell/startup/compression_check.h"
#include "shell/startup/relay_program.h"
#include "shell/win/main_window.h"
#include "shell/win/status_lines.h"
#include "shell/win/tray_icon.h"
#include "shell/win/win_controls_view.h"
#include "shell/win/win_relay_host.h"
#include "shell/win/win_resources.h"
#include "shell/win/win_text.h"
#include "shell/win/window_messages.h"

namespace {

using namespace velgor;

// Windows Sockets 1.1; a failure is shown once, and the links then fail on every
// attempt, which their status lines show.
void startNetworking() {
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(1, 1), &data) != 0) {
        ::MessageBoxW(nullptr, widenCp1251(cp1251<u8"Ошибка WSAStartup">).c_str(), L"Error", MB_OK);
    }
}

constexpr std::string_view wakeUpFailureText =
    cp1251<u8"Не удалось запустить программу: нет связи с главным потоком (Winsock)">;

HFONT makeFont(const wchar_t* face, int height) {
    return ::CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_DONTCARE, face);
}

// The message loop: a Tab character, wherever it is typed, goes to the settings
// dialogs' focus cycles first; one that takes it ends there.
int runMessageLoop(RelayControls& controls) {
    MSG message{};
    for (;;) {
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) return static_cast<int>(message.wParam);
        if (got < 0) return EXIT_FAILURE;
        if (message.message == WM_CHAR && message.wParam == '\t' && controls.offerTab()) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int show) {
    // Command-line arguments are not used.
    ZlibBinding zlib;
    if (auto failure = compressionFailure(zlib)) {
        if (failure->message) {
            ::MessageBoxW(nullptr, widenCp1251(failure->message->text).c_str(),
                          widenCp1251(failure->message->caption).c_str(), MB_OK);
        }
        return failure->exitCode;
    }

    // Before the settings: the host's hand-over from the reconnect thread wakes
    // the main window through a socket.
    startNetworking();
    WinRelayHost host;
    RelayProgram program(host, zlib.compress());
    Relay& relay = program.relay();

    MainWindow window(instance);
    // A window class that cannot be registered is a start that failed.
    if (!window.registerClass()) return EXIT_FAILURE;
    HWND handle = window.create();
    if (handle == nullptr) return EXIT_FAILURE;
    // Without the reconnect thread's way to the main window no link could ever be
    // tried, and the window would stay empty for good: a start that failed.
    if (!host.attach(handle, relay)) {
        ::MessageBoxW(nullptr, widenCp1251(wakeUpFailureText).c_str(), L"Error", MB_OK);
        return EXIT_FAILURE;
    }
    ::ShowWindow(handle, show);
    ::UpdateWindow(handle);

    HFONT logFont = makeFont(L"MS Sans Serif", 8);
    HFONT statusFont = makeFont(L"Fixedsys", 12);
    StatusLines pane(relay.messageLog());
    pane.create(handle, instance, logFont, statusFont);
    relay.messageLog().setObserver(&pane);

    ::SetTimer(handle, TICK_TIMER_ID, TICK_PERIOD_MS, nullptr);
    TrayIcon tray;
    (void)tray.add(handle, ::LoadIconW(instance, ICON_WNAME), mainWindowTitle());

    WinControlsView view(handle, instance);
    RelayControls controls(relay, program.settingsDir(), view);
    view.setControls(&controls);
    window.setRoutes({&host, &controls, &tray});

    program.startLinks();
    controls.applyStartupChecks();

    const int exitCode = runMessageLoop(controls);

    // The window is gone. The reconnect thread is let go from any hand-over and
    // ended without waiting for an attempt in progress; then the sockets.
    window.setRoutes({});
    host.beginShutdown();
    program.shutdown();
    ::WSACleanup();
    relay.messageLog().setObserver(nullptr);
    tray.remove();
    ::DeleteObject(logFont);
    ::DeleteObject(statusFont);
    return exitCode;
}
