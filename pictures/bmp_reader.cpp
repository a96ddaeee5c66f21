#include "pictures/bmp_reader.h"

#include <array>
#include <cstddef>

namespace quillmark {

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kPaletteOffset = kFileHeaderSize + kInfoHeaderSize;
constexpr std::uint32_t kMaxPaletteEntries = 16;
// The reader only sees the program's own small pictures; anything near these limits is hostile.
constexpr std::int32_t kMaxSide = 16384;
constexpr std::size_t kMaxPixels = std::size_t{1} << 24;

constexpr std::uint32_t kUncompressed = 0;
constexpr std::uint32_t kRle4 = 2;

std::uint16_t u16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

std::uint32_t u32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[at + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

std::int32_t s32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::int32_t>(u32(bytes, at));
}

struct Header {
    int width = 0;
    int height = 0; // always positive; bottomUp says which way the rows run
    bool bottomUp = true;
    std::uint32_t compression = 0;
    std::array<Colour, kMaxPaletteEntries> palette{};
    std::uint32_t paletteEntries = 0;
    std::span<const std::uint8_t> data; // the pixel data, bounded by the file and the stated image size
};

std::optional<Header> readHeader(std::span<const std::uint8_t> file) {
    if (file.size() < kPaletteOffset) return std::nullopt;
    if (file[0] != 'B' || file[1] != 'M') return std::nullopt;
    if (u32(file, 2) > file.size()) return std::nullopt;
    if (u32(file, 14) != kInfoHeaderSize) return std::nullopt;

    Header header;
    const std::int32_t width = s32(file, 18);
    const std::int32_t height = s32(file, 22);
    header.compression = u32(file, 30);
    if (u16(file, 26) != 1 || u16(file, 28) != 4) return std::nullopt;
    if (header.compression != kUncompressed && header.compression != kRle4) return std::nullopt;
    // Run-coded pictures are bottom-up by definition; a negative height there is malformed.
    if (height < 0 && header.compression != kUncompressed) return std::nullopt;
    if (width <= 0 || width > kMaxSide || height == 0 || height < -kMaxSide || height > kMaxSide)
        return std::nullopt;
    header.width = width;
    header.height = height < 0 ? -height : height;
    header.bottomUp = height > 0;
    if (static_cast<std::size_t>(header.width) * static_cast<std::size_t>(header.height) > kMaxPixels)
        return std::nullopt;

    const std::uint32_t used = u32(file, 46);
    if (used > kMaxPaletteEntries) return std::nullopt;
    header.paletteEntries = used == 0 ? kMaxPaletteEntries : used;
    const std::size_t paletteEnd = kPaletteOffset + std::size_t{header.paletteEntries} * 4;
    const std::uint32_t dataOffset = u32(file, 10);
    if (dataOffset < paletteEnd || dataOffset >= file.size()) return std::nullopt;
    for (std::uint32_t i = 0; i < header.paletteEntries; ++i) {
        const std::size_t at = kPaletteOffset + std::size_t{i} * 4;
        header.palette[i] = static_cast<Colour>(file[at + 2]) | (static_cast<Colour>(file[at + 1]) << 8) |
                            (static_cast<Colour>(file[at]) << 16);
    }

    header.data = file.subspan(dataOffset);
    const std::uint32_t imageSize = u32(file, 34);
    if (imageSize != 0) {
        if (imageSize > header.data.size()) return std::nullopt;
        header.data = header.data.first(imageSize);
    }
    return header;
}

// Writes decoded pixels into the picture, refusing palette indices the palette doesn't have.
class PixelSink {
public:
    PixelSink(Picture& picture, const Header& header) : picture_(picture), header_(header) {}

    bool put(int x, int fileRow, unsigned index) {
        if (index >= header_.paletteEntries) return false;
        const int y = header_.bottomUp ? header_.height - 1 - fileRow : fileRow;
        picture_.setPixel(x, y, header_.palette[index]);
        return true;
    }

private:
    Picture& picture_;
    const Header& header_;
};

unsigned nibble(std::uint8_t byte, int which) {
    return which % 2 == 0 ? static_cast<unsigned>(byte >> 4) : static_cast<unsigned>(byte & 0x0F);
}

std::size_t uncompressedStride(const Header& header) {
    return (static_cast<std::size_t>(header.width) * 4 + 31) / 32 * 4;
}

// Whether the pixel data is long enough to describe every pixel, judged before the picture is allocated.
// Each run sets at most 255 pixels for two bytes, so run data shorter than that bound can't cover the
// picture, however large its header says it is.
bool dataCanCover(const Header& header) {
    const auto height = static_cast<std::size_t>(header.height);
    if (header.compression == kUncompressed) return uncompressedStride(header) * height <= header.data.size();
    const std::size_t runsPerRow = (static_cast<std::size_t>(header.width) + 254) / 255;
    return runsPerRow * height <= header.data.size() / 2;
}

bool decodeUncompressed(const Header& header, PixelSink& sink) {
    const std::size_t stride = uncompressedStride(header);
    for (int row = 0; row < header.height; ++row) {
        const std::uint8_t* bytes = header.data.data() + static_cast<std::size_t>(row) * stride;
        for (int x = 0; x < header.width; ++x) {
            if (!sink.put(x, row, nibble(bytes[x / 2], x))) return false;
        }
    }
    return true;
}

// Every pixel must be set by a run: a row ends with end-of-line exactly at its last pixel, the picture with
// end-of-bitmap after its last row, and delta escapes (which skip pixels) are refused.
bool decodeRle4(const Header& header, PixelSink& sink) {
    const std::span<const std::uint8_t> data = header.data;
    std::size_t at = 0;
    int x = 0;
    int row = 0;
    while (at + 2 <= data.size()) {
        const std::uint8_t count = data[at];
        const std::uint8_t value = data[at + 1];
        at += 2;
        if (count > 0) {
            if (row >= header.height || count > header.width - x) return false;
            for (int i = 0; i < count; ++i) {
                if (!sink.put(x++, row, nibble(value, i))) return false;
            }
            continue;
        }
        switch (value) {
        case 0: // end of line
            if (row >= header.height || x != header.width) return false;
            ++row;
            x = 0;
            break;
        case 1: // end of bitmap, either right after the last row's pixels or after its end-of-line
            return (row == header.height - 1 && x == header.width) || (row == header.height && x == 0);
        case 2: // delta
            return false;
        default: { // absolute run of `value` pixels, padded to a whole number of 16-bit words
            const std::size_t bytes = (std::size_t{value} + 1) / 2;
            const std::size_t padded = bytes + bytes % 2;
            if (row >= header.height || value > header.width - x || padded > data.size() - at) return false;
            for (int i = 0; i < value; ++i) {
                if (!sink.put(x++, row, nibble(data[at + static_cast<std::size_t>(i / 2)], i))) return false;
            }
            at += padded;
            break;
        }
        }
    }
    return false; // ran out of data before end-of-bitmap
}

} // namespace

std::optional<Picture> readBmp(std::span<const std::uint8_t> file) {
    const auto header = readHeader(file);
    if (!header || !dataCanCover(*header)) return std::nullopt;
    auto picture = Picture::create(header->width, header->height, 24);
    if (!picture) return std::nullopt;
    PixelSink sink(*picture, *header);
    const bool decoded =
        header->compression == kRle4 ? decodeRle4(*header, sink) : decodeUncompressed(*header, sink);
    if (!decoded) return std::nullopt;
    return picture;
}

} // namespace quillmark
