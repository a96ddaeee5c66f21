#include "pictures/bmp_reader.h"

#include <cstdint>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace quillmark {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kDataOffset = 118;
constexpr Colour kMagenta = 0x00FF00FF;
constexpr Colour kWhite = 0x00FFFFFF;
constexpr Colour kBlack = 0;

void put16(Bytes& file, std::size_t at, std::uint16_t value) {
    file[at] = static_cast<std::uint8_t>(value);
    file[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(Bytes& file, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        file[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Palette entry i of the hand-made pictures: distinct red, green and blue so that a channel mix-up shows.
Colour paletteColour(int i) {
    const auto red = static_cast<Colour>(i * 16 + 1);
    const auto green = static_cast<Colour>(i * 8 + 2);
    const auto blue = static_cast<Colour>(255 - i * 4);
    return red | (green << 8) | (blue << 16);
}

// A 4-bit BMP with a 16-entry palette and its pixel data at offset 118.
Bytes makeBmp(int width, int height, std::uint32_t compression, const Bytes& data) {
    Bytes file(kDataOffset);
    file[0] = 'B';
    file[1] = 'M';
    put32(file, 2, static_cast<std::uint32_t>(kDataOffset + data.size()));
    put32(file, 10, kDataOffset);
    put32(file, 14, 40);
    put32(file, 18, static_cast<std::uint32_t>(width));
    put32(file, 22, static_cast<std::uint32_t>(height));
    put16(file, 26, 1);
    put16(file, 28, 4);
    put32(file, 30, compression);
    put32(file, 34, static_cast<std::uint32_t>(data.size()));
    put32(file, 46, 16);
    for (int i = 0; i < 16; ++i) {
        const Colour colour = paletteColour(i);
        const auto at = 54 + static_cast<std::size_t>(i) * 4;
        file[at] = static_cast<std::uint8_t>(colour >> 16);
        file[at + 1] = static_cast<std::uint8_t>(colour >> 8);
        file[at + 2] = static_cast<std::uint8_t>(colour);
    }
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

// 3 x 2, uncompressed: each row is two bytes of pixels padded to four.
// Top row 1 2 3, bottom row 4 0 1; the bottom row comes first in the file.
Bytes uncompressedBmp(int height = 2) {
    const Bytes bottom = {0x40, 0x10, 0xEE, 0xEE};
    const Bytes top = {0x12, 0x30, 0xEE, 0xEE};
    Bytes data = height > 0 ? bottom : top;
    const Bytes& second = height > 0 ? top : bottom;
    data.insert(data.end(), second.begin(), second.end());
    return makeBmp(3, height, 0, data);
}

// 7 x 2, run-coded. Bottom row: an encoded run of four alternating pixels, an absolute run of three.
// Top row: an absolute run of five (odd, so its three bytes are padded to four), an encoded run of two.
// Offsets within the data are named where the malformed cases below change them.
constexpr std::size_t kBottomAbsoluteCount = 3;
constexpr std::size_t kBottomEndOfLine = 6;
constexpr std::size_t kTopEncodedCount = 14;
constexpr std::size_t kEndOfBitmap = 18;
const Bytes kRunData = {
    0x04, 0x12, 0x00, 0x03, 0x34, 0x50, 0x00, 0x00,             // 1 2 1 2 | 3 4 5 | end of line
    0x00, 0x05, 0x12, 0x34, 0x50, 0x00, 0x02, 0x40, 0x00, 0x00, // 1 2 3 4 5 | 4 0 | end of line
    0x00, 0x01,                                                 // end of bitmap
};
const std::vector<std::vector<int>> kRunPixels = {{1, 2, 3, 4, 5, 4, 0}, {1, 2, 1, 2, 3, 4, 5}};

Bytes runCodedBmp(const Bytes& data = kRunData) {
    return makeBmp(7, 2, 2, data);
}

void expectPixels(const Picture& picture, const std::vector<std::vector<int>>& indices) {
    ASSERT_EQ(picture.height(), static_cast<int>(indices.size()));
    for (int y = 0; y < picture.height(); ++y) {
        const auto& row = indices[static_cast<std::size_t>(y)];
        ASSERT_EQ(picture.width(), static_cast<int>(row.size()));
        for (int x = 0; x < picture.width(); ++x)
            EXPECT_EQ(picture.pixel(x, y), paletteColour(row[static_cast<std::size_t>(x)])) << x << ", " << y;
    }
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

TEST(BmpReader, ReadsTheGlyphSheetsAsGridsOfBlackAndWhiteCellsInMagenta) {
    struct Sheet {
        const char* name;
        int cellWidth;
        int cellHeight;
    };
    for (auto [name, w, h] : {Sheet{"alphanumeric-small", 6, 10},
                              {"contiguous-small", 6, 10},
                              {"separated-small", 6, 10},
                              {"alphanumeric-large", 12, 20},
                              {"contiguous-large", 12, 20},
                              {"separated-large", 12, 20}}) {
        SCOPED_TRACE(name);
        const Bytes file = readFile(std::string(QUILLMARK_GLYPH_DIR) + "/" + name + ".bmp");
        ASSERT_FALSE(file.empty());
        const auto sheet = readBmp(file);
        ASSERT_TRUE(sheet);
        EXPECT_EQ(sheet->width(), 12 * (w + 1) + 1);
        EXPECT_EQ(sheet->height(), 8 * (h + 1) + 1);
        EXPECT_EQ(sheet->depth(), 24);
        int white = 0;
        for (int y = 0; y < sheet->height(); ++y) {
            for (int x = 0; x < sheet->width(); ++x) {
                const Colour colour = sheet->pixel(x, y);
                if (x % (w + 1) == 0 || y % (h + 1) == 0) {
                    ASSERT_EQ(colour, kMagenta) << x << ", " << y;
                } else {
                    ASSERT_TRUE(colour == kBlack || colour == kWhite) << x << ", " << y;
                    white += colour == kWhite;
                }
            }
        }
        EXPECT_GT(white, 0);
    }
}

TEST(BmpReader, PutsTheGlyphSheetsTopRowsAtTheTop) {
    // The small exclamation mark (code 0x21: cell column 0, row 1) has ink at x 3 of its row 1 and none in
    // row 0; read upside down, the cell would show its empty rows 8 and 9 there instead.
    const auto small = readBmp(readFile(std::string(QUILLMARK_GLYPH_DIR) + "/alphanumeric-small.bmp"));
    ASSERT_TRUE(small);
    EXPECT_EQ(small->pixel(1 + 3, 12 + 1), kWhite);
    EXPECT_EQ(small->pixel(1 + 3, 12 + 0), kBlack);
    EXPECT_EQ(small->pixel(1 + 3, 12 + 8), kBlack);

    // Large capital A (code 0x41: cell column 4, row 1, top left at (53, 22)) starts with row 2 = 030.
    const auto large = readBmp(readFile(std::string(QUILLMARK_GLYPH_DIR) + "/alphanumeric-large.bmp"));
    ASSERT_TRUE(large);
    EXPECT_EQ(large->pixel(53 + 6, 22 + 2), kWhite);
    EXPECT_EQ(large->pixel(53 + 7, 22 + 2), kWhite);
    EXPECT_EQ(large->pixel(53 + 5, 22 + 2), kBlack);
    EXPECT_EQ(large->pixel(53 + 6, 22 + 1), kBlack);
}

TEST(BmpReader, ReadsAnUncompressedPictureBottomUpSkippingRowPadding) {
    const auto picture = readBmp(uncompressedBmp());
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->depth(), 24);
    expectPixels(*picture, {{1, 2, 3}, {4, 0, 1}});

    PixelBuffer buffer;
    ASSERT_TRUE(pictureToPixelBuffer(*picture, buffer));
    EXPECT_EQ(buffer.pixels[0], paletteColour(1) | 0xFF000000u) << "a 24-bit picture converts as opaque";
}

TEST(BmpReader, ReadsAnUncompressedPictureStoredTopDown) {
    const auto picture = readBmp(uncompressedBmp(-2));
    ASSERT_TRUE(picture);
    expectPixels(*picture, {{1, 2, 3}, {4, 0, 1}});
}

TEST(BmpReader, ReadsRunCodedRowsOfEncodedAndAbsoluteRuns) {
    const auto picture = readBmp(runCodedBmp());
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->depth(), 24);
    expectPixels(*picture, kRunPixels);
}

TEST(BmpReader, AcceptsEndOfBitmapInPlaceOfTheLastEndOfLine) {
    Bytes data = kRunData;
    data.erase(data.begin() + kEndOfBitmap - 2, data.begin() + kEndOfBitmap);
    const auto picture = readBmp(runCodedBmp(data));
    ASSERT_TRUE(picture);
    expectPixels(*picture, kRunPixels);
}

TEST(BmpReader, TakesAZeroColourCountAsAFullPaletteAndAZeroImageSizeAsTheRestOfTheFile) {
    Bytes file = runCodedBmp();
    put32(file, 46, 0);
    put32(file, 34, 0);
    const auto picture = readBmp(file);
    ASSERT_TRUE(picture);
    expectPixels(*picture, kRunPixels);
}

TEST(BmpReader, RefusesMalformedHeadersAndTruncatedFiles) {
    struct Case {
        const char* name;
        bool runCoded;
        std::function<void(Bytes&)> spoil;
    };
    const std::vector<Case> cases = {
        {"empty", true, [](Bytes& f) { f.clear(); }},
        {"only the file header", true, [](Bytes& f) { f.resize(14); }},
        {"cut inside the palette", true, [](Bytes& f) { f.resize(90); }},
        {"cut inside the run data", true, [](Bytes& f) { f.resize(kDataOffset + 9); }},
        {"cut inside the rows", false, [](Bytes& f) { f.resize(kDataOffset + 5); }},
        {"rows shorter than the picture, sizes agreeing", false,
         [](Bytes& f) { f = makeBmp(3, 2, 0, Bytes(7, 0x11)); }},
        {"bad signature", true, [](Bytes& f) { f[1] = 'A'; }},
        {"file size field past the end", true,
         [](Bytes& f) { put32(f, 2, static_cast<std::uint32_t>(f.size() + 1)); }},
        {"info header of another size", true, [](Bytes& f) { put32(f, 14, 108); }},
        {"two planes", true, [](Bytes& f) { put16(f, 26, 2); }},
        {"one bit per pixel", false, [](Bytes& f) { put16(f, 28, 1); }},
        {"eight bits per pixel", true, [](Bytes& f) { put16(f, 28, 8); }},
        {"RLE8 compression", true, [](Bytes& f) { put32(f, 30, 1); }},
        {"bit-field compression", false, [](Bytes& f) { put32(f, 30, 3); }},
        {"zero width", false, [](Bytes& f) { put32(f, 18, 0); }},
        {"negative width", false, [](Bytes& f) { put32(f, 18, static_cast<std::uint32_t>(-3)); }},
        {"zero height", false, [](Bytes& f) { put32(f, 22, 0); }},
        {"most negative height", false, [](Bytes& f) { put32(f, 22, 0x80000000u); }},
        {"top-down run coding", true, [](Bytes& f) { put32(f, 22, static_cast<std::uint32_t>(-2)); }},
        {"huge width", false, [](Bytes& f) { put32(f, 18, 1u << 20); }},
        {"huge width and height", false,
         [](Bytes& f) {
             put32(f, 18, 16384);
             put32(f, 22, 16384);
         }},
        {"large run-coded picture with a few bytes of runs", true,
         [](Bytes& f) {
             put32(f, 18, 16000);
             put32(f, 22, 1000);
         }},
        {"more than sixteen colours", true, [](Bytes& f) { put32(f, 46, 17); }},
        {"pixel data offset inside the palette", true, [](Bytes& f) { put32(f, 10, 100); }},
        {"pixel data offset past the end", true,
         [](Bytes& f) { put32(f, 10, static_cast<std::uint32_t>(f.size())); }},
        {"image size past the end", true, [](Bytes& f) { put32(f, 34, 1000); }},
        {"uncompressed pixel outside the palette", false, [](Bytes& f) { put32(f, 46, 4); }},
        {"run-coded pixel outside the palette", true, [](Bytes& f) { put32(f, 46, 5); }},
    };
    for (const auto& c : cases) {
        Bytes file = c.runCoded ? runCodedBmp() : uncompressedBmp();
        ASSERT_TRUE(readBmp(file)) << c.name << ": the unspoilt file must read";
        c.spoil(file);
        EXPECT_FALSE(readBmp(file)) << c.name;
    }
}

// The header sizes agree with the spoilt run data in each case, so only the run decoding can refuse it.
TEST(BmpReader, RefusesRunDataThatLeavesAPixelUndefinedOrRunsPastThePicture) {
    struct Case {
        const char* name;
        std::function<void(Bytes&)> spoil;
    };
    const auto erase = [](Bytes& d, std::size_t at, std::size_t count) {
        d.erase(d.begin() + static_cast<std::ptrdiff_t>(at),
                d.begin() + static_cast<std::ptrdiff_t>(at + count));
    };
    const std::vector<Case> cases = {
        {"encoded run past the end of a row", [](Bytes& d) { d[kTopEncodedCount] = 3; }},
        {"absolute run past the end of a row", [](Bytes& d) { d[kBottomAbsoluteCount] = 4; }},
        {"end of line before the row is full", [](Bytes& d) { d[kTopEncodedCount] = 1; }},
        {"missing end of line", [&](Bytes& d) { erase(d, kBottomEndOfLine, 2); }},
        {"delta escape", [](Bytes& d) { d[kBottomEndOfLine + 1] = 2; }},
        {"end of bitmap before the last row", [](Bytes& d) { d[kBottomEndOfLine + 1] = 1; }},
        {"end of bitmap inside the last row", [&](Bytes& d) { erase(d, kTopEncodedCount, 4); }},
        {"a row more than the height",
         [](Bytes& d) {
             const Bytes extra = {0x07, 0x11, 0x00, 0x00};
             d.insert(d.begin() + static_cast<std::ptrdiff_t>(kEndOfBitmap), extra.begin(), extra.end());
         }},
        {"missing end of bitmap", [](Bytes& d) { d.resize(d.size() - 2); }},
        {"cut inside an absolute run", [](Bytes& d) { d.resize(11); }},
        {"cut inside an escape", [](Bytes& d) { d.resize(d.size() - 1); }},
    };
    for (const auto& c : cases) {
        Bytes data = kRunData;
        c.spoil(data);
        EXPECT_FALSE(readBmp(runCodedBmp(data))) << c.name;
    }
}

} // namespace
} // namespace quillmark
