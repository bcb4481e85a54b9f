#pragma once
// The anonymous machine identifier: "anon-" + the MD5 digest of a fixed prefix and the first
// disk's serial number, in upper-case hexadecimal.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tessaryn {

// Placed in front of the disk serial before hashing.
inline constexpr char kMachineIdPrefix[] = "Corvalis-PC:";

// The code that stands in for the digest when the digest step `step` (0 to 3) fails: "0x00"...
std::string digestFailureCode(int step);

// "anon-" + the digest text (or failure code).
std::string machineIdFromDigest(const std::string& digest);

}  // namespace tessaryn
