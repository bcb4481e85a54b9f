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
    ComInit() noexcept : result_(::CoInitialize(nullptr)) {}
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
