#pragma once

#include <memory>
#include <string>

#include "feed/compress_fn.h"
#include "links/reconnect_thread.h"
#include "links/relay.h"
#include "links/relay_host.h"
#include "report/station_report.h"
#include "sys/consumer_lock.h"

namespace velgor {

// The relay's start-up and shutdown, shared by every front end. The front end
// owns the event loop (the host); the program owns the relay and its workers.
//
//   RelayProgram program(host, compress, dir);   // settings probed and loaded
//   ... front end builds its window / console output, starts the tick ...
//   program.startLinks();                         // send lock, reconnect thread
//   ... event loop runs ...
//   program.shutdown();                           // after host.beginShutdown()
class RelayProgram {
  public:
    // Probes the settings directory and loads every settings file (empty dir:
    // the working directory).
    RelayProgram(RelayHost& host, CompressFn compress, std::string settingsDir = {});
    ~RelayProgram();
    RelayProgram(const RelayProgram&) = delete;
    RelayProgram& operator=(const RelayProgram&) = delete;

    // Starts the reconnect thread; its first attempt comes half a second later.
    void startLinks();
    // Ends the reconnect thread without waiting for an attempt in progress,
    // closes the link sockets and frees the settings. The host must already
    // refuse main-thread requests (the reconnect thread may be waiting on one).
    void shutdown();

    Relay& relay() { return *relay_; }
    const std::string& settingsDir() const { return settingsDir_; }

  private:
    std::string settingsDir_;
    ConsumerLock consumerLock_;
    std::unique_ptr<Relay> relay_;
    std::unique_ptr<StationReport> report_;  // with "watch.ini" asking for it
    std::unique_ptr<ReconnectThread> reconnect_;
    bool shutDown_ = false;
};

}  // namespace velgor
