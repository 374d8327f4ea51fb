#include "app/version_resource.h"

#include "app/pe_fields.h"

#include <vector>

namespace {

const uint32_t RESOURCE_DIRECTORY = 2;
const uint32_t RT_VERSION_ID = 16;
const size_t SECTION_HEADER_BYTES = 40;
const size_t RESOURCE_DIRECTORY_BYTES = 16;
const uint32_t SUBDIRECTORY_FLAG = 0x80000000u;
const uint32_t FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BDu;
const size_t FIXED_FILE_INFO_BYTES = 52;
// Resource directories nest three deep (type, name, language); a deeper
// walk is a malformed or hostile image.
const int RESOURCE_LEVELS = 3;

struct Section {
    uint32_t virtualAddress;
    uint32_t virtualSize;
    uint32_t rawSize;
    uint32_t rawOffset;
};

// The sections and the resource directory's address of a PE image.
struct Image {
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    std::vector<Section> sections;
    uint32_t resourceRva = 0;

    // The file offset of nLength bytes at rva, all inside one section's raw
    // data and the file; false otherwise.
    bool Offset(uint32_t rva, size_t nLength, size_t* offset) const
    {
        for (const Section& s : sections) {
            uint32_t extent = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
            if (rva < s.virtualAddress || rva - s.virtualAddress >= extent) continue;
            size_t inSection = rva - s.virtualAddress;
            if (inSection > s.rawSize || nLength > s.rawSize - inSection) return false;
            size_t at = static_cast<size_t>(s.rawOffset) + inSection;
            if (at > size || nLength > size - at) return false;
            *offset = at;
            return true;
        }
        return false;
    }
};

bool ReadImage(const uint8_t* bytes, size_t size, Image* image)
{
    if (size < PE_OFFSET_FIELD + 4 || bytes[0] != 'M' || bytes[1] != 'Z') return false;
    size_t pe = Read32(bytes + PE_OFFSET_FIELD);
    if (pe > size || size - pe < 4 + FILE_HEADER_BYTES) return false;
    if (bytes[pe] != 'P' || bytes[pe + 1] != 'E' || bytes[pe + 2] != 0 || bytes[pe + 3] != 0) return false;
    const uint8_t* file = bytes + pe + 4;
    size_t sections = Read16(file + 2);
    size_t optionalBytes = Read16(file + 16);
    size_t optional = pe + 4 + FILE_HEADER_BYTES;
    if (optionalBytes > size - optional || optionalBytes < 2) return false;
    uint16_t magic = Read16(bytes + optional);
    size_t directories = magic == PE32_MAGIC ? 96 : magic == PE32_PLUS_MAGIC ? 112 : 0;
    if (directories == 0 || optionalBytes < directories) return false;
    size_t count = Read32(bytes + optional + directories - 4);
    if (count <= RESOURCE_DIRECTORY || optionalBytes < directories + 8 * (RESOURCE_DIRECTORY + 1)) return false;
    image->resourceRva = Read32(bytes + optional + directories + 8 * RESOURCE_DIRECTORY);
    size_t table = optional + optionalBytes;
    if (sections > (size - table) / SECTION_HEADER_BYTES) return false;
    for (size_t i = 0; i < sections; ++i) {
        const uint8_t* header = bytes + table + i * SECTION_HEADER_BYTES;
        image->sections.push_back({Read32(header + 12), Read32(header + 8), Read32(header + 16), Read32(header + 20)});
    }
    image->bytes = bytes;
    image->size = size;
    return image->resourceRva != 0;
}

// The first entry of the resource directory at directoryOffset (from the
// start of the resource section) whose id is wantedId, or its first entry
// when wantedId is 0; the entry's raw offset field.
bool FindEntry(const Image& image, uint32_t directoryOffset, uint32_t wantedId, uint32_t* target)
{
    size_t at;
    if (!image.Offset(image.resourceRva + directoryOffset, RESOURCE_DIRECTORY_BYTES, &at)) return false;
    size_t entries = static_cast<size_t>(Read16(image.bytes + at + 12)) + Read16(image.bytes + at + 14);
    for (size_t i = 0; i < entries; ++i) {
        size_t entry;
        if (!image.Offset(image.resourceRva + directoryOffset + static_cast<uint32_t>(RESOURCE_DIRECTORY_BYTES + 8 * i),
                          8, &entry)) {
            return false;
        }
        uint32_t name = Read32(image.bytes + entry);
        if (wantedId == 0 || name == wantedId) {
            *target = Read32(image.bytes + entry + 4);
            return true;
        }
    }
    return false;
}

// The bytes of the first RT_VERSION resource.
bool FindVersionData(const Image& image, size_t* offset, size_t* length)
{
    uint32_t target = 0;
    uint32_t directory = 0;
    for (int level = 0; level < RESOURCE_LEVELS; ++level) {
        if (!FindEntry(image, directory, level == 0 ? RT_VERSION_ID : 0, &target)) return false;
        bool subdirectory = (target & SUBDIRECTORY_FLAG) != 0;
        if (subdirectory != (level < RESOURCE_LEVELS - 1)) return false;
        directory = target & ~SUBDIRECTORY_FLAG;
    }
    size_t entry;
    if (!image.Offset(image.resourceRva + target, 16, &entry)) return false;
    *length = Read32(image.bytes + entry + 4);
    return image.Offset(Read32(image.bytes + entry), *length, offset);
}

size_t Align4(size_t offset)
{
    return (offset + 3) & ~static_cast<size_t>(3);
}

// One block of a version resource: its key, its value and its children,
// as offsets into the resource's bytes.
struct Block {
    std::u16string key;
    size_t value = 0;
    size_t valueBytes = 0;
    size_t children = 0;
    size_t end = 0;
};

// Reads the block at offset, which must end by end.
bool ReadBlock(const uint8_t* data, size_t offset, size_t end, Block* block)
{
    if (offset > end || end - offset < 6) return false;
    size_t length = Read16(data + offset);
    size_t valueLength = Read16(data + offset + 2);
    uint16_t type = Read16(data + offset + 4);
    if (length < 6 || length > end - offset) return false;
    block->end = offset + length;
    block->key.clear();
    size_t at = offset + 6;
    for (;;) {
        if (block->end - at < 2) return false;
        char16_t c = static_cast<char16_t>(Read16(data + at));
        at += 2;
        if (c == 0) break;
        block->key += c;
    }
    block->value = Align4(at);
    block->valueBytes = type == 1 ? 2 * valueLength : valueLength;
    if (block->value > block->end || block->valueBytes > block->end - block->value) return false;
    block->children = Align4(block->value + block->valueBytes);
    return true;
}

// The text of a String block's value, without its terminator.
std::u16string TextValue(const uint8_t* data, const Block& block)
{
    std::u16string text;
    for (size_t at = block.value; at + 2 <= block.value + block.valueBytes; at += 2) {
        char16_t c = static_cast<char16_t>(Read16(data + at));
        if (c == 0) break;
        text += c;
    }
    return text;
}

// The strings of the first table of a StringFileInfo block.
bool ReadStrings(const uint8_t* data, const Block& stringFileInfo, ProgramVersion* version)
{
    Block table;
    if (stringFileInfo.children >= stringFileInfo.end ||
        !ReadBlock(data, stringFileInfo.children, stringFileInfo.end, &table)) {
        return false;
    }
    for (size_t at = table.children; at < table.end;) {
        Block text;
        if (!ReadBlock(data, at, table.end, &text)) return false;
        if (text.key == u"ProductName") version->productName = TextValue(data, text);
        if (text.key == u"OriginalFilename") version->originalFilename = TextValue(data, text);
        at = Align4(text.end);
    }
    return true;
}

}  // namespace

bool ReadProgramVersion(const uint8_t* bytes, size_t size, ProgramVersion* version)
{
    Image image;
    size_t offset = 0;
    size_t length = 0;
    if (!ReadImage(bytes, size, &image) || !FindVersionData(image, &offset, &length)) return false;
    const uint8_t* data = bytes + offset;
    Block root;
    if (!ReadBlock(data, 0, length, &root) || root.key != u"VS_VERSION_INFO") return false;
    if (root.valueBytes < FIXED_FILE_INFO_BYTES || Read32(data + root.value) != FIXED_FILE_INFO_SIGNATURE) {
        return false;
    }
    *version = ProgramVersion();
    version->nFileVersion = static_cast<uint64_t>(Read32(data + root.value + 8)) << 32 | Read32(data + root.value + 12);
    for (size_t at = root.children; at < root.end;) {
        Block child;
        if (!ReadBlock(data, at, root.end, &child)) return false;
        if (child.key == u"StringFileInfo" && !ReadStrings(data, child, version)) return false;
        at = Align4(child.end);
    }
    return true;
}
