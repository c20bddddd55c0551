#include "e2e/scenario.h"

#include <sys/stat.h>

#include <fstream>
#include <thread>

#include "e2e/child_process.h"
#include "e2e/loopback_socket.h"
#include "e2e/stream_player.h"

namespace velgor::e2e {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds CONNECT_LIMIT{15000};
constexpr milliseconds HANDSHAKE_LIMIT{10000};
// After the consumer's handshake the relay still has to mark the link up on its
// main thread; the source link may come up a moment later than the consumer.
constexpr milliseconds SETTLE{400};
// A compressed batch goes out only with a call made more than one tick after the
// last flush: the player waits this long and then sends one unit more.
constexpr milliseconds BATCH_FLUSH_WAIT{350};
constexpr std::size_t FLUSH_UNITS_MAX = 100;

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::trunc) << text;
}

std::string scratchDirectory(const HarnessConfig& config, const std::string& name) {
    static int serial = 0;
    const std::string dir = config.workDirectory + "/" + name + "-" + std::to_string(++serial);
    ::mkdir(dir.c_str(), 0700);
    return dir;
}

// What every carrier run shares: a listener for the reader, the player's
// socket, the carrier process, the play and the figures.
struct Wiring {
    UniqueFd playerSocket;
    UniqueFd readerSocket;
    ChildProcess process;
};

bool startRelay(const Scenario& scenario, const HarnessConfig& config, Wiring& wiring,
                std::string& problem) {
    const std::string dir = scratchDirectory(config, "relay");
    Listener source = listenLoopback();
    Listener consumer = listenLoopback();
    if (!source.socket.valid() || !consumer.socket.valid()) {
        problem = "no loopback listener";
        return false;
    }
    writeText(dir + "/initmkp1.ini", std::to_string(source.port) + "\n127.0.0.1\n");
    writeText(dir + "/initmkp2.ini", std::to_string(consumer.port) + "\n127.0.0.1\n");
    writeText(dir + "/BinarComOn.ini", std::string(scenario.workload->binary ? "1" : "0") + "\n" +
                                           (scenario.compressed ? "1" : "0") + "\n0\n60\n");
    writeText(dir + "/porog.ini", "0\n");  // every record is forwarded
    writeText(dir + "/time.ini", "1\n");   // compression step 1
    if (config.watchSeconds > 0) writeText(dir + "/watch.ini", std::to_string(config.watchSeconds));
    const std::string runtimeDir = dir + "/run";  // a lock file of its own
    ::mkdir(runtimeDir.c_str(), 0700);

    ChildProcess::Options options;
    options.workingDirectory = dir;
    options.outputFile = dir + "/relay.log";
    options.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    options.setEnv = {{"XDG_RUNTIME_DIR", runtimeDir}};
    std::vector<std::string> argv = config.relayWrapper;
    argv.push_back(scenario.baseline ? config.baselineProgram : config.relayProgram);
    if (!wiring.process.start(argv, options)) {
        problem = wiring.process.error();
        return false;
    }
    wiring.playerSocket = acceptWithin(source, CONNECT_LIMIT);
    wiring.readerSocket = acceptWithin(consumer, CONNECT_LIMIT);
    if (!wiring.playerSocket.valid() || !wiring.readerSocket.valid()) {
        problem = "the relay did not connect (see " + options.outputFile + ")";
        return false;
    }
    return true;
}

bool startSocat(const HarnessConfig& config, Wiring& wiring, std::string& problem) {
    Listener source = listenLoopback();
    Listener consumer = listenLoopback();
    const std::string dir = scratchDirectory(config, "socat");
    ChildProcess::Options options;
    options.outputFile = dir + "/socat.log";
    // One way, reads of up to 64 KiB like the relay's, no Nagle delay on the way out.
    const std::vector<std::string> argv = {
        config.socatProgram,
        "-u",
        "-b",
        "65536",
        "TCP:127.0.0.1:" + std::to_string(source.port),
        "TCP:127.0.0.1:" + std::to_string(consumer.port) + ",nodelay"};
    if (!wiring.process.start(argv, options)) {
        problem = wiring.process.error();
        return false;
    }
    wiring.playerSocket = acceptWithin(source, CONNECT_LIMIT);
    wiring.readerSocket = acceptWithin(consumer, CONNECT_LIMIT);
    if (!wiring.playerSocket.valid() || !wiring.readerSocket.valid()) {
        problem = "socat did not connect";
        return false;
    }
    return true;
}

bool startDump1090(const HarnessConfig& config, Wiring& wiring, std::string& problem) {
    const std::string dir = scratchDirectory(config, "dump1090");
    const std::uint16_t inputPort = pickFreePort();
    const std::uint16_t outputPort = pickFreePort();
    ChildProcess::Options options;
    options.outputFile = dir + "/dump1090.log";
    const std::vector<std::string> argv = {config.dump1090Program,
                                           "--net-only",
                                           "--quiet",
                                           "--modeac",
                                           "--mlat",
                                           "--net-bind-address",
                                           "127.0.0.1",
                                           "--net-bi-port",
                                           std::to_string(inputPort),
                                           "--net-ro-port",
                                           std::to_string(outputPort),
                                           "--net-ri-port",
                                           "0",
                                           "--net-bo-port",
                                           "0",
                                           "--net-sbs-port",
                                           "0",
                                           "--net-http-port",
                                           "0",
                                           "--net-heartbeat",
                                           "0"};
    if (!wiring.process.start(argv, options)) {
        problem = wiring.process.error();
        return false;
    }
    wiring.readerSocket = connectLoopbackWithin(outputPort, CONNECT_LIMIT);
    wiring.playerSocket = connectLoopbackWithin(inputPort, CONNECT_LIMIT);
    if (!wiring.playerSocket.valid() || !wiring.readerSocket.valid()) {
        problem = "cannot connect to dump1090 (see " + options.outputFile + ")";
        return false;
    }
    return true;
}

ReaderSetup readerSetupFor(const Scenario& scenario, std::uint64_t unitsPlayed) {
    const Workload& workload = *scenario.workload;
    ReaderSetup setup;
    switch (scenario.carrier) {
        case Carrier::Relay:
            setup.readAs = ReadAs::Feed;
            setup.expected = scenario.paced ? scenario.paced->expectedLines : workload.expectedPass;
            setup.expectedUnits = unitsPlayed;
            break;
        case Carrier::Socat:
            setup.readAs = ReadAs::Bytes;
            setup.expected = scenario.paced ? scenario.paced->played : workload.pass;
            setup.unitsPerPass =
                scenario.paced ? scenario.paced->units.size() : workload.unitsPerPass;
            setup.expectedBytes = scenario.paced
                                      ? scenario.paced->played.size()
                                      : unitsPlayed / workload.unitsPerPass * workload.pass.size();
            break;
        case Carrier::Dump1090:
            setup.readAs = ReadAs::Lines;  // it does not forward every record: no count to wait for
            break;
    }
    if (scenario.paced != nullptr) {
        setup.unitId = scenario.paced->unitId;
        if (scenario.carrier == Carrier::Socat) setup.unitEnds = scenario.paced->unitEnds;
    }
    setup.keepCheckpoints = scenario.compressed;
    return setup;
}

}  // namespace

const char* carrierName(Carrier carrier) {
    switch (carrier) {
        case Carrier::Relay:
            return "relay";
        case Carrier::Socat:
            return "socat";
        case Carrier::Dump1090:
            return "dump1090";
    }
    return "?";
}

PacedPlan pacedPlan(const Workload& workload, std::size_t count, double rate) {
    PacedPlan plan;
    plan.rate = rate;
    plan.unitId = workload.binary ? UnitId::Serial : UnitId::Ordinal;
    for (std::size_t k = 0; k < count && workload.unitsPerPass > 0; ++k) {
        std::string unit;
        if (workload.binary) {
            BinaryRecord record = workload.records[k % workload.records.size()];
            unit = recordWithSerial(record, k + 1);
            record = splitBinaryRecords(unit).front();
            plan.expectedLines += recordLine(record);
        } else {
            unit = workload.units[k % workload.units.size()];
            std::string_view text(unit);
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
                text.remove_suffix(1);
            }
            plan.expectedLines += text;
            plan.expectedLines += "\r\n";
        }
        plan.played += unit;
        plan.unitEnds.push_back(plan.played.size());
        plan.units.push_back(std::move(unit));
    }
    return plan;
}

Measurement runScenario(const Scenario& scenario, const HarnessConfig& config) {
    Measurement m;
    const Workload& workload = *scenario.workload;
    const std::size_t passes = (config.records + workload.unitsPerPass - 1) / workload.unitsPerPass;
    m.unitsPlayed = scenario.idle    ? 0
                    : scenario.paced ? scenario.paced->units.size()
                                     : passes * workload.unitsPerPass;

    Wiring wiring;
    bool started = false;
    switch (scenario.carrier) {
        case Carrier::Relay:
            started = startRelay(scenario, config, wiring, m.problem);
            break;
        case Carrier::Socat:
            started = startSocat(config, wiring, m.problem);
            break;
        case Carrier::Dump1090:
            started = startDump1090(config, wiring, m.problem);
            break;
    }
    if (!started) return m;
    setNoDelay(wiring.playerSocket.get());

    const std::uint64_t unitsAwaited = m.unitsPlayed;
    std::unique_ptr<WriteStamps> stamps;
    if (scenario.paced != nullptr) {
        stamps = std::make_unique<WriteStamps>(scenario.paced->units.size());
    }
    ReaderSetup setup = readerSetupFor(scenario, unitsAwaited);
    setup.stamps = stamps.get();
    StreamReader reader(std::move(setup));
    reader.start(std::move(wiring.readerSocket));
    if (scenario.carrier == Carrier::Relay) {
        const auto deadline = std::chrono::steady_clock::now() + HANDSHAKE_LIMIT;
        while (!reader.handshakeSeen() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(milliseconds(5));
        }
        if (!reader.handshakeSeen()) m.problem = "no handshake from the relay";
    }
    std::this_thread::sleep_for(SETTLE);

    ChildProcess profiler;
    if (scenario.carrier == Carrier::Relay && !config.attachProfiler.empty()) {
        std::vector<std::string> argv = config.attachProfiler;
        argv.insert(argv.end(), {"-p", std::to_string(wiring.process.pid())});
        ChildProcess::Options options;
        options.outputFile = config.workDirectory + "/profiler.log";
        if (profiler.start(argv, options)) std::this_thread::sleep_for(SETTLE);
    }
    const double cpuBefore = wiring.process.cpuSeconds();
    const unsigned long long switchesBefore = wiring.process.contextSwitches();
    PlayResult play;
    if (scenario.idle) {
        play.startNs = monotonicNs();
        std::this_thread::sleep_for(config.idle);
        play.endNs = monotonicNs();
        play.complete = true;
    } else if (stamps != nullptr) {
        play = playPaced(wiring.playerSocket.get(), scenario.paced->units, scenario.paced->rate,
                         *stamps);
    } else {
        play = playBulk(wiring.playerSocket.get(), workload.pass, passes);
    }
    if (scenario.compressed) {
        // The last batch goes out only with a unit that comes more than a tick after
        // the previous flush. The relay may still be working through the stream, so
        // one more unit follows every little while until all have arrived.
        for (std::size_t extra = 0; reader.unitsSoFar() < m.unitsPlayed && extra < FLUSH_UNITS_MAX;
             ++extra) {
            std::this_thread::sleep_for(BATCH_FLUSH_WAIT);
            const std::string& unit = workload.units[extra % workload.units.size()];
            sendAll(wiring.playerSocket.get(), unit.data(), unit.size());
        }
    }
    reader.playerFinished();
    ReaderResult read = reader.finish();
    m.cpuSeconds = wiring.process.cpuSeconds() - cpuBefore;
    const unsigned long long switches = wiring.process.contextSwitches() - switchesBefore;
    m.peakResidentKb = wiring.process.peakResidentKb();
    profiler.stop(std::chrono::seconds(30));
    wiring.process.stop(std::chrono::seconds(config.relayWrapper.empty() ? 5 : 60));

    m.unitsDelivered = read.units;
    std::int64_t endNs = read.lastNs;
    std::uint64_t counted = read.units;
    if (scenario.compressed) {
        // The rate of the steady flow, up to the last frame before the one that
        // completed the count: that one waited for a tick and an extra unit, by
        // design, not for the relay's work.
        for (const auto& checkpoint : read.checkpoints) {
            if (checkpoint.units >= m.unitsPlayed) break;
            counted = checkpoint.units;
            endNs = checkpoint.readNs;
        }
    }
    // An idle run's span is the watch itself; the others end with the last unit.
    if (scenario.idle) endNs = play.endNs;
    m.seconds = static_cast<double>(endNs - play.startNs) / 1e9;
    if (m.seconds > 0) {
        m.unitsPerSecond = static_cast<double>(counted) / m.seconds;
        m.cpuPercent = m.cpuSeconds / m.seconds * 100.0;
        m.wakeupsPerSecond = static_cast<double>(switches) / m.seconds;
    }
    if (m.unitsPlayed > 0) {
        m.cpuSecondsPerMillion = m.cpuSeconds / static_cast<double>(m.unitsPlayed) * 1e6;
    }
    m.verified = scenario.carrier != Carrier::Dump1090 && read.verified;
    if (!read.latenciesNs.empty()) m.latency = summarizeLatency(std::move(read.latenciesNs));

    const bool allThere = scenario.carrier == Carrier::Dump1090 || read.units >= unitsAwaited;
    if (!play.complete) {
        m.problem = "the player could not write everything";
    } else if (!read.verified) {
        m.problem = read.problem;
    } else if (!allThere) {
        m.problem = "delivered " + std::to_string(read.units) + " of " +
                    std::to_string(unitsAwaited) +
                    (read.problem.empty() ? "" : ": " + read.problem);
    }
    m.ok = m.problem.empty();
    return m;
}

}  // namespace velgor::e2e
