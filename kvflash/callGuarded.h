// The frame of every exported call: one call at a time in the whole
// process, every exception turned into a status, the outcome kept per thread.
#pragma once

#include "exception.h"

#include <kvflash-core/kvflash.h>

#include <functional>
#include <mutex>

namespace kvfl {

kvflash_StatusCode callGuarded(const std::function<void()>& body) noexcept;

// The outcome of this thread's last guarded call, details included.
const Exception& lastError();

// Serialises the exported calls of all threads.
std::mutex& apiMutex();

// True when any of the pointers is null: the exported functions then return
// KVFLASH_NULL_POINTER without doing anything.
template <typename... Pointers>
bool anyNull(const Pointers*... pointers)
{
    return ((pointers == nullptr) || ...);
}

}  // namespace kvfl
