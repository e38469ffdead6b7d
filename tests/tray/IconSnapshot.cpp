// Draws one of the applet's tray icons as the shell's notification area
// shows it, at the small-icon size on a given background, into a BMP file,
// for the screenshot check to find in the taskbar.
//   IconSnapshot.exe <icon id> <output.bmp> <background RRGGBB>
#include "AppletProcess.h"

#include <cstdio>
#include <cstdlib>

namespace {

bool WriteBitmapFile(const wchar_t *path, const BITMAPINFOHEADER &header, const void *pixels, DWORD pixelBytes)
{
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;   // "BM"
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + pixelBytes;
    FILE *out = _wfopen(path, L"wb");
    if (out == nullptr)
        return false;
    bool written = fwrite(&file, sizeof(file), 1, out) == 1 && fwrite(&header, sizeof(header), 1, out) == 1 &&
                   fwrite(pixels, pixelBytes, 1, out) == 1;
    fclose(out);
    return written;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 4) {
        fwprintf(stderr, L"usage: IconSnapshot <icon id> <output.bmp> <background RRGGBB>\n");
        return 2;
    }
    WORD iconId = (WORD)wcstoul(argv[1], nullptr, 10);
    unsigned long background = wcstoul(argv[3], nullptr, 16);

    HMODULE exe = LoadLibraryExW((BinaryFolder() + L"\\VarnelKVM.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    // The applet loads its icons at the default size; the tray draws them small.
    HICON icon = exe ? (HICON)LoadImageW(exe, MAKEINTRESOURCEW(iconId), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE) : nullptr;
    if (icon == nullptr) {
        fwprintf(stderr, L"icon %u not found in VarnelKVM.exe\n", iconId);
        return 1;
    }
    int size = GetSystemMetrics(SM_CXSMICON);

    BITMAPINFOHEADER header = {sizeof(header)};
    header.biWidth = size;
    header.biHeight = size;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    void *pixels = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, (BITMAPINFO *)&header, DIB_RGB_COLORS, &pixels, nullptr, 0);
    SelectObject(dc, bitmap);
    RECT all = {0, 0, size, size};
    HBRUSH brush = CreateSolidBrush(RGB((background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF));
    FillRect(dc, &all, brush);
    DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
    GdiFlush();
    return WriteBitmapFile(argv[2], header, pixels, (DWORD)(size * size * 4)) ? 0 : 1;
}
