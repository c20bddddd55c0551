#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace velgor::test {

// How to run the real receiver (Debian's dump1090-mutability) on the radio
// capture of tests/data.
struct ReceiverOptions {
    // Raw port: '@' + 12 timestamp digits + message lines when set, '*' +
    // message lines when not.
    bool mlat = true;
    bool modeAC = true;  // also decode Mode A/C replies (type '1' binary records)
    // Replay at real-time speed (about 0.18 s per pass) instead of as fast as
    // the machine can.
    bool throttle = false;
    // Passes over the capture; 0 keeps feeding it until stop().
    int replays = 1;
    std::string captureFile;  // empty: tests/data/modes1-2400k.u8
};

// The real receiver as a live source on 127.0.0.1: it listens on three free
// ports (binary, raw text, SBS text) and decodes the capture fed to its
// standard input. start() brings it up with its input held back, so that
// clients can connect before any data flows; startInput() lets the capture go.
// It exits by itself once its input ends (unless replays is 0).
class Receiver {
  public:
    explicit Receiver(ReceiverOptions options = {});
    ~Receiver();
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    // Returns false, with error() saying why, if it could not be started or
    // its ports did not open.
    bool start();
    void startInput();
    // Waits until the receiver has exited by itself; false on timeout.
    bool waitForExit(std::chrono::milliseconds timeout);
    // Ends the input and the receiver (at once if it still runs).
    void stop();

    std::uint16_t binaryPort() const { return binaryPort_; }
    std::uint16_t rawPort() const { return rawPort_; }
    std::uint16_t sbsPort() const { return sbsPort_; }
    bool running() const { return pid_ > 0; }
    int exitStatus() const { return exitStatus_; }
    const std::string& error() const { return error_; }

  private:
    bool launch();
    bool waitForPorts(std::chrono::milliseconds timeout);
    bool reap(bool block);
    void feed();

    ReceiverOptions options_;
    std::string capture_;  // the whole capture file
    pid_t pid_ = -1;
    int inputFd_ = -1;
    std::uint16_t binaryPort_ = 0;
    std::uint16_t rawPort_ = 0;
    std::uint16_t sbsPort_ = 0;
    int exitStatus_ = -1;
    std::string error_;
    std::thread feeder_;
    std::atomic<bool> stopFeeding_{false};
};

// Connects to 127.0.0.1:port; returns the socket, or -1.
int connectLoopback(std::uint16_t port);

// Reads every socket until its peer closes it or the timeout passes; the
// sockets are closed afterwards. Returns true when every peer closed.
bool readUntilClosed(const std::vector<int>& sockets, std::vector<std::string>& received,
                     std::chrono::milliseconds timeout);

// What one whole replay served on each port.
struct ReceiverRun {
    std::string binary;     // binary port: 0x1A-escaped records
    std::string raw;        // raw port: '@' or '*' lines
    std::string sbs;        // SBS port: "MSG," lines
    bool complete = false;  // the receiver exited and every connection closed
    std::string error;
};

// Starts the receiver, connects to all three ports, waits until it has taken
// the connections (clientDelay), lets the input go and reads until the
// receiver exits. With replays 0 it would never end: use Receiver directly.
ReceiverRun captureReceiverRun(ReceiverOptions options = {},
                               std::chrono::milliseconds clientDelay = std::chrono::seconds(1));

// Splits a text stream into its lines (without CR or LF; empty lines dropped).
std::vector<std::string> splitLines(const std::string& text);

}  // namespace velgor::test
