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
        if (!relay_.links().isUp(LINK_CONSUMER)) relay_.connectLink(LINK_CONSUMER, stop);
        if (!sleepUnlessStopped(RECONNECT_PAUSE, stop)) return;
    }
}

}  // namespace velgor
