// What a call throws, for tests that check statuses and their details.
#pragma once

#include "exception.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>

namespace kvfl::test {

// The library exception the call throws; a test failure when it returns.
template <typename Call>
Exception thrownBy(Call&& call)
{
    try {
        call();
    } catch (const Exception& e) {
        return e;
    }
    ADD_FAILURE() << "the call did not throw";
    return Exception(KVFLASH_OK);
}

template <typename Call>
kvflash_StatusCode statusOf(Call&& call)
{
    try {
        call();
    } catch (const Exception& e) {
        return e.status();
    }
    return KVFLASH_OK;
}

// The value of the first detail of this kind; "<no detail>" when there is none.
inline std::variant<int64_t, std::string> detail(const Exception& e, ErrorInfoKind kind)
{
    for (const ErrorInfo& info : e.details())
        if (info.kind == kind)
            return info.value;
    return std::string("<no detail>");
}

}  // namespace kvfl::test
