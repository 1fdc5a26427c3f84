#include "scard.h"

#include <thread>
#include <utility>

namespace kvfl {

void ScardEnumerator::waitForReaderChange(std::chrono::milliseconds atMost)
{
    std::this_thread::sleep_for(atMost);
}

ScardLock::ScardLock(std::shared_ptr<Scard> scard) : scard_(std::move(scard)) { scard_->lock(); }

ScardLock::~ScardLock() {
    // A destructor must not throw; a failed end of the transaction leaves
    // nothing to undo here, and the card ends it when the connection closes.
    try {
        scard_->unlock();
    } catch (...) {
    }
}

}  // namespace kvfl
