#pragma once
// Single owners for system handles. Copying is refused; moving hands ownership on.

#include <windows.h>

#include <utility>

// A kernel handle whose empty value is Empty (INVALID_HANDLE_VALUE for files, null for most others).
template <HANDLE (*EmptyValue)()>
class TBasicHandle
{
public:
    TBasicHandle() noexcept = default;
    explicit TBasicHandle(HANDLE handle) noexcept : handle_(handle) {}
    TBasicHandle(TBasicHandle&& other) noexcept : handle_(std::exchange(other.handle_, EmptyValue())) {}
    TBasicHandle& operator=(TBasicHandle&& other) noexcept
    {
        if (this != &other)
            Reset(std::exchange(other.handle_, EmptyValue()));
        return *this;
    }
    TBasicHandle(const TBasicHandle&) = delete;
    TBasicHandle& operator=(const TBasicHandle&) = delete;
    ~TBasicHandle() { Reset(); }

    HANDLE Get() const noexcept { return handle_; }
    bool Valid() const noexcept { return handle_ != EmptyValue() && handle_ != nullptr; }
    void Reset(HANDLE handle = EmptyValue()) noexcept
    {
        if (Valid())
            CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_ = EmptyValue();
};

inline HANDLE InvalidHandleValue() noexcept { return INVALID_HANDLE_VALUE; }
inline HANDLE NullHandleValue() noexcept { return nullptr; }

using TFileHandle = TBasicHandle<InvalidHandleValue>; // CreateFileW
using TKernelHandle = TBasicHandle<NullHandleValue>;  // processes, threads, events

// A GDI object (font, brush) deleted with DeleteObject.
template <class T>
class TGdiObject
{
public:
    TGdiObject() noexcept = default;
    explicit TGdiObject(T object) noexcept : object_(object) {}
    TGdiObject(TGdiObject&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    TGdiObject& operator=(TGdiObject&& other) noexcept
    {
        if (this != &other)
            Reset(std::exchange(other.object_, nullptr));
        return *this;
    }
    TGdiObject(const TGdiObject&) = delete;
    TGdiObject& operator=(const TGdiObject&) = delete;
    ~TGdiObject() { Reset(); }

    T Get() const noexcept { return object_; }
    void Reset(T object = nullptr) noexcept
    {
        if (object_ != nullptr)
            DeleteObject(object_);
        object_ = object;
    }

private:
    T object_ = nullptr;
};
