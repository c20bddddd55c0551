#pragma once

#include <optional>

#include "shell/controls/controls_view.h"

namespace velgor {

// The Tab focus cycle of one dialog kind: it follows the most recently opened
// instance and moves the focus by counting Tab presses, not by looking at
// where the focus is: field 1000, field 1001, "OK", "Cancel", field 1000, ...
class TabCycle {
  public:
    static constexpr int CLOSED = -1;

    // An instance of the kind opened: it becomes the one that cycles.
    void opened(DialogInstanceId instance);
    // An instance of the kind closed by "OK" or "Cancel" (whichever instance).
    void closed() { step_ = CLOSED; }

    struct Move {
        DialogInstanceId instance;
        int controlId;
    };
    // A Tab press: the control to focus, or nothing when the cycle is closed.
    [[nodiscard]] std::optional<Move> takeTab();

    int step() const { return step_; }
    DialogInstanceId instance() const { return instance_; }

  private:
    int step_ = CLOSED;
    DialogInstanceId instance_ = 0;
};

}  // namespace velgor
