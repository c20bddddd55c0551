// The compiled menus and icon, the check marks, the tray menu and the
// information boxes.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>

#include "shell/controls/menu_ids.h"
#include "shell/controls/menu_table.h"
#include "shell/controls/window_texts.h"
#include "shell/win/win_resources.h"
#include "shell/win/win_text.h"
#include "win/win_rig.h"

namespace velgor {
namespace {

using test::WinRig;

// A menu item's text in Windows-1251.
std::string itemText(HMENU menu, UINT position) {
    std::wstring text(128, L'\0');
    text.resize(static_cast<std::size_t>(::GetMenuStringW(
        menu, position, text.data(), static_cast<int>(text.size()), MF_BYPOSITION)));
    return narrowToCp1251(text);
}

TEST(WinMenus, MatchTheMenuTablesItemForItem) {
    const struct {
        const wchar_t* name;
        std::span<const MenuPopup> table;
    } menus[] = {{MAIN_MENU_WNAME, mainMenu()}, {TRAY_MENU_WNAME, trayMenu()}};
    for (const auto& m : menus) {
        const HMENU menu = ::LoadMenuW(WinRig::module(), m.name);
        ASSERT_NE(menu, nullptr);
        ASSERT_EQ(::GetMenuItemCount(menu), static_cast<int>(m.table.size()));
        for (UINT p = 0; p < m.table.size(); ++p) {
            const MenuPopup& popup = m.table[p];
            SCOPED_TRACE(popup.title);
            EXPECT_EQ(itemText(menu, p), popup.title);
            const HMENU items = ::GetSubMenu(menu, static_cast<int>(p));
            ASSERT_NE(items, nullptr);
            ASSERT_EQ(::GetMenuItemCount(items), static_cast<int>(popup.items.size()));
            for (UINT i = 0; i < popup.items.size(); ++i) {
                const MenuItem& item = popup.items[i];
                SCOPED_TRACE(item.name);
                EXPECT_EQ(::GetMenuItemID(items, static_cast<int>(i)), static_cast<UINT>(item.id));
                EXPECT_EQ(itemText(items, i), item.label);
                // A plain text item, enabled and unchecked as loaded.
                EXPECT_EQ(::GetMenuState(items, i, MF_BYPOSITION), static_cast<UINT>(MF_STRING));
            }
        }
        ::DestroyMenu(menu);
    }
}

bool checked(HWND window, int item) {
    const UINT state = ::GetMenuState(::GetMenu(window), static_cast<UINT>(item), MF_BYCOMMAND);
    EXPECT_NE(state, static_cast<UINT>(-1)) << "no item " << item;
    return (state & MF_CHECKED) != 0;
}

TEST(WinMenus, ToggleCommandsSetTheirMarksOnTheMainWindowsMenu) {
    WinRig win;
    ASSERT_NE(::GetMenu(win.mainWindow), nullptr) << "the window class brings MENU_1";
    win.rig.files.write("BinarComOn.ini", "1\n0\n1\n60\n");
    win.controls().applyStartupChecks();
    EXPECT_TRUE(checked(win.mainWindow, IDM_BINARY_MODE));
    EXPECT_FALSE(checked(win.mainWindow, IDM_COMPRESS));
    EXPECT_TRUE(checked(win.mainWindow, IDM_NO_DATA_WATCHDOG));
    EXPECT_FALSE(checked(win.mainWindow, IDM_RELATIVE_TIME));

    // Each toggle flips its own mark and no other.
    const int items[] = {IDM_BINARY_MODE, IDM_COMPRESS, IDM_RELATIVE_TIME, IDM_NO_DATA_WATCHDOG};
    const auto marks = [&] {
        std::map<int, bool> shown;
        for (const int item : items) shown[item] = checked(win.mainWindow, item);
        return shown;
    };
    for (const int command : items) {
        SCOPED_TRACE(command);
        std::map<int, bool> expected = marks();
        expected[command] = !expected[command];
        win.controls().command(command);
        EXPECT_EQ(marks(), expected);
    }
    // The key '5' switches relative time without touching its mark.
    const bool mark = checked(win.mainWindow, IDM_RELATIVE_TIME);
    win.controls().character('5');
    EXPECT_EQ(checked(win.mainWindow, IDM_RELATIVE_TIME), mark);
}

// Queues key presses for the menu's own message loop to find.
void queueKeys(HWND window, std::initializer_list<WPARAM> keys) {
    for (const WPARAM key : keys) {
        ::PostMessageW(window, WM_KEYDOWN, key, 0);
        ::PostMessageW(window, WM_KEYUP, key, 0);
    }
}

void drainMessages() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
}

TEST(WinTrayMenu, ReturnsTheChosenCommandOrNothing) {
    WinRig win;
    const POINT at{20, 20};
    queueKeys(win.mainWindow, {VK_DOWN, VK_RETURN});
    EXPECT_EQ(showTrayMenu(win.mainWindow, WinRig::module(), at), IDM_EXIT);
    drainMessages();
    queueKeys(win.mainWindow, {VK_ESCAPE});
    EXPECT_EQ(showTrayMenu(win.mainWindow, WinRig::module(), at), 0);
    drainMessages();
    // A module without the menu shows nothing.
    EXPECT_EQ(showTrayMenu(win.mainWindow, ::GetModuleHandleW(L"kernel32.dll"), at), 0);
    EXPECT_TRUE(::IsWindow(win.mainWindow)) << "choosing is the caller's to act on";
}

TEST(WinResources, IconIsOne32By32ImageIn16Colours) {
    const HMODULE module = WinRig::module();
    const HRSRC group = ::FindResourceW(module, ICON_WNAME, MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    ASSERT_NE(group, nullptr);
    ASSERT_GE(::SizeofResource(module, group), 6u + 14u);
    const auto* directory = static_cast<const BYTE*>(::LockResource(::LoadResource(module, group)));
    ASSERT_NE(directory, nullptr);
    EXPECT_EQ(directory[4], 1);  // one image
    const BYTE* entry = directory + 6;
    EXPECT_EQ(entry[0], 32);  // width
    EXPECT_EQ(entry[1], 32);  // height
    EXPECT_EQ(entry[2], 16);  // colours
    EXPECT_EQ(entry[6], 4);   // bits a pixel
    const auto icon = static_cast<HICON>(
        ::LoadImageW(module, ICON_WNAME, IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
    EXPECT_NE(icon, nullptr);
    if (icon != nullptr) ::DestroyIcon(icon);
}

// What a message box showed while it was open, seen from a timer that its
// message loop runs; the timer then presses its OK.
struct SeenBox {
    HWND mainWindow = nullptr;
    HWND box = nullptr;
    std::string caption;
    std::string text;
    bool owned = true;
    bool mainWindowEnabled = false;
};
SeenBox* seen = nullptr;

BOOL CALLBACK findBox(HWND window, LPARAM found) {
    wchar_t className[16] = {};
    ::GetClassNameW(window, className, 16);
    if (::lstrcmpW(className, L"#32770") != 0 || !::IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

BOOL CALLBACK findLongestStatic(HWND child, LPARAM longest) {
    wchar_t className[16] = {};
    ::GetClassNameW(child, className, 16);
    auto* text = reinterpret_cast<std::string*>(longest);
    if (::lstrcmpiW(className, L"Static") == 0) {
        std::string shown = test::windowText(child);
        if (shown.size() > text->size()) *text = std::move(shown);
    }
    return TRUE;
}

void CALLBACK lookAtTheBox(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND box = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), findBox, reinterpret_cast<LPARAM>(&box));
    if (box == nullptr) return;
    ::KillTimer(nullptr, timer);
    seen->box = box;
    seen->caption = test::windowText(box);
    ::EnumChildWindows(box, findLongestStatic, reinterpret_cast<LPARAM>(&seen->text));
    seen->owned = ::GetWindow(box, GW_OWNER) != nullptr;
    seen->mainWindowEnabled = ::IsWindowEnabled(seen->mainWindow) != FALSE;
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
}

TEST(WinInfoBoxes, ShowTheirTextsWithNoOwnerSoTheMainWindowStaysUsable) {
    const struct {
        int command;
        std::string_view caption;
        std::string_view text;
    } boxes[] = {{IDM_HELP, helpBoxCaption(), helpBoxText()},
                 {IDM_AUTHOR, authorBoxCaption(), authorBoxText()}};
    for (const auto& b : boxes) {
        SCOPED_TRACE(b.command);
        WinRig win;
        SeenBox box;
        box.mainWindow = win.mainWindow;
        seen = &box;
        ::SetTimer(nullptr, 0, 50, lookAtTheBox);
        win.controls().command(b.command);  // returns once the box is closed
        seen = nullptr;
        ASSERT_NE(box.box, nullptr);
        EXPECT_FALSE(::IsWindow(box.box));
        EXPECT_EQ(box.caption, b.caption);
        EXPECT_EQ(box.text, b.text);
        EXPECT_FALSE(box.owned);
        EXPECT_TRUE(box.mainWindowEnabled);
    }
}

}  // namespace
}  // namespace velgor
