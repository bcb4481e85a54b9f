// Stands in for a system library planted beside the setup (dwmapi.dll, Msftedit.dll, ...).
#include "planted.h"

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) recordPlantedRun(self);
    return TRUE;
}
