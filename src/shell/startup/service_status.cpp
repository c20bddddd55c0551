#include "shell/startup/service_status.h"

#include <algorithm>

#include "config/cp1251.h"
#include "links/link_table.h"

namespace velgor {

ServiceStatus::ServiceStatus(const LinkTable& links, ServiceNotifier& notifier)
    : links_(links), notifier_(notifier) {
    const auto half =
        std::chrono::duration_cast<std::chrono::milliseconds>(notifier.watchdogTimeout() / 2);
    if (notifier.watchdogTimeout().count() > 0) {
        watchdogPeriod_ = std::clamp(half, std::chrono::milliseconds{1}, MAX_WATCHDOG_PERIOD);
    }
}

void ServiceStatus::started() {
    if (!notifier_.active()) return;
    reportLinks();
    notifier_.ready();
    lastWatchdog_ = std::chrono::steady_clock::now();
}

void ServiceStatus::tick() {
    if (!notifier_.active()) return;
    reportLinks();
    if (watchdogPeriod_.count() == 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastWatchdog_ >= watchdogPeriod_) {
        notifier_.watchdog();
        lastWatchdog_ = now;
    }
}

void ServiceStatus::stopping() {
    notifier_.stopping();
}

void ServiceStatus::reportLinks() {
    bool changed = false;
    for (int link : {LINK_SOURCE, LINK_CONSUMER}) {
        const Text256 now = links_.statusText(link);
        Text256& reported = reported_[static_cast<std::size_t>(link)];
        if (reported.view() == now.view()) continue;
        reported = now.view();
        changed = true;
    }
    // Nothing is said until a link has a status: the first attempt comes a little
    // after the start.
    if (!changed) return;
    notifier_.status(statusText(reported_[LINK_SOURCE].view(), reported_[LINK_CONSUMER].view()));
}

std::string ServiceStatus::statusText(std::string_view source, std::string_view consumer) {
    // A link not tried yet has no text.
    auto shown = [](std::string_view text) {
        return text.empty() ? std::string("-") : cp1251ToUtf8(text);
    };
    return "source: " + shown(source) + "; consumer: " + shown(consumer);
}

}  // namespace velgor
