#include "telemetry/machine_id_win.h"

#include <windows.h>
#include <winioctl.h>

#include <vector>

#include "system/ascii_text.h"
#include "system/handles_win.h"
#include "telemetry/machine_id.h"

namespace tessaryn {

std::string getDiskSerial() {
    // Access 0 is enough for a property query and needs no administrator rights.
    UniqueFile device(::CreateFileW(L"\\\\.\\PhysicalDrive0", 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    if (!device) return {};

    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    STORAGE_DESCRIPTOR_HEADER header{};
    DWORD returned = 0;
    if (!::DeviceIoControl(device.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query),
                           &header, sizeof(header), &returned, nullptr) ||
        header.Size < sizeof(STORAGE_DEVICE_DESCRIPTOR)) {
        return {};
    }
    std::vector<char> buffer(header.Size, '\0');
    if (!::DeviceIoControl(device.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query),
                           buffer.data(), header.Size, &returned, nullptr)) {
        return {};
    }
    const auto* descriptor = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(buffer.data());
    DWORD offset = descriptor->SerialNumberOffset;
    if (offset == 0 || offset >= buffer.size()) return {};
    // Bounded by the buffer: a driver that forgets the terminating NUL cannot make us overread.
    const char* begin = buffer.data() + offset;
    const char* end = buffer.data() + buffer.size();
    const char* stop = begin;
    while (stop != end && *stop != '\0') ++stop;
    return std::string(begin, stop);
}

std::string md5Hex(const std::string& data) {
    UniqueCryptProvider provider;
    if (!::CryptAcquireContextW(provider.put(), nullptr, nullptr, PROV_RSA_FULL,
                                CRYPT_VERIFYCONTEXT)) {
        return digestFailureCode(0);
    }
    UniqueCryptHash hash;
    if (!::CryptCreateHash(provider.get(), CALG_MD5, 0, 0, hash.put())) return digestFailureCode(1);
    if (!::CryptHashData(hash.get(), reinterpret_cast<const BYTE*>(data.data()),
                         static_cast<DWORD>(data.size()), 0)) {
        return digestFailureCode(2);
    }
    uint8_t digest[16] = {};
    DWORD size = sizeof(digest);
    if (!::CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &size, 0) || size != sizeof(digest))
        return digestFailureCode(3);
    return upperHex(digest, sizeof(digest));
}

std::string makeMachineId() {
    return machineIdFromDigest(md5Hex(std::string(kMachineIdPrefix) + getDiskSerial()));
}

}  // namespace tessaryn
