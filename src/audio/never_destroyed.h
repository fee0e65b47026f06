// An object in static storage that is never destroyed: for what a thread of the library's may
// still use while a host that ends without the plugin's unload runs the exit handlers (the plugin
// ends its threads first, but nothing orders that before the destruction of statics of another
// file). It is made on first use, in the library's own storage, so nothing is allocated that a
// leak check could miss once the library is unloaded.
#pragma once

#include <new>

namespace sidtune {

template <typename T>
T& neverDestroyed() {
    alignas(T) static unsigned char storage[sizeof(T)];
    static T* const object = new (storage) T;
    return *object;
}

}  // namespace sidtune
