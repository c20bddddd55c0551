// The console front end: the relay on a poll(2) loop of its own, without windows
// and without Qt, part of the program itself. The status pane goes to stdout;
// SIGINT and SIGTERM end the program as Exit does.
// Under systemd the service manager is told when the relay is ready, how its
// links are doing, and that its main loop is alive; when stdout is the journal,
// the received traffic is summed up once a minute instead of shown line by line.
#include "shell/console/console_front_end.h"

#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "links/relay.h"
#include "shell/console/console_output.h"
#include "shell/platform/journal_stream.h"
#include "shell/platform/poll_relay_host.h"
#include "shell/platform/quit_signal_pipe.h"
#include "shell/platform/service_notifier.h"
#include "shell/startup/relay_program.h"
#include "shell/startup/service_status.h"
#include "shell/startup/traffic_summary.h"

namespace velgor {

int runConsole(const FrontEndArgs& args) {
    // The operator's locale for what the C library formats (the journal summary's
    // figures), as on the desktop, where Qt sets it.
    std::setlocale(LC_ALL, "");
    PollRelayHost host;
    RelayProgram program(host, args.compress);
    Relay& relay = program.relay();

    ServiceNotifier notifier = ServiceNotifier::fromEnvironment();
    if (!notifier.problem().empty()) {
        std::fprintf(stderr, "velgor: %s; the service manager is not told\n",
                     notifier.problem().c_str());
    }
    ServiceStatus service(relay.links(), notifier);

    const bool journal = isJournalStream(STDOUT_FILENO, std::getenv("JOURNAL_STREAM"));
    ConsoleOutput output(relay.messageLog(), stdout,
                         journal ? ConsoleOutput::Mode::Journal : ConsoleOutput::Mode::Live);
    std::optional<PeriodicSummary> summary;
    if (journal) summary.emplace(summaryInterval(std::getenv("VELGOR_SUMMARY_SECONDS")));
    relay.messageLog().setObserver(&output);
    // Why a link went down, for whoever reads the log afterwards.
    relay.setDropListener([](int link, const LinkDrop& why) {
        std::fprintf(stderr, "velgor: %s link dropped: %s\n",
                     link == LINK_SOURCE ? "source" : "consumer", describeDrop(why).c_str());
    });
    host.attach(relay);
    host.addTickDuty([&] {
        service.tick();
        if (!summary) return;
        if (auto line = summary->due(relay.trafficCounts())) output.printText(*line);
    });
    host.setTicking(true);
    QuitSignalPipe quit;
    program.startLinks();
    service.started();
    if (journal) {
        std::fprintf(stderr,
                     "velgor: relay running; link changes, messages and a summary every %lld s "
                     "go to the journal\n",
                     static_cast<long long>(summary->interval().count()));
    } else {
        std::fprintf(stderr, "velgor: relay running (console); Ctrl-C ends it\n");
    }

    host.run(quit.readFd(), [&] { return quit.takeQuit(); });

    service.stopping();
    host.beginShutdown();
    program.shutdown();
    if (summary) output.printText(summary->last(relay.trafficCounts()));
    relay.messageLog().setObserver(nullptr);
    return 0;
}

}  // namespace velgor
