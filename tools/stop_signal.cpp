#include "stop_signal.h"

#include <atomic>
#include <csignal>
#include <cstdlib>

namespace sidtune {
namespace {

std::atomic<int> received{0};
std::atomic<int> waitingCalls{0};
void (*extraAction)(int) = nullptr;

extern "C" void onStopSignal(int signal) {
    received = signal;
    if (extraAction != nullptr) extraAction(signal);
    if (waitingCalls.load() != 0) std::_Exit(exitCodeFor(signal));
}

}  // namespace

void catchStopSignals(void (*onSignal)(int)) {
    extraAction = onSignal;
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
}

int stopSignal() { return received; }

WaitingCall::WaitingCall() { ++waitingCalls; }
WaitingCall::~WaitingCall() { --waitingCalls; }

}  // namespace sidtune
