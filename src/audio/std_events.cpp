// Events and threads of the platform layer on the C++ standard library, for the platforms that
// have no Win32: auto-reset events that a thread can wait for several of at once, as
// WaitForMultipleObjects does.
//
// All events share one mutex and one condition variable: there are only ever three of them, and
// a wait for any of several events needs a single place to sleep on.
#include "audio/std_events.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "audio/never_destroyed.h"

namespace sidtune::platform {

struct Event {
    bool signalled = false;
};

struct Thread {
    std::thread thread;
};

namespace {

// Never destroyed: a worker may still wait here while a host that ends without the plugin's unload
// runs the exit handlers.
std::mutex& eventMutex() { return neverDestroyed<std::mutex>(); }
std::condition_variable& eventSignalled() { return neverDestroyed<std::condition_variable>(); }

}  // namespace

Event* stdCreateEvent() { return new (std::nothrow) Event; }

void setEvent(Event* event) {
    {
        std::lock_guard<std::mutex> guard(eventMutex());
        event->signalled = true;
    }
    eventSignalled().notify_all();
}

int waitForAny(Event* const* events, uint32_t count, uint32_t milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    // The lowest signalled event, reset (auto-reset: only the event reported); -1 when none is.
    auto take = [&] {
        for (uint32_t i = 0; i < count; ++i) {
            if (events[i]->signalled) {
                events[i]->signalled = false;
                return int(i);
            }
        }
        return -1;
    };
    std::unique_lock<std::mutex> guard(eventMutex());
    for (;;) {
        if (const int i = take(); i >= 0) return i;
        if (milliseconds == kWaitForever) {
            eventSignalled().wait(guard);
        } else if (eventSignalled().wait_until(guard, deadline) == std::cv_status::timeout) {
            const int i = take();  // one set just as the time ran out still counts
            return i >= 0 ? i : kWaitTimedOut;
        }
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
