#include "links/stop_aware_sleep.h"

#include <condition_variable>
#include <mutex>

namespace velgor {

bool sleepUnlessStopped(std::chrono::milliseconds duration, std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    wake.wait_for(lock, stop, duration, [] { return false; });
    return !stop.stop_requested();
}

}  // namespace velgor
