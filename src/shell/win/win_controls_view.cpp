#include "shell/win/win_controls_view.h"

#include <array>
#include <string>

#include "shell/controls/menu_ids.h"
#include "shell/controls/relay_controls.h"
#include "shell/win/win_text.h"

namespace velgor {
namespace {

constexpr std::array<int, 2> FIELD_IDS = {DIALOG_FIELD_1, DIALOG_FIELD_2};
// A field gives at most 255 characters, each one byte of Windows-1251.
constexpr int FIELD_BUFFER = 256;

std::wstring widenName(const char* name) {
    // Template names are ASCII.
    return std::wstring(name, name + std::char_traits<char>::length(name));
}

}  // namespace

// One open dialog instance; the dialog window holds a pointer to it.
struct WinControlsView::OpenDialog {
    WinControlsView* view;
    DialogKind kind;
    int fieldCount;
    DialogInstanceId instance;
    const DialogFields* opening;  // the fields to show, while the dialog is created
    HWND window = nullptr;
};

WinControlsView::WinControlsView(HWND mainWindow, HINSTANCE instance)
    : mainWindow_(mainWindow), instance_(instance) {}

WinControlsView::~WinControlsView() {
    // Unhooked first, so that their destruction does not come back here.
    const auto open = std::move(dialogs_);
    dialogs_.clear();
    for (const auto& [instance, record] : open) {
        if (record->window == nullptr) continue;
        ::SetWindowLongPtrW(record->window, DWLP_USER, 0);
        ::DestroyWindow(record->window);
    }
}

void WinControlsView::setMenuCheck(int itemId, bool checked) {
    ::CheckMenuItem(::GetMenu(mainWindow_), static_cast<UINT>(itemId),
                    static_cast<UINT>(MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED)));
}

DialogInstanceId WinControlsView::showDialog(const DialogTemplate& dialog,
                                             const DialogFields& fields) {
    const DialogInstanceId instance = ++lastInstance_;
    auto record = std::make_unique<OpenDialog>(
        OpenDialog{this, dialog.kind, dialog.fieldCount, instance, &fields});
    OpenDialog* open = record.get();
    // Known before the window exists: its procedure looks it up while it is created.
    dialogs_.emplace(instance, std::move(record));
    const HWND window =
        ::CreateDialogParamW(instance_, widenName(dialog.name).c_str(), mainWindow_,
                             &WinControlsView::dialogProcedure, reinterpret_cast<LPARAM>(open));
    if (window == nullptr) {
        dialogs_.erase(instance);
        return 0;
    }
    open->opening = nullptr;
    return instance;
}

INT_PTR CALLBACK WinControlsView::dialogProcedure(HWND window, UINT message, WPARAM wParam,
                                                  LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* open = reinterpret_cast<OpenDialog*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        open->window = window;
        for (int i = 0; i < open->fieldCount; ++i) {
            const std::size_t index = static_cast<std::size_t>(i);
            ::SetDlgItemTextW(window, FIELD_IDS[index],
                              widenCp1251(open->opening->texts[index].view()).c_str());
        }
        // No initial focus: the dialogs that want one place it themselves.
        return FALSE;
    }
    auto* open = reinterpret_cast<OpenDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (open == nullptr) return FALSE;
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                open->view->finish(*open, LOWORD(wParam) == IDOK);
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:  // the caption's close box is "Cancel"
            open->view->finish(*open, false);
            return TRUE;
        case WM_DESTROY:  // also when the main window goes
            ::SetWindowLongPtrW(window, DWLP_USER, 0);
            open->view->dialogs_.erase(open->instance);
            return FALSE;
        default:
            return FALSE;
    }
}

void WinControlsView::finish(const OpenDialog& open, bool accepted) {
    const HWND window = open.window;
    if (accepted) {
        DialogFields fields;
        for (int i = 0; i < open.fieldCount; ++i) {
            const std::size_t index = static_cast<std::size_t>(i);
            std::array<wchar_t, FIELD_BUFFER> text{};
            ::GetDlgItemTextW(window, FIELD_IDS[index], text.data(), FIELD_BUFFER);
            fields.texts[index] = narrowToCp1251(text.data());
        }
        if (controls_ != nullptr) controls_->acceptDialog(open.kind, fields);
    } else if (controls_ != nullptr) {
        controls_->cancelDialog(open.kind);
    }
    // `open` goes with the window.
    ::DestroyWindow(window);
}

void WinControlsView::focusDialogControl(DialogInstanceId instance, int controlId) {
    const HWND window = dialog(instance);
    if (window == nullptr) return;
    if (const HWND control = ::GetDlgItem(window, controlId); control != nullptr) {
        ::SetFocus(control);
    }
}

void WinControlsView::showInfoBox(std::string_view caption, std::string_view text) {
    ::MessageBoxW(nullptr, widenCp1251(text).c_str(), widenCp1251(caption).c_str(), MB_OK);
}

void WinControlsView::closeMainWindow() {
    ::DestroyWindow(mainWindow_);
}

HWND WinControlsView::dialog(DialogInstanceId instance) const {
    const auto found = dialogs_.find(instance);
    return found == dialogs_.end() ? nullptr : found->second->window;
}

std::vector<HWND> WinControlsView::openDialogs() const {
    std::vector<HWND> open;
    for (const auto& [instance, record] : dialogs_) {
        if (record->window != nullptr) open.push_back(record->window);
    }
    return open;
}

}  // namespace velgor
