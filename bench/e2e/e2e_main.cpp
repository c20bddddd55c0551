// velgor-e2e: the relay measured from end to end on loopback, beside two peers
// on the same recorded stream (socat copying bytes, the receiver in network-only
// mode), and beside the floor of one line's send. See scripts/bench.
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/child_process.h"
#include "e2e/recorded_stream.h"
#include "e2e/run_stats.h"
#include "e2e/scenario.h"
#include "e2e/send_floor.h"

namespace velgor::e2e {
namespace {

struct Options {
    HarnessConfig harness;
    std::string recordingDirectory;
    std::string outFile;
    int runs = 5;
    std::size_t pacedRecords = 50'000;
    std::size_t stationRecords = 20'000;
    std::size_t floorIterations = 300'000;
    bool peers = true;
    bool latency = true;
    std::string only;  // run only scenarios whose name contains this
};

void usage() {
    std::puts(
        "velgor-e2e --relay PATH --work DIR [options]\n"
        "  --recording DIR   where the receiver's recorded streams are kept (default: --work)\n"
        "  --records N       units per throughput run (default 3000000)\n"
        "  --runs N          runs; medians are taken over them (default 5)\n"
        "  --paced N         units per latency run (default 50000)\n"
        "  --rate R          units per second of a latency run (default 10000)\n"
        "  --station N       units of a busy station's run, one per write (default 20000)\n"
        "  --station-rate R  units per second of that run (default 2000)\n"
        "  --idle S          seconds an idle run watches the relay (default 10)\n"
        "  --watch S         the relay writes its status and metrics files every S s\n"
        "  --floor N         send+lock pairs per floor measurement (default 300000)\n"
        "  --no-peers        the relay alone\n"
        "  --no-latency      throughput runs only\n"
        "  --only TEXT       only the scenarios whose name holds TEXT (TEXT$: exactly TEXT)\n"
        "  --relay-wrapper CMD    run the relay under CMD (e.g. 'valgrind --tool=callgrind')\n"
        "  --attach-profiler CMD  attach CMD -p PID to the relay while it plays\n"
        "                         (e.g. 'perf record -e cpu-clock -g -o FILE')\n"
        "  --baseline PATH   also run this build of the relay (before/after, same run)\n"
        "  --out FILE        also write the report (Markdown) to FILE");
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string word; in >> word;) out.push_back(word);
    return out;
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "velgor-e2e: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--relay") {
            options.harness.relayProgram = value();
        } else if (arg == "--work") {
            options.harness.workDirectory = value();
        } else if (arg == "--recording") {
            options.recordingDirectory = value();
        } else if (arg == "--records") {
            options.harness.records = std::stoull(value());
        } else if (arg == "--runs") {
            options.runs = std::stoi(value());
        } else if (arg == "--paced") {
            options.pacedRecords = std::stoull(value());
        } else if (arg == "--rate") {
            options.harness.pacedRate = std::stod(value());
        } else if (arg == "--station") {
            options.stationRecords = std::stoull(value());
        } else if (arg == "--station-rate") {
            options.harness.stationRate = std::stod(value());
        } else if (arg == "--idle") {
            options.harness.idle = std::chrono::seconds(std::stoi(value()));
        } else if (arg == "--watch") {
            options.harness.watchSeconds = std::stoi(value());
        } else if (arg == "--floor") {
            options.floorIterations = std::stoull(value());
        } else if (arg == "--no-peers") {
            options.peers = false;
        } else if (arg == "--no-latency") {
            options.latency = false;
        } else if (arg == "--only") {
            options.only = value();
        } else if (arg == "--relay-wrapper") {
            options.harness.relayWrapper = words(value());
        } else if (arg == "--attach-profiler") {
            options.harness.attachProfiler = words(value());
        } else if (arg == "--baseline") {
            options.harness.baselineProgram = value();
        } else if (arg == "--out") {
            options.outFile = value();
        } else {
            usage();
            return false;
        }
    }
    if (options.harness.relayProgram.empty() || options.harness.workDirectory.empty()) {
        usage();
        return false;
    }
    if (options.recordingDirectory.empty())
        options.recordingDirectory = options.harness.workDirectory;
    // The relay runs in a directory of its own: its path must not be relative.
    char* absolute = ::realpath(options.harness.relayProgram.c_str(), nullptr);
    if (absolute == nullptr) {
        std::fprintf(stderr, "velgor-e2e: no relay program at %s\n",
                     options.harness.relayProgram.c_str());
        return false;
    }
    options.harness.relayProgram = absolute;
    std::free(absolute);
    if (!options.harness.baselineProgram.empty()) {
        absolute = ::realpath(options.harness.baselineProgram.c_str(), nullptr);
        if (absolute == nullptr) {
            std::fprintf(stderr, "velgor-e2e: no baseline program at %s\n",
                         options.harness.baselineProgram.c_str());
            return false;
        }
        options.harness.baselineProgram = absolute;
        std::free(absolute);
    }
    return true;
}

struct NamedScenario {
    std::string name;
    Scenario scenario;
};

std::string firstLineWith(const std::string& text, const std::string& key) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(key, 0) == 0) {
            const std::size_t colon = line.find(':');
            return colon == std::string::npos ? line : line.substr(colon + 2);
        }
    }
    return "?";
}

std::string machineLine() {
    utsname names{};
    ::uname(&names);
    std::ostringstream out;
    out << firstLineWith(readWholeFile("/proc/cpuinfo"), "model name") << ", "
        << ::sysconf(_SC_NPROCESSORS_ONLN) << " CPUs online, Linux " << names.release;
    return out.str();
}

std::string loadAverage() {
    std::string text = readWholeFile("/proc/loadavg");
    return text.substr(0, text.find(' ', text.find(' ', text.find(' ') + 1) + 1));
}

std::string nowText() {
    const std::time_t now = std::time(nullptr);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %Z", std::localtime(&now));
    return text;
}

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string micros(std::int64_t ns) {
    return fixed(static_cast<double>(ns) / 1000.0, 1);
}

}  // namespace

int runHarness(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) return 2;
    ::mkdir(options.harness.workDirectory.c_str(), 0700);
    ::mkdir(options.recordingDirectory.c_str(), 0700);

    std::fprintf(stderr, "velgor-e2e: recording (or loading) the receiver's streams\n");
    const Recording recording = loadOrRecord(options.recordingDirectory);
    if (!recording.error.empty()) {
        std::fprintf(stderr, "velgor-e2e: %s\n", recording.error.c_str());
        return 1;
    }
    const Workload binary = binaryWorkload(recording.binary);
    const Workload text = textWorkload(recording.msgLines);
    if (binary.unitsPerPass == 0 || text.unitsPerPass == 0) {
        std::fprintf(stderr, "velgor-e2e: the recording holds no records or no MSG lines\n");
        return 1;
    }
    const PacedPlan binaryPaced =
        pacedPlan(binary, options.pacedRecords, options.harness.pacedRate);
    const PacedPlan textPaced = pacedPlan(text, options.pacedRecords, options.harness.pacedRate);
    const PacedPlan stationPaced =
        pacedPlan(binary, options.stationRecords, options.harness.stationRate);

    std::vector<NamedScenario> scenarios = {
        {"relay binary", {Carrier::Relay, &binary, false, nullptr}},
        {"relay binary compressed", {Carrier::Relay, &binary, true, nullptr}},
        {"relay text", {Carrier::Relay, &text, false, nullptr}},
        {"relay text compressed", {Carrier::Relay, &text, true, nullptr}},
    };
    if (!options.harness.baselineProgram.empty()) {
        scenarios.push_back({"baseline binary", {Carrier::Relay, &binary, false, nullptr, true}});
        scenarios.push_back(
            {"baseline binary compressed", {Carrier::Relay, &binary, true, nullptr, true}});
        scenarios.push_back({"baseline text", {Carrier::Relay, &text, false, nullptr, true}});
        scenarios.push_back(
            {"baseline text compressed", {Carrier::Relay, &text, true, nullptr, true}});
    }
    if (options.peers) {
        scenarios.push_back({"socat binary", {Carrier::Socat, &binary, false, nullptr}});
        scenarios.push_back({"dump1090 binary", {Carrier::Dump1090, &binary, false, nullptr}});
        scenarios.push_back({"socat text", {Carrier::Socat, &text, false, nullptr}});
    }
    if (options.latency) {
        scenarios.push_back(
            {"latency relay binary", {Carrier::Relay, &binary, false, &binaryPaced}});
        scenarios.push_back({"latency relay text", {Carrier::Relay, &text, false, &textPaced}});
        if (options.peers) {
            scenarios.push_back(
                {"latency socat binary", {Carrier::Socat, &binary, false, &binaryPaced}});
            scenarios.push_back(
                {"latency dump1090 binary", {Carrier::Dump1090, &binary, false, &binaryPaced}});
            scenarios.push_back({"latency socat text", {Carrier::Socat, &text, false, &textPaced}});
        }
    }
    if (options.latency) {
        // What the relay costs where it usually runs: a busy station's rate, each
        // record in a read of its own, and a quiet hour with both links up.
        scenarios.push_back(
            {"station relay binary", {Carrier::Relay, &binary, false, &stationPaced}});
        scenarios.push_back({"idle relay", {Carrier::Relay, &binary, false, nullptr, false, true}});
    }
    if (!options.only.empty()) {
        // "NAME$" keeps only the scenario of exactly that name.
        const bool exact = options.only.back() == '$';
        const std::string wanted =
            exact ? options.only.substr(0, options.only.size() - 1) : options.only;
        std::erase_if(scenarios, [&](const NamedScenario& s) {
            return exact ? s.name != wanted : s.name.find(wanted) == std::string::npos;
        });
    }

    std::ostringstream report;
    report << "## Run of " << nowText() << "\n\n"
           << "- Machine: " << machineLine() << "\n"
           << "- Load average (1/5/15 min) at start: " << loadAverage() << "\n"
           << "- Recording: " << binary.unitsPerPass << " records (" << binary.pass.size()
           << " bytes) and " << text.unitsPerPass << " MSG lines (" << text.pass.size()
           << " bytes) per pass\n"
           << "- Throughput runs: at least " << options.harness.records
           << " units each; latency runs: " << options.pacedRecords << " units at "
           << fixed(options.harness.pacedRate, 0) << "/s; station runs: " << options.stationRecords
           << " units at " << fixed(options.harness.stationRate, 0)
           << "/s, one per write; idle runs: " << options.harness.idle.count() << " s; "
           << options.runs << " runs\n\n"
           << "### Raw figures\n\n"
           << "| run | scenario | played | delivered | s | units/s | CPU s | CPU s/M | VmHWM kB "
              "| checked | p50 us | p99 us | max us | CPU % | wake-ups/s |\n"
           << "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n";

    std::map<std::string, std::vector<Measurement>> byName;
    std::vector<FloorFigures> floors;
    bool allOk = true;
    for (int run = 1; run <= options.runs; ++run) {
        for (const NamedScenario& named : scenarios) {
            std::fprintf(stderr, "velgor-e2e: run %d: %s ...", run, named.name.c_str());
            const Measurement m = runScenario(named.scenario, options.harness);
            std::fprintf(stderr, " %s %.0f units/s, %.3f CPU s/M, %ld kB%s%s\n",
                         m.ok ? "ok" : "FAILED", m.unitsPerSecond, m.cpuSecondsPerMillion,
                         m.peakResidentKb, m.ok ? "" : ": ", m.problem.c_str());
            allOk = allOk && m.ok;
            byName[named.name].push_back(m);
            const bool paced = named.scenario.paced != nullptr;
            report << "| " << run << " | " << named.name << " | " << m.unitsPlayed << " | "
                   << m.unitsDelivered << " | " << fixed(m.seconds, 3) << " | "
                   << fixed(m.unitsPerSecond, 0) << " | " << fixed(m.cpuSeconds, 2) << " | "
                   << fixed(m.cpuSecondsPerMillion, 3) << " | " << m.peakResidentKb << " | "
                   << (m.ok ? (m.verified ? "equal" : "count only") : "FAILED: " + m.problem)
                   << " | " << (paced ? micros(m.latency.p50Ns) : "") << " | "
                   << (paced ? micros(m.latency.p99Ns) : "") << " | "
                   << (paced ? micros(m.latency.maxNs) : "") << " | " << fixed(m.cpuPercent, 2)
                   << " | " << fixed(m.wakeupsPerSecond, 1) << " |\n";
        }
        const FloorFigures floor =
            measureSendLockFloor(options.floorIterations, options.harness.workDirectory);
        std::fprintf(stderr, "velgor-e2e: run %d: floor %.0f ns CPU, %.0f ns wall per send+lock\n",
                     run, floor.cpuNs, floor.wallNs);
        floors.push_back(floor);
        report << "| " << run << " | floor: send 44 B + lock pair | " << options.floorIterations
               << " | | | | | | | | CPU " << fixed(floor.cpuNs, 0) << " ns | wall "
               << fixed(floor.wallNs, 0) << " ns | | | |\n";
    }

    // Medians over the runs.
    auto medianOf = [&](const std::string& name,
                        const std::function<double(const Measurement&)>& f) {
        std::vector<double> values;
        for (const Measurement& m : byName[name]) {
            if (m.ok) values.push_back(f(m));
        }
        return median(values);
    };
    report << "\n### Medians over " << options.runs << " runs\n\n"
           << "| scenario | units/s | CPU s per M units | CPU ns per unit | VmHWM kB | p50 us | "
              "p99 us | max us | CPU % of a core | wake-ups/s |\n"
              "|---|---|---|---|---|---|---|---|---|---|\n";
    using Figure = std::function<double(const Measurement&)>;
    const Figure unitsPerSecond = [](const Measurement& m) { return m.unitsPerSecond; };
    const Figure cpuPerMillion = [](const Measurement& m) { return m.cpuSecondsPerMillion; };
    const Figure cpuNsPerUnit = [](const Measurement& m) { return m.cpuSecondsPerMillion * 1e3; };
    const Figure peakKb = [](const Measurement& m) {
        return static_cast<double>(m.peakResidentKb);
    };
    const Figure p50 = [](const Measurement& m) {
        return static_cast<double>(m.latency.p50Ns) / 1e3;
    };
    const Figure p99 = [](const Measurement& m) {
        return static_cast<double>(m.latency.p99Ns) / 1e3;
    };
    const Figure max = [](const Measurement& m) {
        return static_cast<double>(m.latency.maxNs) / 1e3;
    };
    const Figure cpuPercent = [](const Measurement& m) { return m.cpuPercent; };
    const Figure wakeups = [](const Measurement& m) { return m.wakeupsPerSecond; };
    for (const NamedScenario& named : scenarios) {
        const std::string& name = named.name;
        const bool paced = named.scenario.paced != nullptr;
        report << "| " << name << " | " << fixed(medianOf(name, unitsPerSecond), 0) << " | "
               << fixed(medianOf(name, cpuPerMillion), 3) << " | "
               << fixed(medianOf(name, cpuNsPerUnit), 0) << " | "
               << fixed(medianOf(name, peakKb), 0) << " | "
               << (paced ? fixed(medianOf(name, p50), 1) : "") << " | "
               << (paced ? fixed(medianOf(name, p99), 1) : "") << " | "
               << (paced ? fixed(medianOf(name, max), 1) : "") << " | "
               << fixed(medianOf(name, cpuPercent), 2) << " | " << fixed(medianOf(name, wakeups), 1)
               << " |\n";
    }
    std::vector<double> floorCpu;
    std::vector<double> floorWall;
    for (const FloorFigures& f : floors) {
        floorCpu.push_back(f.cpuNs);
        floorWall.push_back(f.wallNs);
    }
    report << "| floor: send 44 B + lock pair | | | " << fixed(median(floorCpu), 0) << " (wall "
           << fixed(median(floorWall), 0) << ") | | | | | | |\n";

    // Ratios, each from figures of the same run, then their median.
    auto ratio = [&](const std::string& a, const std::string& b,
                     const std::function<double(const Measurement&)>& f) -> std::string {
        if (byName.count(a) == 0 || byName.count(b) == 0) return "";
        std::vector<double> values;
        for (std::size_t i = 0; i < byName[a].size() && i < byName[b].size(); ++i) {
            const Measurement& x = byName[a][i];
            const Measurement& y = byName[b][i];
            if (x.ok && y.ok && f(y) > 0) values.push_back(f(x) / f(y));
        }
        if (values.empty()) return "";
        char shown[32];
        std::snprintf(shown, sizeof shown, "%.3g", median(values));
        return shown;
    };
    auto rate = [](const Measurement& m) { return m.unitsPerSecond; };
    auto cost = [](const Measurement& m) { return m.cpuSecondsPerMillion; };
    report << "\n### Ratios (per run, then the median)\n\n"
           << "| ratio | throughput | CPU per unit |\n|---|---|---|\n"
           << "| relay binary / socat binary | " << ratio("relay binary", "socat binary", rate)
           << " | " << ratio("relay binary", "socat binary", cost) << " |\n"
           << "| relay binary / dump1090 binary | "
           << ratio("relay binary", "dump1090 binary", rate) << " | "
           << ratio("relay binary", "dump1090 binary", cost) << " |\n"
           << "| relay text / socat text | " << ratio("relay text", "socat text", rate) << " | "
           << ratio("relay text", "socat text", cost) << " |\n";
    for (const char* mode : {"binary", "binary compressed", "text", "text compressed"}) {
        const std::string after = std::string("relay ") + mode;
        const std::string before = std::string("baseline ") + mode;
        if (byName.count(before) == 0) continue;
        report << "| " << after << " / " << before << " | " << ratio(after, before, rate) << " | "
               << ratio(after, before, cost) << " |\n";
    }
    if (byName.count("relay binary") != 0) {
        std::vector<double> overFloor;
        for (std::size_t i = 0; i < byName["relay binary"].size() && i < floors.size(); ++i) {
            const Measurement& m = byName["relay binary"][i];
            if (m.ok && floors[i].cpuNs > 0) {
                overFloor.push_back(m.cpuSecondsPerMillion * 1000.0 / floors[i].cpuNs);
            }
        }
        report << "| relay binary CPU per record / floor CPU per send+lock | | "
               << (overFloor.empty() ? "" : fixed(median(overFloor), 2)) << " |\n";
    }
    report << "\nLoad average at the end: " << loadAverage() << "\n";

    std::fputs(report.str().c_str(), stdout);
    if (!options.outFile.empty()) std::ofstream(options.outFile, std::ios::trunc) << report.str();
    return allOk ? 0 : 1;
}

}  // namespace velgor::e2e

int main(int argc, char** argv) {
    return velgor::e2e::runHarness(argc, argv);
}
