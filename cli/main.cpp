// postira-run: sends the serial mail from a terminal. SIGINT and SIGTERM stop the run between two lines,
// like "Mailing stoppen" in the window.

#include "cli/cli_run.h"
#include "mailing/core_dumps.h"
#include "mailing/smtp_transport.h"

#include <QCoreApplication>

#include <atomic>
#include <csignal>
#include <iostream>

namespace {

std::atomic<bool> g_stop{false};

void RequestStop(int) { g_stop.store(true); }

}  // namespace

int main(int argc, char** argv) {
    TurnOffCoreDumps();
    QCoreApplication app(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    std::vector<std::string> args(argv + 1, argv + argc);
    CliTransports transports;
    transports.smtp = [] { return CreateSmtpTransport(); };
    transports.dryRun = [](const std::string& folder) { return CreateDryRunTransport(folder); };
    return RunCli(args, std::cout, std::cerr, transports, [] { return g_stop.load(); });
}
