// The console front end: the relay on Qt's core event loop, without windows. The
// status pane goes to stdout; SIGINT and SIGTERM end the program as Exit does.
#include <QCoreApplication>
#include <cstdio>

#include "links/relay.h"
#include "shell/console/console_output.h"
#include "shell/platform/qt_relay_host.h"
#include "shell/platform/quit_on_signals.h"
#include "shell/startup/front_end_entry.h"
#include "shell/startup/relay_program.h"

extern "C" __attribute__((visibility("default"))) int velgorRunFrontEnd(
    const velgor::FrontEndArgs* args) {
    using namespace velgor;
    int argc = args->argc;
    QCoreApplication app(argc, args->argv);
    QtRelayHost host;
    RelayProgram program(host, args->compress);
    ConsoleOutput output(program.relay().messageLog(), stdout);
    program.relay().messageLog().setObserver(&output);
    // Why a link went down, for whoever reads the log afterwards.
    program.relay().setDropListener([](int link, const LinkDrop& why) {
        std::fprintf(stderr, "velgor: %s link dropped: %s\n",
                     link == LINK_SOURCE ? "source" : "consumer", describeDrop(why).c_str());
    });
    host.attach(program.relay());
    QuitOnSignals quitOnSignals;
    program.startLinks();
    std::fprintf(stderr, "velgor: relay running (console); Ctrl-C ends it\n");

    const int code = QCoreApplication::exec();

    host.beginShutdown();
    program.shutdown();
    program.relay().messageLog().setObserver(nullptr);
    return code;
}
