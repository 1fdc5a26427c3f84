#include "callGuarded.h"

#include <string>

namespace kvfl {
namespace {

// Constant-initialised: it exists before any call, whatever the order of static initialisation.
std::mutex mutexOfAllCalls;

Exception& lastErrorOfThisThread()
{
    thread_local Exception lastError(KVFLASH_OK);
    return lastError;
}

}  // namespace

std::mutex& apiMutex()
{
    return mutexOfAllCalls;
}

const Exception& lastError()
{
    return lastErrorOfThisThread();
}

kvflash_StatusCode callGuarded(const std::function<void()>& body) noexcept
{
    try {
        Exception& lastError = lastErrorOfThisThread();
        try {
            std::unique_lock lock(apiMutex(), std::defer_lock);
            try {
                lock.lock();
            } catch (...) {
                return KVFLASH_INTERNAL_ERROR;
            }
            body();
            lastError = Exception(KVFLASH_OK);
        } catch (const Exception& e) {
            lastError = e;
        } catch (const std::exception& e) {
            lastError = Exception(KVFLASH_INTERNAL_ERROR, {{ErrorInfoKind::StdException, std::string(e.what())}});
        } catch (...) {
            lastError = Exception(KVFLASH_INTERNAL_ERROR);
        }
        return lastError.status();
    } catch (...) {
        return KVFLASH_INTERNAL_ERROR;
    }
}

}  // namespace kvfl
