#include "shell/controls/tab_cycle.h"

#include <array>

#include "shell/controls/menu_ids.h"

namespace velgor {
namespace {

// The control each step moves the focus to.
constexpr std::array<int, 4> STEP_TARGETS{DIALOG_FIELD_2, DIALOG_OK, DIALOG_CANCEL, DIALOG_FIELD_1};

}  // namespace

void TabCycle::opened(DialogInstanceId instance) {
    instance_ = instance;
    step_ = 0;
}

std::optional<TabCycle::Move> TabCycle::takeTab() {
    if (step_ == CLOSED) return std::nullopt;
    const Move move{instance_, STEP_TARGETS[static_cast<std::size_t>(step_)]};
    step_ = step_ + 1 > 3 ? 0 : step_ + 1;
    return move;
}

}  // namespace velgor
