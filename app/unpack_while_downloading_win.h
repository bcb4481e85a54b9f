#pragma once
// Unpacks the package into the staging folder while it downloads: each entry as soon as its
// bytes lie in blocks whose hashes have checked. The bytes are read through a read-only view of
// the download's own file (made new, opened with read sharing only: nothing else can write it),
// below the checked mark only. Nothing unpacked counts until the whole package has checked.
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "package/unpack_result.h"
#include "system/handles_win.h"

namespace tessaryn {

class ProgressWindow;

class UnpackWhileDownloading {
  public:
    // For a package of packageSize bytes (signature included), into destination (UTF-8), with
    // the unpacked files kept within spaceBudget bytes.
    UnpackWhileDownloading(uint64_t packageSize, std::string destination, uint64_t spaceBudget);
    // Stops the unpacking and waits for it.
    ~UnpackWhileDownloading();
    UnpackWhileDownloading(const UnpackWhileDownloading&) = delete;
    UnpackWhileDownloading& operator=(const UnpackWhileDownloading&) = delete;

    // The download's hooks, on its thread.
    void opened(HANDLE file);
    void checked(uint64_t checkedEnd);
    // The file starts over from its first byte: the unpacking stops (the package is then
    // unpacked whole) and leaves the view before the file is cut back.
    void restarted();

    // Stops the unpacking (a failed or refused download); it ends with ReadWhole.
    void stop();
    // Waits for the unpacking to end, showing in the window how far it has come: Done (every
    // entry written, the document confirmed whole), ReadWhole (nothing of it to keep: unpack
    // the checked package whole instead) or the bundle's own failure, as extraction tells it.
    UnpackResult finish(ProgressWindow& window);

    // ", 1,200 of 3,066 files" for the download's status line.
    std::string statusSuffix() const;
    // "1,200 of 3,066 files" (without the total while the list does not say it).
    std::string fileCount() const;

  private:
    void run();
    size_t waitFor(size_t wanted);
    void leaveView();  // waits for the unpacking to end, then unmaps

    const uint64_t packageSize_;
    const std::string destination_;
    const uint64_t spaceBudget_;

    std::mutex mutex_;
    std::condition_variable changed_;
    UniqueMappedView view_;  // read-only, packageSize_ bytes
    UniqueKernelHandle mapping_;
    bool viewTried_ = false;
    bool stopped_ = false;
    bool ended_ = false;
    uint64_t checkedEnd_ = 0;
    UnpackResult outcome_ = UnpackResult::readWhole("the unpacking has not ended");
    std::atomic<size_t> handed_{0};
    std::atomic<size_t> listed_{0};
    std::thread thread_;
};

}  // namespace tessaryn
