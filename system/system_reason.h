#pragma once
// The system's words for why a call failed, said at the end of every "cannot ..." message.
#include <cerrno>
#include <string>
#include <system_error>

namespace tessaryn {

// For the C library and for streams, which leave their reason in errno.
inline std::string errnoReason(int code = errno) {
    return code != 0 ? std::generic_category().message(code) : "unknown reason";
}

// For a code from the system's own calls: GetLastError() on Windows, errno elsewhere (as
// LockedFile reports it).
std::string systemReason(int code);

}  // namespace tessaryn
