// What the view does the same on every platform: moving and closing at the end.
#include <utility>

#include "package/locked_file.h"

namespace tessaryn {

LockedFile::LockedFile(LockedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      file_(std::exchange(other.file_, -1)),
      mapping_(std::exchange(other.mapping_, 0)) {}

LockedFile& LockedFile::operator=(LockedFile&& other) noexcept {
    if (this != &other) {
        close();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        file_ = std::exchange(other.file_, -1);
        mapping_ = std::exchange(other.mapping_, 0);
    }
    return *this;
}

LockedFile::~LockedFile() {
    close();
}

}  // namespace tessaryn
