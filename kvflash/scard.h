// The library's view of one card connection and of the cards present.
#pragma once

#include "apdu/apdu.h"
#include "apdu/response.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace kvfl {

// A reader name exactly as PC/SC lists it (UTF-8 here).
using PcscString = std::string;

class Scard {
public:
    virtual ~Scard() = default;
    // One command exchange. A status word other than 9000 is returned, not
    // thrown: callers judge it.
    virtual Response transmit(const Apdu& apdu) = 0;
    // Nested card transaction: only the outermost lock and unlock reach the card.
    virtual void lock() = 0;
    virtual void unlock() = 0;
    // Exchanges the connection state with another connection of the same kind.
    virtual void swap(Scard& other) = 0;
    // The reader that holds the card.
    virtual const PcscString& reader() const = 0;
};

class ScardEnumerator {
public:
    virtual ~ScardEnumerator() = default;
    // Connections to all present cards of known token models, in reader order.
    virtual std::vector<std::shared_ptr<Scard>> enumScards() = 0;
    // A connection to the card in this one reader when it is of a known
    // token model; null when the reader holds no such card.
    virtual std::shared_ptr<Scard> connectTo(const PcscString& reader) = 0;
    // Notes the readers and their cards as they are now.
    virtual void noteReaders() {}
    // Returns when a card came or went since the readers were last noted
    // (noting them anew), or after atMost. One that cannot watch readers
    // simply lets atMost pass.
    virtual void waitForReaderChange(std::chrono::milliseconds atMost);
};

// Holds a card transaction for its scope.
class ScardLock {
public:
    explicit ScardLock(std::shared_ptr<Scard> scard);
    ~ScardLock();
    ScardLock(const ScardLock&) = delete;
    ScardLock& operator=(const ScardLock&) = delete;

private:
    std::shared_ptr<Scard> scard_;
};

}  // namespace kvfl
