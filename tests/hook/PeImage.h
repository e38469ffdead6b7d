// Reads a Windows image from the bytes of its file, without loading it: the
// section table, the export directory and the import directory, so a test
// sees the library exactly as the loader and the linker of the applet do.
//   ReadPeImage      - parses one file; false with a reason when it is not a 32-bit image
//   FindSection      - a section by its 8-character name
#pragma once

#include <windows.h>
#include <string>
#include <vector>

struct PeSection {
    std::string name;
    DWORD virtualSize;
    DWORD virtualAddress;
    DWORD rawSize;
    DWORD rawOffset;
    DWORD characteristics;
};

struct PeExport {
    std::string name;
    WORD ordinal;   // biased: the number a caller passes to GetProcAddress
    DWORD rva;
};

struct PeImport {
    std::string library;
    std::vector<std::string> functions;   // "#n" for an import by ordinal
};

struct PeImage {
    WORD machine = 0;
    WORD characteristics = 0;
    std::vector<BYTE> bytes;
    std::vector<PeSection> sections;
    std::string exportName;   // the library's own name in its export directory
    std::vector<PeExport> exports;
    std::vector<PeImport> imports;
};

bool ReadPeImage(const std::wstring &path, PeImage *image, std::string *error);
const PeSection *FindSection(const PeImage &image, const char *name);
