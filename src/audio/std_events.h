// Events and threads of the platform layer on the C++ standard library (std_events.cpp), for the
// platforms without Win32. They define setEvent, waitForAny and waitForThread of platform.h; a
// platform's createEvent, createThread and closeHandle hand on to these.
#pragma once

#include "audio/platform.h"

namespace sidtune::platform {

Event* stdCreateEvent();
Thread* stdCreateThread(int (*entry)(void*), void* argument);
void stdCloseEvent(Event* event);
void stdCloseThread(Thread* thread);

}  // namespace sidtune::platform
