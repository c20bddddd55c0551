#include "links/reconnect_thread.h"

#include "links/relay.h"
#include "links/stop_aware_sleep.h"

namespace velgor {

void ReconnectThread::start() {
    thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
}

void ReconnectThread::stop() {
    if (!thread_.joinable()) return;
    thread_.request_stop();
    thread_.join();
}

void ReconnectThread::run(std::stop_token stop) {
    while (!stop.stop_requested()) {
        if (!sleepUnlessStopped(RECONNECT_PAUSE, stop)) return;
        if (!relay_.links().isUp(LINK_SOURCE)) relay_.connectLink(LINK_SOURCE, stop);
        if (!sleepUnlessStopped(RECONNECT_PAUSE, stop)) return;
        consumerTurn(stop);
        if (!sleepUnlessStopped(RECONNECT_PAUSE, stop)) return;
    }
}

void ReconnectThread::consumerTurn(std::stop_token stop) {
    if (relay_.links().isUp(LINK_CONSUMER)) return;
    // An endpoint the operator has changed starts afresh.
    const LinkEndpoint endpoint = relay_.links().endpoint(LINK_CONSUMER);
    if (endpoint.port != failingPort_ || endpoint.host.view() != failingHost_) {
        consumerFailingSince_.reset();
        consumerDueAt_ = {};
    }
    if (Clock::now() < consumerDueAt_) return;

    if (relay_.connectLink(LINK_CONSUMER, stop)) {
        consumerFailingSince_.reset();
        consumerDueAt_ = {};
        return;
    }
    if (stop.stop_requested()) return;
    const auto now = Clock::now();
    if (!consumerFailingSince_) {
        consumerFailingSince_ = now;
        failingPort_ = endpoint.port;
        failingHost_ = std::string(endpoint.host.view());
    }
    const auto pause = consumerSchedule_(
        std::chrono::duration_cast<std::chrono::milliseconds>(now - *consumerFailingSince_));
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    consumerDueAt_ = now + withJitter(pause, unit(jitter_));
}

}  // namespace velgor
