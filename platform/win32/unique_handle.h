#pragma once
// Move-only owners for Win32 handles and COM pointers. Every handle the
// program opens is held by one of these, so no normal path closes by hand.
#include <windows.h>
#include <objbase.h>
#include <ole2.h>

#include <utility>

namespace rivak::win {

template <class T, class Traits>
class Unique {
public:
    Unique() = default;
    explicit Unique(T value) : value_(value) {}
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& other) noexcept : value_(std::exchange(other.value_, Traits::Invalid())) {}
    Unique& operator=(Unique&& other) noexcept {
        if (this != &other) reset(std::exchange(other.value_, Traits::Invalid()));
        return *this;
    }
    ~Unique() { reset(); }

    T get() const { return value_; }
    explicit operator bool() const { return value_ != Traits::Invalid(); }
    T release() { return std::exchange(value_, Traits::Invalid()); }
    // For out-parameters: releases what is held and hands out the slot.
    T* put() {
        reset();
        return &value_;
    }
    void reset(T value = Traits::Invalid()) {
        if (value_ != Traits::Invalid()) Traits::Close(value_);
        value_ = value;
    }

private:
    T value_ = Traits::Invalid();
};

// Handles that are empty when null, and given back with `CloseFn`.
template <class H, auto CloseFn>
struct NullHandleTraits {
    static H Invalid() { return nullptr; }
    static void Close(H h) { CloseFn(h); }
};
// Handles that are empty when INVALID_HANDLE_VALUE (CreateFileW, FindFirstFileW).
template <auto CloseFn>
struct InvalidHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseFn(h); }
};

using UniqueFile = Unique<HANDLE, InvalidHandleTraits<&::CloseHandle>>;
using UniqueFind = Unique<HANDLE, InvalidHandleTraits<&::FindClose>>;
// GDI objects by their own type, so a font cannot be handed where a bitmap
// is meant. Never give one a stock object: DeleteObject would be called on it.
using UniqueFont = Unique<HFONT, NullHandleTraits<HFONT, &::DeleteObject>>;
using UniqueBitmap = Unique<HBITMAP, NullHandleTraits<HBITMAP, &::DeleteObject>>;
using UniqueDc = Unique<HDC, NullHandleTraits<HDC, &::DeleteDC>>;  // CreateCompatibleDC
using UniqueMenu = Unique<HMENU, NullHandleTraits<HMENU, &::DestroyMenu>>;
using UniqueHook = Unique<HHOOK, NullHandleTraits<HHOOK, &::UnhookWindowsHookEx>>;
using UniqueIcon = Unique<HICON, NullHandleTraits<HICON, &::DestroyIcon>>;
using UniqueWindow = Unique<HWND, NullHandleTraits<HWND, &::DestroyWindow>>;
// A window registered with RegisterDragDrop; letting go revokes it.
using DropRegistration = Unique<HWND, NullHandleTraits<HWND, &::RevokeDragDrop>>;

// A window's device context from GetDC, given back with ReleaseDC.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window_(window), dc_(::GetDC(window)) {}
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    ~WindowDc() {
        if (dc_) ::ReleaseDC(window_, dc_);
    }
    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HWND window_;
    HDC dc_;
};

// BeginPaint ... EndPaint. EndPaint is owed even when BeginPaint gave no DC.
class PaintDc {
public:
    explicit PaintDc(HWND window) : window_(window), dc_(::BeginPaint(window, &paint_)) {}
    PaintDc(const PaintDc&) = delete;
    PaintDc& operator=(const PaintDc&) = delete;
    ~PaintDc() { ::EndPaint(window_, &paint_); }
    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }
    const PAINTSTRUCT& paint() const { return paint_; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// An object selected into a DC for a while; the one it replaced comes back.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), old_(object ? ::SelectObject(dc, object) : nullptr) {}
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;
    ~SelectedObject() {
        if (old_ && old_ != HGDI_ERROR) ::SelectObject(dc_, old_);
    }

private:
    HDC dc_;
    HGDIOBJ old_;
};

// Memory the shell hands out with CoTaskMemAlloc (PIDLs, known-folder paths).
template <class T>
using UniqueCoTaskMem = Unique<T*, NullHandleTraits<T*, &::CoTaskMemFree>>;

// A COM interface pointer that releases itself.
template <class I>
class ComPtr {
public:
    ComPtr() = default;
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
    ~ComPtr() { reset(); }

    I* get() const { return p_; }
    I* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out-parameters: releases what is held and hands out the slot.
    I** put() {
        reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    void reset() {
        if (p_) std::exchange(p_, nullptr)->Release();
    }

private:
    I* p_ = nullptr;
};

// COM for the calling thread, apartment-threaded as the shell wants it.
class ComApartment {
public:
    ComApartment() : hr_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (SUCCEEDED(hr_)) ::CoUninitialize();
    }
    bool ok() const { return SUCCEEDED(hr_); }

private:
    HRESULT hr_;
};

// OLE (drag and drop) for the calling thread; COM comes with it.
class OleApartment {
public:
    OleApartment() : hr_(::OleInitialize(nullptr)) {}
    OleApartment(const OleApartment&) = delete;
    OleApartment& operator=(const OleApartment&) = delete;
    ~OleApartment() {
        if (SUCCEEDED(hr_)) ::OleUninitialize();
    }
    bool ok() const { return SUCCEEDED(hr_); }

private:
    HRESULT hr_;
};

}  // namespace rivak::win
