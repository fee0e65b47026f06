#include "stop_signal.h"

#include <atomic>
#include <csignal>

namespace sidtune {
namespace {

std::atomic<int> received{0};
void (*extraAction)(int) = nullptr;

extern "C" void onStopSignal(int signal) {
    received = signal;
    if (extraAction != nullptr) extraAction(signal);
}

}  // namespace

void catchStopSignals(void (*onSignal)(int)) {
    extraAction = onSignal;
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
}

int stopSignal() { return received; }

}  // namespace sidtune
