#pragma once

#include <array>
#include <chrono>
#include <string>

#include "config/fixed_text.h"
#include "config/link_endpoint.h"
#include "shell/platform/service_notifier.h"

namespace velgor {

class LinkTable;

// The relay as its service manager sees it: READY=1 once it runs, STATUS= with
// the two links' status texts ("source: Соединение 127.0.0.1; consumer: Идет
// установление связи") when a tick finds one changed, WATCHDOG=1 from the main
// loop's tick, STOPPING=1 when it ends. Main thread.
class ServiceStatus {
  public:
    // The watchdog is fed at half the manager's time-out, and at most once a second.
    static constexpr std::chrono::milliseconds MAX_WATCHDOG_PERIOD{1000};

    ServiceStatus(const LinkTable& links, ServiceNotifier& notifier);

    void started();
    // Every tick of the main loop.
    void tick();
    void stopping();

    // Half the manager's time-out, at most MAX_WATCHDOG_PERIOD; zero: no watchdog.
    std::chrono::milliseconds watchdogPeriod() const { return watchdogPeriod_; }
    // The STATUS text, UTF-8, for two links' status texts (Windows-1251); "-" for
    // a link without one.
    static std::string statusText(std::string_view source, std::string_view consumer);

  private:
    void reportLinks();

    const LinkTable& links_;
    ServiceNotifier& notifier_;
    std::chrono::milliseconds watchdogPeriod_{0};
    std::chrono::steady_clock::time_point lastWatchdog_{};
    std::array<Text256, LINK_COUNT> reported_{};
};

}  // namespace velgor
