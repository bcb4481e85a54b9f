#pragma once
// Owners for every Win32 handle kind the program opens: each is released exactly once, on every
// path, by the owner's destructor. Owners move but never copy.
#include <windows.h>
#include <objbase.h>
#include <wincrypt.h>
#include <wininet.h>

#include <utility>

namespace tessaryn {

template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Traits::invalid(); }

    // For out-parameters of creating calls: closes what is held and hands out the slot.
    Handle* put() noexcept {
        reset();
        return &handle_;
    }
    Handle release() noexcept { return std::exchange(handle_, Traits::invalid()); }
    void reset(Handle handle = Traits::invalid()) noexcept {
        Handle old = std::exchange(handle_, handle);
        if (old != Traits::invalid()) Traits::close(old);
    }

private:
    Handle handle_ = Traits::invalid();
};

template <typename H, H Invalid, auto Close>
struct HandleTraits {
    using Handle = H;
    static constexpr Handle invalid() noexcept { return Invalid; }
    static void close(Handle h) noexcept { Close(h); }
};

struct FileHandleTraits {  // CreateFileW and CreateToolhelp32Snapshot fail with INVALID_HANDLE_VALUE
    using Handle = HANDLE;
    static Handle invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Handle h) noexcept { ::CloseHandle(h); }
};
struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Handle h) noexcept { ::FindClose(h); }
};

inline void closeKernelHandle(HANDLE h) noexcept { ::CloseHandle(h); }
inline void closeRegistryKey(HKEY k) noexcept { ::RegCloseKey(k); }
inline void closeInternetHandle(HINTERNET h) noexcept { ::InternetCloseHandle(h); }
inline void deleteGdiObject(HGDIOBJ o) noexcept { ::DeleteObject(o); }
inline void destroyIcon(HICON i) noexcept { ::DestroyIcon(i); }
inline void freeModule(HMODULE m) noexcept { ::FreeLibrary(m); }
inline void destroyWindow(HWND w) noexcept { ::DestroyWindow(w); }
inline void deleteDc(HDC dc) noexcept { ::DeleteDC(dc); }
inline void releaseCryptContext(HCRYPTPROV p) noexcept { ::CryptReleaseContext(p, 0); }
inline void destroyCryptHash(HCRYPTHASH h) noexcept { ::CryptDestroyHash(h); }
inline void unmapView(const void* view) noexcept { ::UnmapViewOfFile(view); }
inline void freeLocalMemory(HLOCAL memory) noexcept { ::LocalFree(memory); }

using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueFind = UniqueHandle<FindHandleTraits>;
using UniqueKernelHandle = UniqueHandle<HandleTraits<HANDLE, nullptr, closeKernelHandle>>;
using UniqueRegKey = UniqueHandle<HandleTraits<HKEY, nullptr, closeRegistryKey>>;
using UniqueInternet = UniqueHandle<HandleTraits<HINTERNET, nullptr, closeInternetHandle>>;
using UniqueGdiObject = UniqueHandle<HandleTraits<HGDIOBJ, nullptr, deleteGdiObject>>;
using UniqueIcon = UniqueHandle<HandleTraits<HICON, nullptr, destroyIcon>>;
using UniqueModule = UniqueHandle<HandleTraits<HMODULE, nullptr, freeModule>>;
using UniqueWindow = UniqueHandle<HandleTraits<HWND, nullptr, destroyWindow>>;
using UniqueMemoryDc = UniqueHandle<HandleTraits<HDC, nullptr, deleteDc>>;
using UniqueCryptProvider = UniqueHandle<HandleTraits<HCRYPTPROV, 0, releaseCryptContext>>;
using UniqueCryptHash = UniqueHandle<HandleTraits<HCRYPTHASH, 0, destroyCryptHash>>;
using UniqueMappedView = UniqueHandle<HandleTraits<const void*, nullptr, unmapView>>;
// Memory the system allocated for the caller with LocalAlloc: FormatMessageW's text, security
// descriptors and their string forms, CommandLineToArgvW's list.
using UniqueLocalMemory = UniqueHandle<HandleTraits<HLOCAL, nullptr, freeLocalMemory>>;

// LocalFree'd memory of a known type, for calls that hand out a typed pointer.
template <typename T>
class LocalMemoryOf {
public:
    LocalMemoryOf() noexcept = default;
    explicit LocalMemoryOf(T* memory) noexcept : memory_(memory) {}
    T* get() const noexcept { return static_cast<T*>(memory_.get()); }
    T** put() noexcept { return reinterpret_cast<T**>(memory_.put()); }
    explicit operator bool() const noexcept { return static_cast<bool>(memory_); }

private:
    UniqueLocalMemory memory_;
};

// A device context obtained with GetDC, given back with ReleaseDC.
class WindowDc {
public:
    explicit WindowDc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    ~WindowDc() {
        if (dc_) ::ReleaseDC(window_, dc_);
    }
    HDC get() const noexcept { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// A GDI object selected into a device context for the object's lifetime; the one it replaced is
// selected again at the end, so that the context never outlives a selection of a deleted object.
class SelectedGdiObject {
public:
    SelectedGdiObject(HDC dc, HGDIOBJ object) noexcept
        : dc_(dc), old_(object ? ::SelectObject(dc, object) : nullptr) {}
    SelectedGdiObject(const SelectedGdiObject&) = delete;
    SelectedGdiObject& operator=(const SelectedGdiObject&) = delete;
    ~SelectedGdiObject() {
        if (old_ && old_ != HGDI_ERROR) ::SelectObject(dc_, old_);
    }

private:
    HDC dc_;
    HGDIOBJ old_;
};

// A COM interface pointer, released once.
template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }
    T* get() const noexcept { return ptr_; }
    T* operator->() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }
    T** put() noexcept {
        reset();
        return &ptr_;
    }
    void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }
    void reset() noexcept {
        if (ptr_) std::exchange(ptr_, nullptr)->Release();
    }

private:
    T* ptr_ = nullptr;
};

// COM initialised for the current thread for the lifetime of the object (when it succeeded).
class ComInit {
public:
    explicit ComInit(DWORD model = COINIT_APARTMENTTHREADED) noexcept
        : result_(::CoInitializeEx(nullptr, model)) {}
    ComInit(const ComInit&) = delete;
    ComInit& operator=(const ComInit&) = delete;
    ~ComInit() {
        if (SUCCEEDED(result_)) ::CoUninitialize();
    }
    HRESULT result() const noexcept { return result_; }

private:
    HRESULT result_;
};

}  // namespace tessaryn
