#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velgor::e2e {

// Monotonic clock in nanoseconds, the one time base of player and reader.
std::int64_t monotonicNs();

// Write times of the units of a paced run, by unit index; 0 until written.
class WriteStamps {
  public:
    explicit WriteStamps(std::size_t count)
        : count_(count), stamps_(std::make_unique<std::atomic<std::int64_t>[]>(count)) {}
    std::size_t size() const { return count_; }
    void set(std::size_t index, std::int64_t ns) {
        stamps_[index].store(ns, std::memory_order_release);
    }
    std::int64_t get(std::size_t index) const {
        return index < count_ ? stamps_[index].load(std::memory_order_acquire) : 0;
    }

  private:
    std::size_t count_;
    std::unique_ptr<std::atomic<std::int64_t>[]> stamps_;
};

struct PlayResult {
    std::int64_t startNs = 0;  // just before the first write
    std::int64_t endNs = 0;    // after the last write returned
    bool complete = false;     // every byte was written
};

// Writes `passes` copies of `pass` back to back as fast as the socket takes
// them, in writes of about 1 MiB made of whole passes.
PlayResult playBulk(int fd, const std::string& pass, std::size_t passes);

// Writes units[k] (one write each) at k / rate seconds after the start, for
// every k below stamps.size() (units repeat when there are fewer), and stamps
// each write time. A unit that falls behind its time is written at once.
PlayResult playPaced(int fd, const std::vector<std::string>& units, double rate,
                     WriteStamps& stamps);

}  // namespace velgor::e2e
