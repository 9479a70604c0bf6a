#pragma once
// Owners for the COM and registry handles of the control: each releases what
// it holds when it goes.
#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace activex {

// One reference to a COM interface.
template <class Interface>
class com_ptr {
public:
    com_ptr() = default;
    // Takes over a reference the caller already holds.
    explicit com_ptr(Interface* adopted) : pointer_(adopted) {}
    ~com_ptr() { reset(); }
    com_ptr(com_ptr&& other) noexcept : pointer_(other.detach()) {}
    com_ptr& operator=(com_ptr&& other) noexcept
    {
        if (this != &other) {
            reset();
            pointer_ = other.detach();
        }
        return *this;
    }
    com_ptr(const com_ptr&) = delete;
    com_ptr& operator=(const com_ptr&) = delete;

    Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    // For out parameters: drops what is held and hands out the slot.
    Interface** put()
    {
        reset();
        return &pointer_;
    }
    Interface* detach() { return std::exchange(pointer_, nullptr); }
    void reset()
    {
        if (Interface* held = std::exchange(pointer_, nullptr))
            held->Release();
    }

private:
    Interface* pointer_ = nullptr;
};

// A BSTR that is freed with SysFreeString.
class unique_bstr {
public:
    unique_bstr() = default;
    explicit unique_bstr(BSTR adopted) : text_(adopted) {}
    ~unique_bstr() { SysFreeString(text_); }
    unique_bstr(unique_bstr&& other) noexcept : text_(other.release()) {}
    unique_bstr& operator=(unique_bstr&& other) noexcept
    {
        if (this != &other) {
            SysFreeString(text_);
            text_ = other.release();
        }
        return *this;
    }
    unique_bstr(const unique_bstr&) = delete;
    unique_bstr& operator=(const unique_bstr&) = delete;

    BSTR get() const { return text_; }
    BSTR* put()
    {
        SysFreeString(text_);
        text_ = nullptr;
        return &text_;
    }
    BSTR release() { return std::exchange(text_, nullptr); }

private:
    BSTR text_ = nullptr;
};

// A registry key this code opened (never a predefined root key).
class registry_key {
public:
    registry_key() = default;
    explicit registry_key(HKEY adopted) : key_(adopted) {}
    ~registry_key() { close(); }
    registry_key(registry_key&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    registry_key& operator=(registry_key&& other) noexcept
    {
        if (this != &other) {
            close();
            key_ = std::exchange(other.key_, nullptr);
        }
        return *this;
    }
    registry_key(const registry_key&) = delete;
    registry_key& operator=(const registry_key&) = delete;

    HKEY get() const { return key_; }
    HKEY* put()
    {
        close();
        return &key_;
    }

private:
    void close()
    {
        if (key_)
            RegCloseKey(key_);
        key_ = nullptr;
    }

    HKEY key_ = nullptr;
};

}  // namespace activex
