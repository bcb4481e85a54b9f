// Prints the access list of each path given, as the system reads it back (SDDL), one a line;
// "error N" for one that cannot be read.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        const DWORD error = GetNamedSecurityInfoW(argv[i], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                                  nullptr, nullptr, nullptr, nullptr, &descriptor);
        wchar_t* text = nullptr;
        if (error == ERROR_SUCCESS &&
            ConvertSecurityDescriptorToStringSecurityDescriptorW(
                descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
            std::printf("%ls\n", text);
            LocalFree(text);
        } else {
            std::printf("error %lu\n", error == ERROR_SUCCESS ? GetLastError() : error);
        }
        LocalFree(descriptor);
    }
    return 0;
}
