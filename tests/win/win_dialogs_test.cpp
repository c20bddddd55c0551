// The settings dialogs as Win32 windows from the resource templates, driven by
// the real controls.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "config/cp1251_literal.h"
#include "shell/controls/dialog_templates.h"
#include "shell/controls/menu_ids.h"
#include "win/win_rig.h"

namespace velgor {
namespace {

using test::click;
using test::typeInto;
using test::windowText;
using test::WinRig;

// What a control of the template type is made of on Windows.
struct ControlClass {
    const wchar_t* className;
    LONG typeMask;
    LONG type;
};

ControlClass controlClass(DialogControlType type) {
    switch (type) {
        case DialogControlType::PushButton:
            return {L"Button", BS_TYPEMASK, BS_PUSHBUTTON};
        case DialogControlType::DefaultPushButton:
            return {L"Button", BS_TYPEMASK, BS_DEFPUSHBUTTON};
        case DialogControlType::Edit:
            return {L"Edit", WS_TABSTOP | ES_AUTOHSCROLL, WS_TABSTOP | ES_AUTOHSCROLL};
        case DialogControlType::Label:
            return {L"Static", SS_TYPEMASK, SS_LEFT};
    }
    return {};
}

// A control's place in its dialog's client area, as x, y, width, height.
RECT placeInDialog(HWND dialog, HWND control) {
    RECT r{};
    ::GetWindowRect(control, &r);
    ::MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

// Dialog units to pixels the dialog's own way, each value on its own.
RECT mappedByWindows(HWND dialog, DialogRect units) {
    RECT r{units.x, units.y, units.width, units.height};
    ::MapDialogRect(dialog, &r);
    return r;
}

RECT toRect(PixelRect p) {
    return {p.x, p.y, p.width, p.height};
}

bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string describe(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right) +
           "x" + std::to_string(r.bottom);
}

// The base units of the dialog's font, measured as the shared helper says.
DialogBaseUnits measuredBaseUnits(HWND dialog) {
    const HDC dc = ::GetDC(dialog);
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0));
    const HGDIOBJ previous = ::SelectObject(dc, font);
    static constexpr wchar_t ALPHABET[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SIZE alphabet{};
    ::GetTextExtentPoint32W(dc, ALPHABET, 52, &alphabet);
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    ::SelectObject(dc, previous);
    ::ReleaseDC(dialog, dc);
    return dialogBaseUnits(alphabet.cx, metrics.tmHeight);
}

// The fields each dialog shows when none of the settings files exists.
struct Defaults {
    DialogKind kind;
    std::vector<std::string> fields;
};
const Defaults DEFAULTS[] = {
    {DialogKind::SourceLink, {"7777", "127.0.0.1"}},
    {DialogKind::ConsumerLink, {"8888", "127.0.0.1"}},
    {DialogKind::Coordinates, {"47.198200", "39.628200"}},
    {DialogKind::StationName, {"Kervala"}},
    {DialogKind::CompressStep, {"50"}},
    {DialogKind::Threshold, {"50"}},
    {DialogKind::TimerFrequency, {"12000000"}},
    {DialogKind::NoDataLimit, {"60"}},
};

TEST(WinDialogs, EachOpensFromItsTemplateWithItsTitleFontControlsAndPlaces) {
    WinRig win;
    for (const Defaults& want : DEFAULTS) {
        const DialogTemplate& dialog = dialogTemplate(want.kind);
        SCOPED_TRACE(dialog.name);
        const DialogInstanceId instance = win.controls().openDialog(want.kind);
        const HWND window = win.view.dialog(instance);
        ASSERT_NE(window, nullptr);

        EXPECT_EQ(windowText(window), dialog.title);
        const auto style = static_cast<DWORD>(::GetWindowLongW(window, GWL_STYLE));
        const DWORD required = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE;
        EXPECT_EQ(style & required, required);
        EXPECT_TRUE((style & DS_MODALFRAME) != 0 ||
                    (::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME) != 0);
        EXPECT_EQ(::GetWindow(window, GW_OWNER), win.mainWindow);

        const auto font = reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0));
        LOGFONTW face{};
        ASSERT_NE(::GetObjectW(font, sizeof face, &face), 0);
        EXPECT_STREQ(face.lfFaceName, L"MS Sans Serif");
        const HDC screen = ::GetDC(nullptr);
        EXPECT_EQ(face.lfHeight, -::MulDiv(8, ::GetDeviceCaps(screen, LOGPIXELSY), 72));
        ::ReleaseDC(nullptr, screen);

        // The shared helper scales as Windows does for this font.
        const DialogBaseUnits units = measuredBaseUnits(window);
        RECT client{};
        ::GetClientRect(window, &client);
        const RECT frame = mappedByWindows(window, dialog.frame);
        EXPECT_EQ(client.right, frame.right);
        EXPECT_EQ(client.bottom, frame.bottom);
        EXPECT_TRUE(frame == toRect(dialogRectToPixels(dialog.frame, units)));

        // The children in creation order are the template's controls.
        HWND child = ::GetWindow(window, GW_CHILD);
        for (const DialogControl& control : dialog.controls) {
            SCOPED_TRACE(std::to_string(control.id) + " " + control.text);
            ASSERT_NE(child, nullptr);
            EXPECT_EQ(::GetDlgCtrlID(child), static_cast<WORD>(control.id));
            const ControlClass kind = controlClass(control.type);
            std::wstring className(64, L'\0');
            className.resize(static_cast<std::size_t>(
                ::GetClassNameW(child, className.data(), static_cast<int>(className.size()))));
            EXPECT_EQ(::lstrcmpiW(className.c_str(), kind.className), 0);
            EXPECT_EQ(::GetWindowLongW(child, GWL_STYLE) & kind.typeMask, kind.type);

            const RECT place = placeInDialog(window, child);
            EXPECT_TRUE(place == mappedByWindows(window, control.rect)) << describe(place);
            EXPECT_TRUE(place == toRect(dialogRectToPixels(control.rect, units)))
                << describe(place);
            if (control.type != DialogControlType::Edit) {
                EXPECT_EQ(windowText(child), control.text);
            }
            child = ::GetWindow(child, GW_HWNDNEXT);
        }
        EXPECT_EQ(child, nullptr) << "more controls than the template has";

        // Filled as it opened.
        for (std::size_t i = 0; i < want.fields.size(); ++i) {
            const int id = i == 0 ? DIALOG_FIELD_1 : DIALOG_FIELD_2;
            EXPECT_EQ(windowText(::GetDlgItem(window, id)), want.fields[i]) << id;
        }
    }
    EXPECT_EQ(win.view.openDialogs().size(), std::size(DEFAULTS));
}

TEST(WinDialogs, FieldsShowTheFilesTextInCyrillic) {
    WinRig win;
    win.rig.files.write("name.ini", cp1251<u8"Борисполь\n">);
    const HWND name = win.view.dialog(win.controls().openDialog(DialogKind::StationName));
    ASSERT_NE(name, nullptr);
    std::wstring shown(32, L'\0');
    shown.resize(static_cast<std::size_t>(
        ::GetDlgItemTextW(name, DIALOG_FIELD_1, shown.data(), static_cast<int>(shown.size()))));
    EXPECT_EQ(shown, L"Борисполь");
}

TEST(WinDialogs, OkHandsTheTypedTextToTheControlsAndClosesThatInstanceOnly) {
    const std::string longName(300, cp1251<u8"ж">[0]);
    const struct {
        DialogKind kind;
        const char* field1;
        const char* field2;
        const char* file;
        std::string written;
    } cases[] = {
        {DialogKind::StationName, cp1251<u8"Борисполь">, "", "name.ini", cp1251<u8"Борисполь\n">},
        // A field gives at most 255 bytes.
        {DialogKind::StationName, longName.c_str(), "", "name.ini", longName.substr(0, 255) + "\n"},
        {DialogKind::SourceLink, "7001", "receiver.local", "initmkp1.ini",
         "7001\nreceiver.local\n"},
        {DialogKind::Coordinates, "55.75", "37.62", "point.ini", "55.75\n37.62\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(dialogTemplate(c.kind).name + std::string(" ") + c.file);
        WinRig win;
        const DialogInstanceId first = win.controls().openDialog(c.kind);
        const DialogInstanceId second = win.controls().openDialog(c.kind);
        const HWND dialog = win.view.dialog(first);
        ASSERT_NE(dialog, nullptr);
        typeInto(dialog, DIALOG_FIELD_1, c.field1);
        if (dialogTemplate(c.kind).fieldCount == 2) typeInto(dialog, DIALOG_FIELD_2, c.field2);

        click(dialog, DIALOG_OK);
        EXPECT_EQ(win.rig.files.read(c.file), c.written);
        EXPECT_FALSE(::IsWindow(dialog));
        EXPECT_EQ(win.view.dialog(first), nullptr);
        EXPECT_EQ(win.view.openDialogs(), std::vector<HWND>{win.view.dialog(second)});
    }
}

TEST(WinDialogs, CancelAndTheCloseBoxCloseWithoutAChange) {
    for (const bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox ? "close box" : "Cancel");
        WinRig win;
        const HWND threshold = win.view.dialog(win.controls().openDialog(DialogKind::Threshold));
        const HWND link = win.view.dialog(win.controls().openDialog(DialogKind::SourceLink));
        ASSERT_NE(threshold, nullptr);
        ASSERT_NE(link, nullptr);
        EXPECT_NE(win.controls().sourceLinkTab().step(), TabCycle::CLOSED);
        typeInto(threshold, DIALOG_FIELD_1, "7");
        typeInto(link, DIALOG_FIELD_1, "7001");
        for (const HWND dialog : {threshold, link}) {
            if (closeBox) {
                ::SendMessageW(dialog, WM_CLOSE, 0, 0);
            } else {
                click(dialog, DIALOG_CANCEL);
            }
            EXPECT_FALSE(::IsWindow(dialog));
        }
        EXPECT_TRUE(win.view.openDialogs().empty());
        EXPECT_EQ(win.rig.files.listing(), "");
        EXPECT_EQ(win.rig.settings().signalThreshold, 50);
        EXPECT_EQ(win.rig.relay().links().endpoint(LINK_SOURCE).port, 7777);
        // "Cancel" ends the source dialog's Tab cycle: Tab is no longer taken.
        EXPECT_EQ(win.controls().sourceLinkTab().step(), TabCycle::CLOSED);
        EXPECT_FALSE(win.controls().offerTab());
    }
}

TEST(WinDialogs, KeyboardFocusFollowsTheTabCycleOfTheNewestInstance) {
    WinRig win;
    const HWND older = win.view.dialog(win.controls().openDialog(DialogKind::Coordinates));
    const HWND newer = win.view.dialog(win.controls().openDialog(DialogKind::Coordinates));
    ASSERT_NE(older, nullptr);
    ASSERT_NE(newer, nullptr);
    EXPECT_EQ(::GetFocus(), ::GetDlgItem(newer, DIALOG_FIELD_1));
    const int cycle[] = {DIALOG_FIELD_2, DIALOG_OK, DIALOG_CANCEL, DIALOG_FIELD_1};
    for (const int next : cycle) {
        EXPECT_TRUE(win.controls().offerTab());
        EXPECT_EQ(::GetFocus(), ::GetDlgItem(newer, next)) << next;
    }
    // Tab moves the focus back into the cycling dialog from another one.
    const HWND name = win.view.dialog(win.controls().openDialog(DialogKind::StationName));
    ASSERT_NE(name, nullptr);
    ::SetFocus(::GetDlgItem(name, DIALOG_FIELD_1));
    EXPECT_TRUE(win.controls().offerTab());
    EXPECT_EQ(::GetFocus(), ::GetDlgItem(newer, DIALOG_FIELD_2));
    EXPECT_EQ(::GetForegroundWindow(), newer);
}

TEST(WinDialogs, GoWithTheMainWindowOnExit) {
    WinRig win;
    const HWND dialog = win.view.dialog(win.controls().openDialog(DialogKind::StationName));
    ASSERT_NE(dialog, nullptr);
    win.controls().command(IDM_EXIT);
    EXPECT_FALSE(::IsWindow(win.mainWindow));
    EXPECT_FALSE(::IsWindow(dialog));
    EXPECT_TRUE(win.view.openDialogs().empty());
    // Gone without "Cancel" or "OK": nothing written.
    EXPECT_EQ(win.rig.files.listing(), "");
}

}  // namespace
}  // namespace velgor
