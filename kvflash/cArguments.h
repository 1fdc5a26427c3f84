// What the exported functions make of their C arguments and how they hand
// out identifier lists.
#pragma once

#include "callGuarded.h"

#include <kvflash-core/kvflash.h>
#include <kvflash-core/protectConditions.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <type_traits>
#include <vector>

namespace kvfl {

// The number a C caller stored in an enumeration. C lets any int stand
// there, while C++ may assume only the listed values: the bytes are read as
// a number, never loaded as the enumeration.
template <typename Enum>
uint32_t cEnumValue(const Enum& value)
{
    static_assert(std::is_enum_v<Enum> && sizeof(Enum) == sizeof(uint32_t));
    uint32_t number;
    std::memcpy(&number, &value, sizeof number);
    return number;
}

// The caller's bytes, not copied.
inline std::span<const uint8_t> bytesOf(const kvflash_Buffer& buffer)
{
    return {buffer.data, buffer.size};
}

// A buffer whose bytes cannot be read: no data for a non-zero size.
inline bool unreadable(const kvflash_Buffer& buffer)
{
    return buffer.data == nullptr && buffer.size != 0;
}

// An array for the caller, released by the matching destroy function; every
// identifier is checked to name a local PIN or MVA (3..31).
inline void handOutIdList(const std::vector<uint16_t>& ids, uint16_t** list, uint32_t* count)
{
    for (const uint16_t id : ids)
        checkLocalSecretId(id);
    auto array = std::make_unique<uint16_t[]>(ids.size());
    std::copy(ids.begin(), ids.end(), array.get());
    *count = static_cast<uint32_t>(ids.size());
    *list = array.release();
}

// Frees *list (which may be null) and sets it to null.
inline kvflash_StatusCode destroyIdList(uint16_t** list)
{
    if (anyNull(list))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] {
        delete[] *list;
        *list = nullptr;
    });
}

}  // namespace kvfl
