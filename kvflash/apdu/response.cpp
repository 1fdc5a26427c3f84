#include "apdu/response.h"

#include "exception.h"

namespace kvfl {

void Response::raise() const { throw ApduException(sw); }

const Response& Response::require(uint16_t expected) const {
    if (isNot(expected)) raise();
    return *this;
}

}  // namespace kvfl
