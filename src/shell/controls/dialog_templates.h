#pragma once

#include <span>
#include <string_view>

namespace velgor {

// The eight settings dialogs.
enum class DialogKind {
    SourceLink,      // IDD_DIALOG8, "initmkp1.ini"
    ConsumerLink,    // IDD_DIALOG9, "initmkp2.ini"
    Coordinates,     // IDD_DIALOG3, "point.ini"
    StationName,     // IDD_DIALOG4, "name.ini"
    CompressStep,    // IDD_DIALOG_TIMECOMPRESS, "time.ini"
    Threshold,       // IDD_DIALOG_POROG, "porog.ini"
    TimerFrequency,  // IDD_DIALOG_FREQ, "frequency.ini"
    NoDataLimit,     // IDD_DIALOG_NO_DANN, "BinarComOn.ini"
};
inline constexpr int DIALOG_KIND_COUNT = 8;

// A rectangle in dialog units.
struct DialogRect {
    int x, y, width, height;
};

enum class DialogControlType { PushButton, DefaultPushButton, Edit, Label };

struct DialogControl {
    DialogControlType type;
    int id;            // DIALOG_OK, DIALOG_CANCEL, DIALOG_FIELD_1/2; labels -1
    const char* text;  // Windows-1251; edit fields start empty
    DialogRect rect;
};

// A dialog template: a modeless pop-up with caption, system menu and modal
// frame, font "MS Sans Serif" 8, controls in the order they are created.
struct DialogTemplate {
    DialogKind kind;
    const char* name;   // e.g. "IDD_DIALOG8"
    const char* title;  // Windows-1251
    DialogRect frame;
    std::span<const DialogControl> controls;
    int fieldCount;  // 1 or 2 edit fields
    bool tabCycle;   // has a Tab focus cycle of its own
};

const DialogTemplate& dialogTemplate(DialogKind kind);
std::span<const DialogTemplate> dialogTemplates();

// The size of a dialog unit for the dialog's font: `x` is the average
// character width and `y` the character height, in pixels; a dialog unit is a
// quarter of x across and an eighth of y down.
struct DialogBaseUnits {
    int x, y;
};

// Base units from font metrics: the width of the 52 letters "A..Za..z" and the
// font's height (the average width rounds half up).
DialogBaseUnits dialogBaseUnits(int alphabetWidth, int fontHeight);

struct PixelRect {
    int x, y, width, height;
};
// Each coordinate scaled and rounded to the nearest pixel.
PixelRect dialogRectToPixels(DialogRect rect, DialogBaseUnits units);

}  // namespace velgor
