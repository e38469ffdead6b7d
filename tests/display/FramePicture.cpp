// For scripts/display-pictures.sh: the frame exactly as the border loop draws
// it, run on a memory surface filled with a desktop colour instead of on the
// screen (Wine shows nothing drawn on the screen's device context), written
// out as a .bmp file.
//   FramePicture.exe OUT.bmp [WIDTH HEIGHT]
#include "FrameSurface.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

int wmain(int argc, wchar_t **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: FramePicture OUT.bmp [WIDTH HEIGHT]\n");
        return 2;
    }
    int width = argc >= 4 ? _wtoi(argv[2]) : 640;
    int height = argc >= 4 ? _wtoi(argv[3]) : 400;
    FrameSurface surface(width, height);
    // A desktop colour, so the white frame stands out as it would on a screen.
    HBRUSH desktop = CreateSolidBrush(RGB(0x3A, 0x6E, 0xA5));
    RECT all = {0, 0, width, height};
    FillRect(surface.dc(), &all, desktop);
    DeleteObject(desktop);
    LoopOutcome outcome = DrawBorderOnSurface(surface);
    if (!outcome.drewSomething || !outcome.ended) {
        fprintf(stderr, "the border loop drew nothing\n");
        return 1;
    }

    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = -height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    std::vector<DWORD> pixels((size_t)width * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            pixels[(size_t)y * width + x] = surface.pixel(x, y);
    }
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + (DWORD)(pixels.size() * sizeof(DWORD));
    FILE *out = _wfopen(argv[1], L"wb");
    if (out == nullptr)
        return 1;
    fwrite(&file, sizeof(file), 1, out);
    fwrite(&header, sizeof(header), 1, out);
    fwrite(pixels.data(), sizeof(DWORD), pixels.size(), out);
    fclose(out);
    return 0;
}
