#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <vector>

#include "shell/controls/controls_view.h"

namespace velgor {

class RelayControls;

// The controls' view on Win32: check marks on the main window's menu, modeless
// settings dialogs from the resource templates, owned by the main window,
// information boxes that block nothing, and destroying the main window.
// Texts go to and from the windows as UTF-16 converted from Windows-1251.
// Main thread only.
class WinControlsView : public ControlsView {
  public:
    WinControlsView(HWND mainWindow, HINSTANCE instance);
    // Dialogs still open are destroyed without "Cancel".
    ~WinControlsView() override;
    WinControlsView(const WinControlsView&) = delete;
    WinControlsView& operator=(const WinControlsView&) = delete;

    // Where the dialogs' "OK" and "Cancel" go; set before any dialog opens.
    void setControls(RelayControls* controls) { controls_ = controls; }

    void setMenuCheck(int itemId, bool checked) override;
    DialogInstanceId showDialog(const DialogTemplate& dialog, const DialogFields& fields) override;
    void focusDialogControl(DialogInstanceId instance, int controlId) override;
    // A message box with no owner: the main window stays usable and the relay
    // goes on through the box's own message loop. Returns once it is closed.
    void showInfoBox(std::string_view caption, std::string_view text) override;
    void closeMainWindow() override;

    // The window of an open dialog instance, or null once it is gone.
    HWND dialog(DialogInstanceId instance) const;
    // The open dialogs' windows, oldest first.
    std::vector<HWND> openDialogs() const;

  private:
    struct OpenDialog;
    static INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    void finish(const OpenDialog& open, bool accepted);

    HWND mainWindow_;
    HINSTANCE instance_;
    RelayControls* controls_ = nullptr;
    DialogInstanceId lastInstance_ = 0;
    std::map<DialogInstanceId, std::unique_ptr<OpenDialog>> dialogs_;
};

}  // namespace velgor
