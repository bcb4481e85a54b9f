// Definitions that keep large library members out of the setup program's link.
#include <windows.h>

#include <cstdlib>

// The four identifiers the setup uses, defined here: taking them from libuuid pulls in that
// library's every identifier (about 45 KB).
extern "C" {
extern const GUID FOLDERID_ProgramFiles = {
    0x905e63b6, 0xc1bf, 0x494e, {0xb2, 0x9c, 0x65, 0xb7, 0x32, 0xd3, 0xd2, 0x1a}};
extern const GUID IID_IShellLinkW = {
    0x000214f9, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
extern const GUID CLSID_ShellLink = {
    0x00021401, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
extern const GUID IID_IPersistFile = {
    0x0000010b, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
}

// A windowed program has no console for the library's verbose report of an uncaught
// exception, whose name demangler weighs about 50 KB; the process ends as it would anyway.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
}  // namespace __gnu_cxx
