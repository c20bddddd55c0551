#include "links/reconnect_thread.h"

#include <condition_variable>
#include <mutex>

#include "links/relay.h"

namespace velgor {
namespace {

// Sleeps for `duration`; returns false when a stop was requested meanwhile.
[[nodiscard]] bool pauseFor(std::chrono::milliseconds duration, std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    wake.wait_for(lock, stop, duration, [] { return false; });
    return !stop.stop_requested();
}

}  // namespace

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
        if (!pauseFor(RECONNECT_PAUSE, stop)) return;
        if (!relay_.links().isUp(LINK_SOURCE)) relay_.connectLink(LINK_SOURCE, stop);
        if (!pauseFor(RECONNECT_PAUSE, stop)) return;
        if (!relay_.links().isUp(LINK_CONSUMER)) relay_.connectLink(LINK_CONSUMER, stop);
        if (!pauseFor(RECONNECT_PAUSE, stop)) return;
    }
}

}  // namespace velgor
