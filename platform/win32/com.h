// Small COM holders for the Win32 backend's own sources.
// May contain: header-only RAII types over COM; included by .cpp files only,
// since it brings <windows.h> with it.
#pragma once

#include "platform/win32/windows.h"
#include <oleauto.h>

#include <string>
#include <utility>

namespace win32 {

/// Owns one reference to a COM interface.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    /// The address to receive a new reference into; drops the held one first.
    T** put() {
        reset();
        return &p_;
    }
    void reset() {
        if (p_ != nullptr) p_->Release();
        p_ = nullptr;
    }

private:
    T* p_ = nullptr;
};

/// Owns one BSTR.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const std::wstring& text) : b_(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { reset(); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    BSTR get() const { return b_; }
    BSTR* put() {
        reset();
        return &b_;
    }
    void reset() {
        if (b_ != nullptr) ::SysFreeString(b_);
        b_ = nullptr;
    }

private:
    BSTR b_ = nullptr;
};

/// Owns one VARIANT and clears it on every way out.
class Variant {
public:
    Variant() { ::VariantInit(&v_); }
    ~Variant() { ::VariantClear(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    VARIANT* get() { return &v_; }
    const VARIANT* get() const { return &v_; }
    void clear() { ::VariantClear(&v_); }

private:
    VARIANT v_;
};

}  // namespace win32
