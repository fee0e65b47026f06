// SIGINT (Ctrl-C) and SIGTERM, for the programs: caught, so that a tune is stopped cleanly and an
// unfinished file removed before the program ends, with 128 plus the signal's number (130, 143).
//
//   catchStopSignals([onSignal])   from now on; `onSignal` runs in the handler itself (only
//                                  async-signal-safe calls), for what cannot wait for the program
//   stopSignal()                   0, or the signal that asked the program to stop
//   exitCodeFor(signal)            128 + the signal's number
//   WaitingCall call;              while it lives (a call into the plugin, which may wait up to
//                                  two seconds for a sound server), a stop signal ends the program
//                                  at once with exitCodeFor(signal): the call cannot be cut short
#pragma once

namespace sidtune {

void catchStopSignals(void (*onSignal)(int signal) = nullptr);
int stopSignal();
inline int exitCodeFor(int signal) { return 128 + signal; }

class WaitingCall {
  public:
    WaitingCall();
    ~WaitingCall();
    WaitingCall(const WaitingCall&) = delete;
    WaitingCall& operator=(const WaitingCall&) = delete;
};

}  // namespace sidtune
