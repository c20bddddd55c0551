#pragma once

#include <string>

#include "shell/controls/controls_view.h"
#include "shell/controls/dialog_templates.h"

namespace velgor {

class Relay;

// What a settings dialog shows when it opens: from its file, from the
// built-in defaults or from memory. The name, compression step, threshold and
// timer frequency dialogs also take line 1 of their file into memory (the
// threshold back to 50 when it lies outside 0..255). A file that exists but
// lacks a line shows an empty field and leaves memory as it is.
DialogFields fillDialogOnOpening(DialogKind kind, Relay& relay, const std::string& settingsDir);

// The "OK" steps of a dialog, in order: memory, the file, and for the link
// dialogs the drop of a link that is up. A file that cannot be written is not
// reported; the memory steps happen all the same, except the no-data limit,
// which is set only when its file was written.
void applyDialogOk(DialogKind kind, const DialogFields& fields, Relay& relay,
                   const std::string& settingsDir);

}  // namespace velgor
