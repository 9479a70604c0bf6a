#include "heap_watch.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace heap_watch {
namespace {

constexpr std::size_t header = 16;  // keeps the block's alignment
constexpr std::size_t max_secrets = 8;
constexpr std::size_t max_captures = 512;
constexpr std::size_t capture_size = 4096;

bool armed = false;
const std::string* watched = nullptr;
std::size_t watched_count = 0;
std::size_t hit_counts[max_secrets] = {};

unsigned char captures[max_captures][capture_size];
std::size_t capture_sizes[max_captures];
std::size_t capture_total = 0;

bool contains(const unsigned char* block, std::size_t size, const std::string& secret)
{
    if (secret.empty() || secret.size() > size)
        return false;
    const auto* needle = reinterpret_cast<const unsigned char*>(secret.data());
    return std::search(block, block + size, needle, needle + secret.size()) != block + size;
}

void* allocate(std::size_t size)
{
    auto* block = static_cast<unsigned char*>(std::malloc(size + header));
    if (!block)
        throw std::bad_alloc();
    std::memcpy(block, &size, sizeof size);
    // A new block starts blank: what it holds when freed was written while
    // it was in use, never left over from an earlier owner of the memory.
    std::memset(block + header, 0xA5, size);
    return block + header;
}

void release(void* pointer)
{
    if (!pointer)
        return;
    auto* block = static_cast<unsigned char*>(pointer) - header;
    std::size_t size;
    std::memcpy(&size, block, sizeof size);
    if (armed) {
        const auto* content = static_cast<const unsigned char*>(pointer);
        for (std::size_t i = 0; i < watched_count; ++i)
            if (contains(content, size, watched[i]))
                ++hit_counts[i];
        const std::size_t slot = capture_total++ % max_captures;
        capture_sizes[slot] = std::min(size, capture_size);
        std::memcpy(captures[slot], content, capture_sizes[slot]);
    }
    std::free(block);
}

}  // namespace

void arm(const std::string* secrets, std::size_t count)
{
    watched = secrets;
    watched_count = std::min(count, max_secrets);
    std::fill(hit_counts, hit_counts + max_secrets, 0);
    capture_total = 0;
    armed = true;
}

void disarm() { armed = false; }

std::size_t hits(std::size_t i) { return i < max_secrets ? hit_counts[i] : 0; }

std::size_t captured_count() { return std::min(capture_total, max_captures); }

std::string captured(std::size_t i)
{
    return std::string(reinterpret_cast<const char*>(captures[i]), capture_sizes[i]);
}

}  // namespace heap_watch

void* operator new(std::size_t size) { return heap_watch::allocate(size); }
void* operator new[](std::size_t size) { return heap_watch::allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return heap_watch::allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* pointer) noexcept { heap_watch::release(pointer); }
void operator delete[](void* pointer) noexcept { heap_watch::release(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { heap_watch::release(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { heap_watch::release(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { heap_watch::release(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { heap_watch::release(pointer); }
