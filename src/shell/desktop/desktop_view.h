#pragma once

#include <QMessageBox>
#include <QPointer>
#include <map>
#include <vector>

#include "shell/controls/controls_view.h"
#include "shell/desktop/main_window.h"
#include "shell/desktop/settings_dialog_widget.h"

namespace velgor {

class RelayControls;

// The controls' view on Qt Widgets: check marks on the main window's menu,
// settings dialogs owned by the main window, information boxes that block
// nothing, and closing the main window.
class DesktopView : public ControlsView {
  public:
    explicit DesktopView(MainWindow& window);
    ~DesktopView() override;
    DesktopView(const DesktopView&) = delete;
    DesktopView& operator=(const DesktopView&) = delete;

    // Where the dialogs' "OK" and "Cancel" go; set before any dialog opens.
    void setControls(RelayControls* controls) { controls_ = controls; }

    void setMenuCheck(int itemId, bool checked) override;
    DialogInstanceId showDialog(const DialogTemplate& dialog, const DialogFields& fields) override;
    void focusDialogControl(DialogInstanceId instance, int controlId) override;
    void showInfoBox(std::string_view caption, std::string_view text) override;
    void closeMainWindow() override;

    // The open dialog instance, or null once it is gone.
    SettingsDialogWidget* dialog(DialogInstanceId instance) const;
    // The open dialogs, oldest first.
    std::vector<SettingsDialogWidget*> openDialogs() const;
    std::vector<QMessageBox*> openInfoBoxes() const;

  private:
    MainWindow& window_;
    RelayControls* controls_ = nullptr;
    DialogInstanceId lastInstance_ = 0;
    std::map<DialogInstanceId, QPointer<SettingsDialogWidget>> dialogs_;
    std::vector<QPointer<QMessageBox>> infoBoxes_;
};

}  // namespace velgor
