// halden: the command-line face of the tool. Runs one command (see
// `halden --help`) and exits with its status. Ctrl-C (or SIGTERM, SIGHUP)
// ends the command cleanly: the job stops, the port is closed, no file is
// left half-written.
#include "cli/CliRunner.h"

#include <csignal>
#include <iostream>
#include <thread>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <io.h>

namespace {

pell::cli::Interrupt* g_interrupt = nullptr;

// Ctrl-C, Ctrl-Break and the console closing: the command ends cleanly.
BOOL WINAPI onConsoleControl(DWORD)
{
    if (g_interrupt)
        g_interrupt->Raise();
    return TRUE;
}

} // namespace

int main(int argc, char** argv)
{
    // The terminal texts are UTF-8; file names come as the system's code page.
    ::SetConsoleOutputCP(CP_UTF8);
    pell::cli::Interrupt interrupt;
    g_interrupt = &interrupt;
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);

    pell::cli::CliEnv env;
    env.out = &std::cout;
    env.err = &std::cerr;
    env.interrupt = &interrupt;
    env.progressBar = ::_isatty(::_fileno(stderr)) != 0;
    const std::vector<std::string> args(argv + 1, argv + argc);
    int status = pell::cli::kExitUsage;
    try {
        status = pell::cli::RunCli(args, env);
    } catch (const std::exception& e) {
        std::cerr << "halden: " << e.what() << "\n";
        status = 70;
    }
    std::cout.flush();
    ::SetConsoleCtrlHandler(onConsoleControl, FALSE);
    g_interrupt = nullptr;
    return status;
}

#else
#include <pthread.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    // Every thread started from here on inherits the blocked signals; one
    // thread takes them with sigwait and raises the interrupt.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGUSR1); // ends the signal thread
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    pell::cli::Interrupt interrupt;
    std::thread signals([&] {
        for (;;) {
            int sig = 0;
            if (sigwait(&set, &sig) != 0 || sig == SIGUSR1)
                return;
            interrupt.Raise();
        }
    });

    pell::cli::CliEnv env;
    env.out = &std::cout;
    env.err = &std::cerr;
    env.interrupt = &interrupt;
    env.progressBar = ::isatty(STDERR_FILENO) == 1;
    const std::vector<std::string> args(argv + 1, argv + argc);
    int status = pell::cli::kExitUsage;
    try {
        status = pell::cli::RunCli(args, env);
    } catch (const std::exception& e) {
        std::cerr << "halden: " << e.what() << "\n";
        status = 70;
    }
    std::cout.flush();
    pthread_kill(signals.native_handle(), SIGUSR1);
    signals.join();
    return status;
}
#endif
