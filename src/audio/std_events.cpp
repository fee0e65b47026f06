// Events and threads of the platform layer on the C++ standard library, for the platforms that
// have no Win32: auto-reset events that a thread can wait for several of at once, as
// WaitForMultipleObjects does.
//
// All events share one mutex and one condition variable: there are only ever three of them, and
// a wait for any of several events needs a single place to sleep on.
#include "audio/std_events.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

namespace sidtune::platform {

struct Event {
    bool signalled = false;
};

struct Thread {
    std::thread thread;
};

namespace {

std::mutex& eventMutex() {
    static std::mutex m;
    return m;
}

std::condition_variable& eventSignalled() {
    static std::condition_variable c;
    return c;
}

}  // namespace

Event* stdCreateEvent() { return new (std::nothrow) Event; }

void setEvent(Event* event) {
    {
        std::lock_guard<std::mutex> guard(eventMutex());
        event->signalled = true;
    }
    eventSignalled().notify_all();
}

int waitForAny(Event* const* events, uint32_t count) {
    std::unique_lock<std::mutex> guard(eventMutex());
    for (;;) {
        for (uint32_t i = 0; i < count; ++i) {
            if (events[i]->signalled) {
                events[i]->signalled = false;  // auto-reset: only the event reported
                return int(i);
            }
        }
        eventSignalled().wait(guard);
    }
}

Thread* stdCreateThread(int (*entry)(void*), void* argument) {
    Thread* t = new (std::nothrow) Thread;
    if (t == nullptr) return nullptr;
    try {
        t->thread = std::thread([entry, argument] { entry(argument); });
    } catch (...) {  // no thread could be started
        delete t;
        return nullptr;
    }
    return t;
}

void waitForThread(Thread* thread) {
    if (thread->thread.joinable()) thread->thread.join();
}

void stdCloseEvent(Event* event) { delete event; }

void stdCloseThread(Thread* thread) {
    // A Win32 thread handle can be closed while the thread runs; a std::thread must not be
    // destroyed while joinable. The engine always waits first; detach covers the other case.
    if (thread->thread.joinable()) thread->thread.detach();
    delete thread;
}

}  // namespace sidtune::platform
