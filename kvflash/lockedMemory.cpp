#include "lockedMemory.h"

#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

namespace kvfl {
namespace {

// Whole pages: locking works on pages, and a page of its own keeps a secret
// from sharing a page with memory that may be swapped.
std::size_t pagesFor(std::size_t size) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t pages = size == 0 ? 1 : (size - 1) / page + 1;
    return pages * page;
}

}  // namespace

void* allocateLocked(std::size_t size) {
    const std::size_t length = pagesFor(size);
    void* memory = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) throw std::bad_alloc();
    if (mlock(memory, length) != 0) {
        munmap(memory, length);
        throw std::bad_alloc();
    }
    return memory;
}

void wipe(std::vector<uint8_t>& bytes) noexcept {
    if (bytes.capacity() != 0) explicit_bzero(bytes.data(), bytes.capacity());
}

void releaseLocked(void* memory, std::size_t size) noexcept {
    if (!memory) return;
    const std::size_t length = pagesFor(size);
    explicit_bzero(memory, length);
    munlock(memory, length);
    munmap(memory, length);
}

}  // namespace kvfl
