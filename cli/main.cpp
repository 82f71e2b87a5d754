// halden: the command-line face of the tool. Runs one command (see
// `halden --help`) and exits with its status. Ctrl-C (or SIGTERM, SIGHUP)
// ends the command cleanly: the job stops, the port is closed, no file is
// left half-written.
#include "cli/CliRunner.h"

#include <csignal>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>
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

// The arguments in UTF-8, from the wide command line: argv holds them in the
// system's code page, which may lack characters of a file name or a value.
std::vector<std::string> utf8Arguments(int argc, char** argv)
{
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr)
        return std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) {
        const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(static_cast<std::size_t>(n > 0 ? n : 1), '\0');
        if (n > 0)
            ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), n, nullptr, nullptr);
        arg.resize(arg.size() - 1); // its terminating zero
        args.push_back(arg);
    }
    ::LocalFree(wide);
    return args;
}

} // namespace

int main(int argc, char** argv)
{
    // The terminal texts are UTF-8, and so are the arguments (file names
    // included: the file functions take UTF-8 names).
    ::SetConsoleOutputCP(CP_UTF8);
    pell::cli::Interrupt interrupt;
    g_interrupt = &interrupt;
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);

    pell::cli::CliEnv env;
    env.out = &std::cout;
    env.err = &std::cerr;
    env.interrupt = &interrupt;
    env.progressBar = ::_isatty(::_fileno(stderr)) != 0;
    const std::vector<std::string> args = utf8Arguments(argc, argv);
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
