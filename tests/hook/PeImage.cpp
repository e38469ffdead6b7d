#include "PeImage.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

// Every read is checked against the file's length, so a damaged image fails
// the test instead of crashing it.
class Reader {
public:
    explicit Reader(const std::vector<BYTE> &bytes) : bytes_(bytes) {}
    bool fits(size_t offset, size_t length) const
    {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }
    template <typename T> bool read(size_t offset, T *value) const
    {
        if (!fits(offset, sizeof(T)))
            return false;
        memcpy(value, &bytes_[offset], sizeof(T));
        return true;
    }
    bool string(size_t offset, std::string *value) const
    {
        value->clear();
        for (size_t at = offset; at < bytes_.size(); ++at) {
            if (bytes_[at] == 0)
                return true;
            value->push_back((char)bytes_[at]);
        }
        return false;
    }

private:
    const std::vector<BYTE> &bytes_;
};

bool RvaToOffset(const PeImage &image, DWORD rva, size_t *offset)
{
    for (const PeSection &section : image.sections) {
        DWORD extent = section.virtualSize > section.rawSize ? section.virtualSize : section.rawSize;
        if (rva >= section.virtualAddress && rva - section.virtualAddress < extent) {
            DWORD within = rva - section.virtualAddress;
            if (within >= section.rawSize)
                return false;   // uninitialised: not in the file
            *offset = section.rawOffset + within;
            return true;
        }
    }
    return false;
}

bool ReadExports(const Reader &reader, PeImage *image, const IMAGE_DATA_DIRECTORY &directory, std::string *error)
{
    if (directory.VirtualAddress == 0)
        return true;
    size_t at;
    IMAGE_EXPORT_DIRECTORY exports;
    if (!RvaToOffset(*image, directory.VirtualAddress, &at) || !reader.read(at, &exports)) {
        *error = "export directory outside the file";
        return false;
    }
    size_t nameAt;
    if (RvaToOffset(*image, exports.Name, &nameAt))
        reader.string(nameAt, &image->exportName);

    size_t functionsAt = 0, namesAt = 0, ordinalsAt = 0;
    if (!RvaToOffset(*image, exports.AddressOfFunctions, &functionsAt)) {
        *error = "export address table outside the file";
        return false;
    }
    bool hasNames = exports.NumberOfNames != 0;
    if (hasNames && (!RvaToOffset(*image, exports.AddressOfNames, &namesAt) ||
                     !RvaToOffset(*image, exports.AddressOfNameOrdinals, &ordinalsAt))) {
        *error = "export name tables outside the file";
        return false;
    }
    for (DWORD index = 0; index < exports.NumberOfFunctions; ++index) {
        DWORD rva = 0;
        if (!reader.read(functionsAt + 4 * index, &rva)) {
            *error = "export address table cut short";
            return false;
        }
        if (rva == 0)
            continue;   // a gap in the ordinals
        PeExport entry = {"", (WORD)(exports.Base + index), rva};
        for (DWORD name = 0; name < exports.NumberOfNames; ++name) {
            WORD nameIndex = 0;
            DWORD nameRva = 0;
            size_t stringAt;
            if (!reader.read(ordinalsAt + 2 * name, &nameIndex) || !reader.read(namesAt + 4 * name, &nameRva) ||
                !RvaToOffset(*image, nameRva, &stringAt)) {
                *error = "export name table cut short";
                return false;
            }
            if (nameIndex == index)
                reader.string(stringAt, &entry.name);
        }
        image->exports.push_back(entry);
    }
    return true;
}

bool ReadImports(const Reader &reader, PeImage *image, const IMAGE_DATA_DIRECTORY &directory, std::string *error)
{
    if (directory.VirtualAddress == 0)
        return true;
    size_t at;
    if (!RvaToOffset(*image, directory.VirtualAddress, &at)) {
        *error = "import directory outside the file";
        return false;
    }
    for (;; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        IMAGE_IMPORT_DESCRIPTOR descriptor;
        if (!reader.read(at, &descriptor)) {
            *error = "import directory cut short";
            return false;
        }
        if (descriptor.Name == 0)
            return true;
        PeImport import;
        size_t nameAt;
        if (!RvaToOffset(*image, descriptor.Name, &nameAt) || !reader.string(nameAt, &import.library)) {
            *error = "import library name outside the file";
            return false;
        }
        DWORD thunks = descriptor.OriginalFirstThunk != 0 ? descriptor.OriginalFirstThunk : descriptor.FirstThunk;
        size_t thunkAt;
        if (!RvaToOffset(*image, thunks, &thunkAt)) {
            *error = "import lookup table outside the file";
            return false;
        }
        for (;; thunkAt += 4) {
            DWORD thunk = 0;
            if (!reader.read(thunkAt, &thunk)) {
                *error = "import lookup table cut short";
                return false;
            }
            if (thunk == 0)
                break;
            if (thunk & IMAGE_ORDINAL_FLAG32) {
                import.functions.push_back("#" + std::to_string(thunk & 0xFFFF));
                continue;
            }
            size_t hintAt;
            std::string function;
            if (!RvaToOffset(*image, thunk, &hintAt) || !reader.string(hintAt + 2, &function)) {
                *error = "imported name outside the file";
                return false;
            }
            import.functions.push_back(function);
        }
        image->imports.push_back(import);
    }
}

}  // namespace

bool ReadPeImage(const std::wstring &path, PeImage *image, std::string *error)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    if (!file) {
        *error = "cannot open the file";
        return false;
    }
    image->bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    Reader reader(image->bytes);

    IMAGE_DOS_HEADER dos;
    if (!reader.read(0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) {
        *error = "no MZ header";
        return false;
    }
    IMAGE_NT_HEADERS32 nt;
    if (!reader.read(dos.e_lfanew, &nt) || nt.Signature != IMAGE_NT_SIGNATURE) {
        *error = "no PE header";
        return false;
    }
    if (nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        *error = "not a 32-bit image";
        return false;
    }
    image->machine = nt.FileHeader.Machine;
    image->characteristics = nt.FileHeader.Characteristics;

    size_t sectionAt = dos.e_lfanew + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                       nt.FileHeader.SizeOfOptionalHeader;
    for (WORD index = 0; index < nt.FileHeader.NumberOfSections; ++index) {
        IMAGE_SECTION_HEADER header;
        if (!reader.read(sectionAt + index * sizeof(header), &header)) {
            *error = "section table cut short";
            return false;
        }
        PeSection section;
        section.name.assign((const char *)header.Name, strnlen((const char *)header.Name, IMAGE_SIZEOF_SHORT_NAME));
        section.virtualSize = header.Misc.VirtualSize;
        section.virtualAddress = header.VirtualAddress;
        section.rawSize = header.SizeOfRawData;
        section.rawOffset = header.PointerToRawData;
        section.characteristics = header.Characteristics;
        if (section.rawSize != 0 && !reader.fits(section.rawOffset, section.rawSize)) {
            *error = "section " + section.name + " runs past the end of the file";
            return false;
        }
        image->sections.push_back(section);
    }

    const IMAGE_DATA_DIRECTORY *directories = nt.OptionalHeader.DataDirectory;
    DWORD count = nt.OptionalHeader.NumberOfRvaAndSizes;
    if (count > IMAGE_DIRECTORY_ENTRY_EXPORT &&
        !ReadExports(reader, image, directories[IMAGE_DIRECTORY_ENTRY_EXPORT], error))
        return false;
    if (count > IMAGE_DIRECTORY_ENTRY_IMPORT &&
        !ReadImports(reader, image, directories[IMAGE_DIRECTORY_ENTRY_IMPORT], error))
        return false;
    return true;
}

const PeSection *FindSection(const PeImage &image, const char *name)
{
    for (const PeSection &section : image.sections)
        if (section.name == name)
            return &section;
    return nullptr;
}
