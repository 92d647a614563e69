#include "decoder/heap.h"

#if defined(__SANITIZE_ADDRESS__)
#define ORBITALE_HEAP_OF_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORBITALE_HEAP_OF_ASAN 1
#endif
#endif

#if defined(ORBITALE_HEAP_OF_ASAN)
// The sanitizer's runtime has it; GCC ships no header that declares it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#elif defined(_WIN32)
#include <windows.h>
// After windows.h, whose types it uses.
#include <psapi.h>
#elif defined(__GLIBC__)
#include <malloc.h>
#endif

namespace decoder {

#if defined(ORBITALE_HEAP_OF_ASAN)
// The sanitizer's allocator, not glibc's, holds the heap there.
const bool heapIsTold = true;
std::size_t heapTaken() {
    return __sanitizer_get_current_allocated_bytes();
}
#elif defined(_WIN32)
const bool heapIsTold = true;
// The private memory the process has committed, what its job bounds.
// Windows tells it at once; Wine tells none, and there the regions of the
// address space are added up.
std::size_t heapTaken() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    if (GetProcessMemoryInfo(GetCurrentProcess(),
                             reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters) &&
        counters.PrivateUsage > 0)
        return counters.PrivateUsage;
    std::size_t committed = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            committed += region.RegionSize;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= at)
            break;
        at = next;
    }
    return committed;
}
#elif defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 33)
const bool heapIsTold = true;
// What the heap has taken from the system, freed blocks it keeps included:
// what the helper's memory grows by.
std::size_t heapTaken() {
    const struct mallinfo2 heap = mallinfo2();
    return heap.arena + heap.hblkhd;
}
#else
const bool heapIsTold = false;
std::size_t heapTaken() {
    return 0;
}
#endif

} // namespace decoder
