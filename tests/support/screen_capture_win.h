#pragma once
// Screenshots of test windows: the pixels the screen shows, for checks and for a person to see.
#include <windows.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "system/handles_win.h"

namespace tessaryn::testing {

// What the screen shows of a window, read back with GDI; saved as a BMP when a path is given.
struct Capture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;  // 0x00RRGGBB, top-down
    RECT frame = {};

    COLORREF atClient(HWND window, int x, int y) const {
        POINT p = {x, y};
        ClientToScreen(window, &p);
        const uint32_t v = pixels[(p.y - frame.top) * width + (p.x - frame.left)];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
};

inline Capture capture(HWND window, const std::string& bmpPath = "") {
    Capture c;
    GetWindowRect(window, &c.frame);
    c.width = c.frame.right - c.frame.left;
    c.height = c.frame.bottom - c.frame.top;
    WindowDc screen(nullptr);
    UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
    UniqueGdiObject bitmap(CreateCompatibleBitmap(screen.get(), c.width, c.height));
    {
        const SelectedGdiObject selected(memory.get(), bitmap.get());
        BitBlt(memory.get(), 0, 0, c.width, c.height, screen.get(), c.frame.left, c.frame.top,
               SRCCOPY);
    }  // GetDIBits wants the bitmap selected into no context

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = c.width;
    info.bmiHeader.biHeight = -c.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    c.pixels.resize(static_cast<size_t>(c.width) * c.height);
    GetDIBits(memory.get(), static_cast<HBITMAP>(bitmap.get()), 0, c.height, c.pixels.data(), &info,
              DIB_RGB_COLORS);

    if (!bmpPath.empty()) {
        std::ofstream out(bmpPath, std::ios::binary);
        const DWORD dataSize = static_cast<DWORD>(c.pixels.size() * 4);
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
        file.bfSize = file.bfOffBits + dataSize;
        out.write(reinterpret_cast<const char*>(&file), sizeof(file));
        out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(info.bmiHeader));
        // Opaque: a stray alpha byte (an icon's) would make viewers take every pixel's as one.
        std::vector<uint32_t> opaque(c.pixels);
        for (uint32_t& pixel : opaque) pixel |= 0xFF000000u;
        out.write(reinterpret_cast<const char*>(opaque.data()), dataSize);
    }
    return c;
}

}  // namespace tessaryn::testing
