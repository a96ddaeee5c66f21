#include "pictures/picture_writers.h"
#include "temp_folder.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <utility>
#include <vector>
#include <zlib.h>

namespace quillmark {
namespace {

using test::readBytes;
using test::TempFolder;
using test::writeBytes;
using Bytes = std::vector<std::uint8_t>;

constexpr Colour kRed = 0xFF0000FF;
constexpr Colour kHalfRed = 0x800000FF;

// Pseudo-random opaque pixels: every pixel differs from its neighbours, and the files come out large.
Picture noisePicture(int width, int height) {
    Picture picture = Picture::create(width, height).value();
    std::uint32_t state = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            picture.setPixel(x, y, (state >> 8) | 0xFF000000u);
        }
    return picture;
}

// Teletext-like: 16 x 16 blocks of the eight full-intensity colours.
constexpr Colour kBlockColours[] = {0xFF000000, 0xFF0000FF, 0xFF00FF00, 0xFF00FFFF,
                                    0xFFFF0000, 0xFFFF00FF, 0xFFFFFF00, 0xFFFFFFFF};
Colour blockColour(int x, int y) {
    return kBlockColours[(x / 16 + 3 * (y / 16)) % 8];
}

Picture blockPicture(int width, int height) {
    Picture picture = Picture::create(width, height).value();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, blockColour(x, y));
    return picture;
}

Bytes slice(const Bytes& bytes, std::size_t at, std::size_t count) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                 bytes.begin() + static_cast<std::ptrdiff_t>(at + count));
}

std::uint32_t le16(const Bytes& bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8;
}
std::uint32_t le32(const Bytes& bytes, std::size_t at) {
    return le16(bytes, at) | le16(bytes, at + 2) << 16;
}
std::uint32_t be16(const Bytes& bytes, std::size_t at) {
    return bytes[at] << 8 | bytes[at + 1];
}
std::uint32_t be32(const Bytes& bytes, std::size_t at) {
    return be16(bytes, at) << 16 | be16(bytes, at + 2);
}

Bytes savedBytes(const Picture& picture, std::uint32_t formatCode, int qualityLevel = kDefaultQualityLevel,
                 int depth = kPictureDepth) {
    TempFolder folder;
    const auto name = folder / "picture";
    EXPECT_TRUE(savePicture(picture, name, formatCode, qualityLevel, depth));
    return readBytes(name);
}

// ---- BMP

class BmpWriter : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(BmpWriter, LaysOutTheHeadersAndThePixelsBottomRowFirst) {
    const auto [width, height] = GetParam();
    Picture picture = noisePicture(width, height);
    picture.setPixel(0, height - 1, kHalfRed);
    picture.setPixel(width - 1, 0, kRed);

    const Bytes bytes = savedBytes(picture, FormatBmp, 0, 32);
    const std::uint32_t imageBytes = 4u * static_cast<std::uint32_t>(width * height);
    ASSERT_EQ(bytes.size(), 54 + imageBytes);
    EXPECT_EQ(slice(bytes, 0, 2), (Bytes{'B', 'M'}));
    EXPECT_EQ(le32(bytes, 2), 54 + imageBytes);
    EXPECT_EQ(le32(bytes, 6), 0u) << "reserved";
    EXPECT_EQ(le32(bytes, 10), 54u);
    EXPECT_EQ(le32(bytes, 14), 40u);
    EXPECT_EQ(le32(bytes, 18), static_cast<std::uint32_t>(width));
    EXPECT_EQ(le32(bytes, 22), static_cast<std::uint32_t>(height)) << "positive: bottom row first";
    EXPECT_EQ(le16(bytes, 26), 1u);
    EXPECT_EQ(le16(bytes, 28), 32u);
    EXPECT_EQ(le32(bytes, 30), 0u) << "uncompressed";
    EXPECT_EQ(le32(bytes, 34), imageBytes);
    EXPECT_EQ(slice(bytes, 38, 16), Bytes(16, 0)) << "resolutions and colour counts";

    EXPECT_EQ(slice(bytes, 54, 4), (Bytes{0x00, 0x00, 0xFF, 0x80})) << "bottom left first, its alpha kept";
    EXPECT_EQ(slice(bytes, bytes.size() - 4, 4), (Bytes{0x00, 0x00, 0xFF, 0xFF})) << "top right last";
    int wrong = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::size_t at = 54 + 4 * (static_cast<std::size_t>(height - 1 - y) * width + x);
            const Colour colour = picture.pixel(x, y);
            const Bytes expected{static_cast<std::uint8_t>(colour >> 16),
                                 static_cast<std::uint8_t>(colour >> 8), static_cast<std::uint8_t>(colour),
                                 static_cast<std::uint8_t>(colour >> 24)};
            if (slice(bytes, at, 4) != expected) ++wrong;
        }
    EXPECT_EQ(wrong, 0) << "pixels not stored as blue, green, red, alpha at their place";
}

INSTANTIATE_TEST_SUITE_P(ScreenSizes, BmpWriter, ::testing::Values(std::pair{240, 250}, std::pair{480, 500}));

TEST(BmpWriter, WritesATwentyFourBitPictureAsOpaqueWhenAskedForThirtyTwoBits) {
    Picture picture = Picture::create(2, 1, 24).value();
    picture.setPixel(0, 0, 0x00336699);
    const Bytes bytes = savedBytes(picture, FormatBmp, 0, 32);
    ASSERT_EQ(bytes.size(), 54u + 8);
    EXPECT_EQ(slice(bytes, 54, 8), (Bytes{0x33, 0x66, 0x99, 0xFF, 0x00, 0x00, 0x00, 0xFF}));
}

// ---- PNG

struct Chunk {
    std::string type;
    Bytes data;
};

std::vector<Chunk> pngChunks(const Bytes& file) {
    const Bytes signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<Chunk> chunks;
    if (file.size() < 8 || slice(file, 0, 8) != signature) return chunks;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::size_t length = be32(file, at);
        if (at + 12 + length > file.size()) break;
        chunks.push_back({std::string(file.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                      file.begin() + static_cast<std::ptrdiff_t>(at + 8)),
                          slice(file, at + 8, length)});
        at += 12 + length;
    }
    return chunks;
}

TEST(PngWriter, HoldsOnlyHeaderDataAndEndChunksWithEveryRowUnfiltered) {
    const int width = 240, height = 250;
    const Bytes file = savedBytes(noisePicture(width, height), FormatPng);
    const auto chunks = pngChunks(file);
    ASSERT_GE(chunks.size(), 3u);
    EXPECT_EQ(chunks.front().type, "IHDR");
    EXPECT_EQ(chunks.front().data, (Bytes{0, 0, 0, 240, 0, 0, 0, 250, 8, 6, 0, 0, 0}));
    EXPECT_EQ(chunks.back().type, "IEND");
    Bytes compressed;
    for (std::size_t i = 1; i + 1 < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].type, "IDAT") << "chunk " << i;
        compressed.insert(compressed.end(), chunks[i].data.begin(), chunks[i].data.end());
    }

    const std::size_t rowBytes = 1 + 4 * width;
    Bytes rows(rowBytes * height + 1);
    uLongf size = rows.size();
    ASSERT_EQ(uncompress(rows.data(), &size, compressed.data(), compressed.size()), Z_OK);
    ASSERT_EQ(size, rowBytes * height);
    int filtered = 0;
    for (int y = 0; y < height; ++y)
        filtered += rows[y * rowBytes] != 0;
    EXPECT_EQ(filtered, 0) << "rows with a filter other than None";
}

TEST(PngWriter, DecodesToThePicturesPixelsAlphaIncluded) {
    Picture picture = noisePicture(240, 250);
    picture.setPixel(0, 0, kRed);
    picture.setPixel(1, 0, kHalfRed);
    TempFolder folder;
    const auto name = folder / "screen.png";
    ASSERT_TRUE(savePicture(picture, name, FormatPng));

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, name.c_str())) << image.message;
    ASSERT_EQ(image.width, 240u);
    ASSERT_EQ(image.height, 250u);
    image.format = PNG_FORMAT_RGBA;
    Bytes decoded(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, decoded.data(), 0, nullptr)) << image.message;

    EXPECT_EQ(slice(decoded, 0, 8), (Bytes{255, 0, 0, 255, 255, 0, 0, 0x80}));
    int wrong = 0;
    for (int y = 0; y < 250; ++y)
        for (int x = 0; x < 240; ++x) {
            const std::size_t at = 4 * (static_cast<std::size_t>(y) * 240 + x);
            const Colour colour = decoded[at] | decoded[at + 1] << 8 | decoded[at + 2] << 16 |
                                  static_cast<Colour>(decoded[at + 3]) << 24;
            wrong += colour != picture.pixel(x, y);
        }
    EXPECT_EQ(wrong, 0);
}

// ---- JPEG

struct Segment {
    std::uint8_t marker;
    Bytes data;
};

// The marker segments from SOI up to and including the start of scan.
std::vector<Segment> jpegHeaderSegments(const Bytes& file) {
    std::vector<Segment> segments;
    if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8) return segments;
    for (std::size_t at = 2; at + 4 <= file.size() && file[at] == 0xFF;) {
        const std::size_t length = be16(file, at + 2);
        if (length < 2 || at + 2 + length > file.size()) break;
        segments.push_back({file[at + 1], slice(file, at + 4, length - 2)});
        if (file[at + 1] == 0xDA) break;
        at += 2 + length;
    }
    return segments;
}

struct DecodedJpeg {
    int width = 0;
    int height = 0;
    int components = 0;
    Bytes pixels;
};

DecodedJpeg decodeJpeg(const Bytes& file) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), file.size());
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    DecodedJpeg decoded{static_cast<int>(info.output_width),
                        static_cast<int>(info.output_height),
                        info.output_components,
                        {}};
    const std::size_t rowBytes = static_cast<std::size_t>(decoded.width) * decoded.components;
    decoded.pixels.resize(rowBytes * decoded.height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = decoded.pixels.data() + info.output_scanline * rowBytes;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return decoded;
}

// libjpeg on its own, with the settings the writer is to use: what the writer's file must equal.
Bytes encodeRgb(const Bytes& rgb, int width, int height, int quality) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    errors.output_message = [](j_common_ptr) {}; // quality 0 warns about coarse tables
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, FALSE);
    jpeg_start_compress(&info, TRUE);
    Bytes row(3 * static_cast<std::size_t>(width));
    while (info.next_scanline < info.image_height) {
        std::memcpy(row.data(), rgb.data() + info.next_scanline * row.size(), row.size());
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    Bytes result(out, out + size);
    jpeg_destroy_compress(&info);
    std::free(out);
    return result;
}

Bytes opaqueRgb(const Picture& picture) {
    Bytes rgb;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const Colour colour = picture.pixel(x, y);
            rgb.insert(rgb.end(), {static_cast<std::uint8_t>(colour), static_cast<std::uint8_t>(colour >> 8),
                                   static_cast<std::uint8_t>(colour >> 16)});
        }
    return rgb;
}

TEST(JpegWriter, CarriesTheMarkersOfLibjpegDefaultsAtQualityHundred) {
    const Bytes file = savedBytes(blockPicture(240, 250), FormatJpeg, 10);
    ASSERT_GE(file.size(), 4u);
    EXPECT_EQ(slice(file, file.size() - 2, 2), (Bytes{0xFF, 0xD9})) << "ends with EOI";
    const auto segments = jpegHeaderSegments(file);
    ASSERT_FALSE(segments.empty()) << "begins with SOI";
    EXPECT_EQ(segments.front().marker, 0xE0);
    EXPECT_EQ(segments.front().data, (Bytes{'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}))
        << "JFIF 1.01, density unit 0, density 1 x 1, no thumbnail";

    int frames = 0, quantTables = 0, otherEntries = 0, scans = 0;
    for (const auto& segment : segments) {
        const std::uint8_t marker = segment.marker;
        if (marker == 0xC0) {
            ++frames;
            EXPECT_EQ(segment.data, (Bytes{8, 0, 250, 0, 240, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1}))
                << "8-bit samples, Y 2 x 2, Cb and Cr 1 x 1";
        } else if (marker >= 0xC1 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            ADD_FAILURE() << "a frame other than baseline: marker " << int{marker};
        } else if (marker == 0xDB) {
            for (std::size_t at = 0; at < segment.data.size(); ++quantTables) {
                const std::size_t entryBytes = (segment.data[at] >> 4) ? 2 : 1;
                for (int i = 0; i < 64; ++i)
                    otherEntries += (entryBytes == 1 ? segment.data[at + 1 + i]
                                                     : be16(segment.data, at + 1 + 2 * i)) != 1;
                at += 1 + 64 * entryBytes;
            }
        } else if (marker == 0xDA) {
            ++scans;
            EXPECT_EQ(segment.data.at(0), 3) << "one interleaved scan of all three components";
        }
        EXPECT_NE(marker, 0xDD) << "no restart interval";
    }
    EXPECT_EQ(frames, 1);
    EXPECT_EQ(quantTables, 2);
    EXPECT_EQ(otherEntries, 0) << "quantisation entries other than 1";
    EXPECT_EQ(scans, 1);
}

TEST(JpegWriter, DecodesUprightToThePicturesColours) {
    const Bytes file = savedBytes(blockPicture(240, 250), FormatJpeg, 10);
    const DecodedJpeg decoded = decodeJpeg(file);
    ASSERT_EQ(decoded.width, 240);
    ASSERT_EQ(decoded.height, 250);
    ASSERT_EQ(decoded.components, 3);
    int wrong = 0;
    for (int y = 8; y < 250; y += 16)
        for (int x = 8; x < 240; x += 16) {
            const Colour colour = blockColour(x, y);
            const std::size_t at = 3 * (static_cast<std::size_t>(y) * 240 + x);
            for (int channel = 0; channel < 3; ++channel)
                wrong += std::abs(decoded.pixels[at + channel] -
                                  static_cast<int>((colour >> (8 * channel)) & 0xFF)) > 4;
        }
    EXPECT_EQ(wrong, 0) << "block centres far from their colour";
}

TEST(JpegWriter, LaysTranslucentPixelsOverWhite) {
    // Four 8 x 8 blocks: half red, fully transparent, opaque, a quarter green.
    const Colour colours[] = {kHalfRed, 0x00123456, 0xFF336699, 0x40008000};
    const Bytes entering[] = {{255, 127, 127}, {255, 255, 255}, {0x99, 0x66, 0x33}, {191, 223, 191}};
    Picture picture = Picture::create(32, 8).value();
    Bytes rgb;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 32; ++x) {
            picture.setPixel(x, y, colours[x / 8]);
            rgb.insert(rgb.end(), entering[x / 8].begin(), entering[x / 8].end());
        }
    EXPECT_EQ(savedBytes(picture, FormatJpeg, 10), encodeRgb(rgb, 32, 8, 100));
}

TEST(JpegWriter, OpaqueRowsOfAnyWidthEnterTheEncoderAsTheirColours) {
    for (int width : {1, 2, 3, 4, 5, 7, 9}) {
        const Picture picture = noisePicture(width, 3);
        EXPECT_EQ(savedBytes(picture, FormatJpeg, 10), encodeRgb(opaqueRgb(picture), width, 3, 100)) << width;
    }
}

TEST(JpegWriter, UsesTenTimesTheQualityLevelClampedToZeroToTen) {
    const Picture picture = noisePicture(48, 40);
    const Bytes rgb = opaqueRgb(picture);
    EXPECT_EQ(savedBytes(picture, FormatJpeg, 7), encodeRgb(rgb, 48, 40, 70));
    EXPECT_EQ(savedBytes(picture, FormatJpeg, 10), encodeRgb(rgb, 48, 40, 100));
    EXPECT_EQ(savedBytes(picture, FormatJpeg, 15), savedBytes(picture, FormatJpeg, 10));
    EXPECT_EQ(savedBytes(picture, FormatJpeg, -3), savedBytes(picture, FormatJpeg, 0));
    EXPECT_EQ(savedBytes(picture, FormatJpeg, 0), encodeRgb(rgb, 48, 40, 0));
    EXPECT_NE(savedBytes(picture, FormatJpeg, 0), savedBytes(picture, FormatJpeg, 10));
}

// ---- saving

int permissions(const std::filesystem::path& name) {
    struct stat info {};
    return ::stat(name.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

TEST(SavePicture, WritesTheSameBytesToAnOpenStream) {
    const Picture picture = blockPicture(240, 250);
    const std::pair<std::uint32_t, Bytes> cases[] = {
        {FormatBmp, {'B', 'M'}}, {FormatPng, {0x89, 'P', 'N', 'G'}}, {FormatJpeg, {0xFF, 0xD8, 0xFF}}};
    for (const auto& [formatCode, signature] : cases) {
        const Bytes saved = savedBytes(picture, formatCode);
        ASSERT_GE(saved.size(), signature.size());
        EXPECT_EQ(slice(saved, 0, signature.size()), signature);

        std::FILE* stream = std::tmpfile();
        ASSERT_NE(stream, nullptr);
        EXPECT_TRUE(writePicture(picture, stream, formatCode));
        Bytes streamed(static_cast<std::size_t>(std::ftell(stream)));
        std::rewind(stream);
        EXPECT_EQ(std::fread(streamed.data(), 1, streamed.size(), stream), streamed.size());
        std::fclose(stream);
        EXPECT_EQ(streamed, saved) << "format " << std::hex << formatCode;
    }
}

TEST(SavePicture, RefusesWhatItCannotWriteWithoutTouchingAnyFile) {
    const Picture picture32 = blockPicture(24, 20);
    const Picture picture24 = Picture::create(24, 20, 24).value();
    struct Case {
        const char* what;
        const Picture& picture;
        const char* name;
        std::uint32_t formatCode;
        int depth;
    };
    const Case cases[] = {
        {"an empty name", picture32, "", FormatPng, kPictureDepth},
        {"an unknown format code", picture32, "screen.old", 0x00464947, kPictureDepth},
        {"format code 0", picture32, "screen.old", 0, kPictureDepth},
        {"BMP at depth 24", picture32, "screen.old", FormatBmp, 24},
        {"PNG at depth 24", picture32, "screen.old", FormatPng, 24},
        {"JPEG at depth 8", picture32, "screen.old", FormatJpeg, 8},
        {"a 24-bit picture as BMP at its own depth", picture24, "screen.old", FormatBmp, kPictureDepth},
        {"a 24-bit picture as PNG", picture24, "screen.old", FormatPng, kPictureDepth},
        {"a 24-bit picture as JPEG", picture24, "screen.old", FormatJpeg, 32},
        {"a folder that does not exist", picture32, "missing/screen.png", FormatPng, kPictureDepth},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        const Bytes earlier{1, 2, 3};
        writeBytes(folder / "screen.old", earlier);
        const auto name = *c.name ? folder / c.name : std::filesystem::path();
        EXPECT_FALSE(savePicture(c.picture, name, c.formatCode, kDefaultQualityLevel, c.depth)) << c.what;
        EXPECT_EQ(folder.names(), std::vector<std::string>{"screen.old"}) << c.what;
        EXPECT_EQ(readBytes(folder / "screen.old"), earlier) << c.what;
    }
}

TEST(SavePicture, ReplacesAnExistingFileAndKeepsItsPermissions) {
    TempFolder folder;
    const auto name = folder / "screen.bmp";
    writeBytes(name, Bytes(100000, 0xAB));
    ASSERT_EQ(::chmod(name.c_str(), 0640), 0);
    ASSERT_TRUE(savePicture(blockPicture(240, 250), name, FormatBmp, 0, 32));
    EXPECT_EQ(readBytes(name), savedBytes(blockPicture(240, 250), FormatBmp, 0, 32));
    EXPECT_EQ(permissions(name), 0640);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"screen.bmp"});
}

TEST(SavePicture, GivesANewFileThePermissionsTheUmaskAllows) {
    TempFolder folder;
    const mode_t saved = ::umask(027);
    const bool written = savePicture(blockPicture(24, 20), folder / "screen.png", FormatPng);
    ::umask(saved);
    ASSERT_TRUE(written);
    EXPECT_EQ(permissions(folder / "screen.png"), 0640);
}

TEST(SavePicture, WritesThroughSymbolicLinksAndKeepsThem) {
    TempFolder folder;
    const Picture picture = blockPicture(24, 20);
    const Bytes expected = savedBytes(picture, FormatPng);
    writeBytes(folder / "real.png", Bytes{1, 2, 3});
    std::filesystem::create_symlink("real.png", folder / "link.png");
    std::filesystem::create_symlink(folder / "link.png", folder / "chain.png");
    std::filesystem::create_symlink("made.png", folder / "dangling.png");

    ASSERT_TRUE(savePicture(picture, folder / "chain.png", FormatPng));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "chain.png"));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "link.png"));
    EXPECT_EQ(readBytes(folder / "real.png"), expected);

    ASSERT_TRUE(savePicture(picture, folder / "dangling.png", FormatPng));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "dangling.png"));
    EXPECT_EQ(readBytes(folder / "made.png"), expected);
    EXPECT_EQ(folder.names(),
              (std::vector<std::string>{"chain.png", "dangling.png", "link.png", "made.png", "real.png"}));
}

TEST(SavePicture, FailsOnAFolderAndLeavesItAsItWas) {
    TempFolder folder;
    std::filesystem::create_directory(folder / "screen.png");
    writeBytes(folder / "screen.png" / "inside", Bytes{7});
    std::filesystem::create_symlink("screen.png", folder / "link.png");
    EXPECT_FALSE(savePicture(blockPicture(24, 20), folder / "screen.png", FormatPng));
    EXPECT_FALSE(savePicture(blockPicture(24, 20), folder / "link.png", FormatPng));
    EXPECT_TRUE(std::filesystem::is_directory(folder / "screen.png"));
    EXPECT_EQ(readBytes(folder / "screen.png" / "inside"), Bytes{7});
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"link.png", "screen.png"}));
}

// Writes past a few bytes fail as on a full disk, for the whole process, while this lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) : previousHandler_(std::signal(SIGXFSZ, SIG_IGN)) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        active_ = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    bool active() const { return active_; }

private:
    void (*previousHandler_)(int);
    rlimit saved_{};
    bool active_ = false;
};

TEST(SavePicture, AFailedWriteLeavesTheEarlierFileAndNoTemporaryFile) {
    const Picture picture = noisePicture(240, 250);
    for (const std::uint32_t formatCode : {FormatBmp, FormatPng, FormatJpeg}) {
        TempFolder folder;
        const Bytes earlier{1, 2, 3};
        writeBytes(folder / "screen", earlier);
        bool written = true;
        {
            FileSizeLimit limit(1000);
            ASSERT_TRUE(limit.active());
            written = savePicture(picture, folder / "screen", formatCode, 10, 32);
        }
        EXPECT_FALSE(written) << std::hex << formatCode;
        EXPECT_EQ(readBytes(folder / "screen"), earlier) << std::hex << formatCode;
        EXPECT_EQ(folder.names(), std::vector<std::string>{"screen"}) << std::hex << formatCode;
    }
}

} // namespace
} // namespace quillmark
