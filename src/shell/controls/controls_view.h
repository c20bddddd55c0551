#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "config/fixed_text.h"
#include "shell/controls/dialog_templates.h"

namespace velgor {

// The texts of a dialog's edit fields (Windows-1251; a field gives at most 255
// bytes). Field 1000 is texts[0], field 1001 texts[1].
struct DialogFields {
    std::array<Text256, 2> texts;
};

// Names one open dialog instance; 0 is no instance.
using DialogInstanceId = std::uint64_t;

// What the menu commands, keys and dialogs need from the user interface they
// run in. The desktop implements it with widgets; tests record the calls.
class ControlsView {
  public:
    virtual ~ControlsView() = default;

    // Sets or clears the check mark of a menu item.
    virtual void setMenuCheck(int itemId, bool checked) = 0;
    // Creates a further modeless instance of a dialog, filled with `fields`,
    // and returns at once; 0 when it could not be created.
    virtual DialogInstanceId showDialog(const DialogTemplate& dialog,
                                        const DialogFields& fields) = 0;
    // Puts the keyboard focus on a control of an open dialog instance; does
    // nothing if that instance is gone.
    virtual void focusDialogControl(DialogInstanceId instance, int controlId) = 0;
    // An information box with an OK button that blocks nothing.
    virtual void showInfoBox(std::string_view caption, std::string_view text) = 0;
    // Destroys the main window, which ends the program with exit code 0.
    virtual void closeMainWindow() = 0;
};

}  // namespace velgor
