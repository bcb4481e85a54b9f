/* The JSON library's two calls into the C library that mingw-w64 routes to its own C99 printf
   and strtod (about 30 KB with their number conversion), sent to the system's C runtime
   instead. The library formats only "<U+%.4X>" for bad characters in error texts and converts
   decimal numbers, which the runtime does alike. Written in C so that no header reroutes the
   runtime's names. */
#include <stdarg.h>
#include <stddef.h>

__declspec(dllimport) int __cdecl _vsnprintf(char* buffer, size_t size, const char* format,
                                             va_list args);
__declspec(dllimport) int __cdecl _vscprintf(const char* format, va_list args);
__declspec(dllimport) double __cdecl strtod(const char* text, char** end);

/* C99 semantics: always terminated, returns the length the whole text needs. */
int __cdecl __mingw_vsnprintf(char* buffer, size_t size, const char* format, va_list args) {
    va_list again;
    va_copy(again, args);
    const int written = size ? _vsnprintf(buffer, size, format, args) : -1;
    int needed = written;
    if (written < 0 || (size_t)written >= size) {
        if (size) buffer[size - 1] = '\0';
        needed = _vscprintf(format, again);
    }
    va_end(again);
    return needed;
}

double __cdecl __mingw_strtod(const char* text, char** end) {
    return strtod(text, end);
}
