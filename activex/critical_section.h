#pragma once
#include <windows.h>

namespace activex {

// A Win32 critical section that may fail to be created (the module then
// refuses to load).
class critical_section {
public:
    critical_section() : created_(InitializeCriticalSectionEx(&section_, 0, 0) != FALSE) {}
    ~critical_section()
    {
        if (created_)
            DeleteCriticalSection(&section_);
    }
    critical_section(const critical_section&) = delete;
    critical_section& operator=(const critical_section&) = delete;

    bool created() const { return created_; }
    void lock() { EnterCriticalSection(&section_); }
    void unlock() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
    bool created_;
};

class section_guard {
public:
    explicit section_guard(critical_section& section) : section_(section) { section_.lock(); }
    ~section_guard() { section_.unlock(); }
    section_guard(const section_guard&) = delete;
    section_guard& operator=(const section_guard&) = delete;

private:
    critical_section& section_;
};

}  // namespace activex
