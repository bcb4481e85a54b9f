#pragma once
// Reading the first disk's serial number and hashing with CryptoAPI's MD5.
#include <string>

namespace tessaryn {

// The serial number of \\.\PhysicalDrive0 as the storage driver reports it; empty when unknown.
std::string getDiskSerial();

// 32 upper-case hexadecimal digits of the MD5 digest, or the failure code of the step that failed.
std::string md5Hex(const std::string& data);

// "anon-" + md5Hex(kMachineIdPrefix + getDiskSerial()).
std::string makeMachineId();

}  // namespace tessaryn
