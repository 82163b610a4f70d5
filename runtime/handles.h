#pragma once
#include <windows.h>

#include <utility>

namespace runtime {

// Move-only owner of one Windows handle. Traits name the handle type, what counts
// as no handle, and how to free one.
template <typename Traits>
class Unique {
public:
    using Type = typename Traits::Type;

    Unique() = default;
    explicit Unique(Type h) : h_(h) {}
    Unique(Unique&& other) noexcept : h_(std::exchange(other.h_, Type{})) {}
    Unique& operator=(Unique&& other) noexcept
    {
        reset(std::exchange(other.h_, Type{}));
        return *this;
    }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    ~Unique() { reset(); }

    Type get() const { return h_; }
    // For out-parameters: frees what is held and hands out the empty slot.
    Type* put()
    {
        reset();
        return &h_;
    }
    void reset(Type h = Type{})
    {
        if (Traits::Valid(h_)) Traits::Close(h_);
        h_ = h;
    }
    // Gives up ownership without freeing, for a handle that Windows has freed itself.
    Type release() { return std::exchange(h_, Type{}); }
    explicit operator bool() const { return Traits::Valid(h_); }

private:
    Type h_{};
};

struct KeyTraits {
    using Type = HKEY;
    static bool Valid(HKEY h) { return h != nullptr; }
    static void Close(HKEY h) { RegCloseKey(h); }
};

struct HandleTraits {
    using Type = HANDLE;
    static bool Valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};

template <typename T>
struct GdiTraits {
    using Type = T;
    static bool Valid(T h) { return h != nullptr; }
    static void Close(T h) { DeleteObject(h); }
};

struct IconTraits {
    using Type = HICON;
    static bool Valid(HICON h) { return h != nullptr; }
    static void Close(HICON h) { DestroyIcon(h); }
};

struct WindowTraits {
    using Type = HWND;
    static bool Valid(HWND h) { return h != nullptr; }
    static void Close(HWND h) { DestroyWindow(h); }
};

// Memory that a Windows call allocated with LocalAlloc: a SID or security descriptor
// converted from text, one that GetNamedSecurityInfo read.
struct LocalTraits {
    using Type = void*;
    static bool Valid(void* h) { return h != nullptr; }
    static void Close(void* h) { LocalFree(h); }
};

using UniqueKey = Unique<KeyTraits>;
using UniqueHandle = Unique<HandleTraits>;
using UniqueFont = Unique<GdiTraits<HFONT>>;
using UniqueBitmap = Unique<GdiTraits<HBITMAP>>;
using UniqueIcon = Unique<IconTraits>;
using UniqueWindow = Unique<WindowTraits>;
using UniqueLocal = Unique<LocalTraits>;

}  // namespace runtime
