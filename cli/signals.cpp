#include "signals.h"

#include <csignal>

namespace tagora::cli {
namespace {

volatile std::sig_atomic_t g_stopSignal = 0;

void noteStop(int signal)
{
    g_stopSignal = signal;
}

} // namespace

void watchSignals()
{
    struct sigaction action
    {
    };
    action.sa_handler = noteStop;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read waiting on a pipe or terminal returns, so the stop is seen.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
}

int stopSignal()
{
    return g_stopSignal;
}

} // namespace tagora::cli
