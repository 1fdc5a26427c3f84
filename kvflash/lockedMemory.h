// Memory for secrets: whole pages locked into RAM so they are never written
// to swap, wiped before they are given back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

namespace kvfl {

// Maps and locks at least `size` bytes; std::bad_alloc when either fails.
void* allocateLocked(std::size_t size);
// Wipes, unlocks and unmaps what allocateLocked gave for `size`.
void releaseLocked(void* memory, std::size_t size) noexcept;

template <typename T>
class LockedAllocator {
public:
    using value_type = T;

    LockedAllocator() noexcept = default;
    template <typename U>
    LockedAllocator(const LockedAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
        return static_cast<T*>(allocateLocked(count * sizeof(T)));
    }

    void deallocate(T* memory, std::size_t count) noexcept { releaseLocked(memory, count * sizeof(T)); }

    template <typename U>
    bool operator==(const LockedAllocator<U>&) const noexcept {
        return true;
    }
};

// Overwrites all the storage of a buffer that held a secret, in a way the
// compiler cannot drop.
void wipe(std::vector<uint8_t>& bytes) noexcept;

// Wipes a buffer when the scope ends, however it ends.
class WipeOnExit {
public:
    explicit WipeOnExit(std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    ~WipeOnExit() { wipe(bytes_); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
    std::vector<uint8_t>& bytes_;
};

// A PIN or an MVA record while the library holds it. Growing copies into new
// locked pages and wipes the old ones.
using SecretBytes = std::vector<uint8_t, LockedAllocator<uint8_t>>;

}  // namespace kvfl
