#include "pictures/picture_writers.h"

#include "pictures/atomic_file.h"
#include "pictures/save_internal.h"

#include <algorithm>
#include <array>
#include <bit>
#include <csetjmp>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <utility>
#include <vector>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>
#include <png.h>

namespace quillmark {

namespace {

constexpr std::size_t kBmpHeaderBytes = 54;
constexpr int kMaxQualityLevel = 10;
constexpr Colour kOpaque = 0xFF000000u;

std::uint8_t redOf(Colour colour) {
    return static_cast<std::uint8_t>(colour);
}
std::uint8_t greenOf(Colour colour) {
    return static_cast<std::uint8_t>(colour >> 8);
}
std::uint8_t blueOf(Colour colour) {
    return static_cast<std::uint8_t>(colour >> 16);
}
std::uint8_t alphaOf(Colour colour) {
    return static_cast<std::uint8_t>(colour >> 24);
}

std::size_t toSize(int value) {
    return static_cast<std::size_t>(value);
}

std::optional<std::vector<std::uint8_t>> makeBytes(unsigned long long count) {
    if (count > std::numeric_limits<std::size_t>::max()) return std::nullopt;
    try {
        return std::vector<std::uint8_t>(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

// One row as BMP stores it and as libpng takes it after png_set_bgr: blue, green, red, alpha.
void toBgra(const Colour* pixels, int width, Colour alphaMask, std::uint8_t* out) {
    for (int x = 0; x < width; ++x) {
        const Colour colour = pixels[x] | alphaMask;
        *out++ = blueOf(colour);
        *out++ = greenOf(colour);
        *out++ = redOf(colour);
        *out++ = alphaOf(colour);
    }
}

// What a writer needs, had before any file is opened so that running out of memory touches no file.
struct Encoding {
    std::uint32_t formatCode = 0;
    int jpegQuality = 0;
    std::vector<std::uint8_t> row; // one row as the writer hands it on
};

// ---- BMP

void putLe16(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void putLe32(std::uint8_t* at, std::uint32_t value) {
    putLe16(at, value);
    putLe16(at + 2, value >> 16);
}

// The file size has to fit the header's 32-bit field.
bool fitsBmp(const Picture& picture) {
    const auto bytes = 4ull * toSize(picture.width()) * toSize(picture.height()) + kBmpHeaderBytes;
    return bytes <= std::numeric_limits<std::uint32_t>::max();
}

bool writeBmp(const Picture& picture, std::uint8_t* row, std::FILE* file) {
    const auto width = static_cast<std::uint32_t>(picture.width());
    const auto height = static_cast<std::uint32_t>(picture.height());
    const std::uint32_t rowBytes = 4 * width;
    const std::uint32_t imageBytes = rowBytes * height;

    std::array<std::uint8_t, kBmpHeaderBytes> header{};
    header[0] = 'B';
    header[1] = 'M';
    putLe32(&header[2], kBmpHeaderBytes + imageBytes);
    putLe32(&header[10], kBmpHeaderBytes);
    putLe32(&header[14], 40); // info header size
    putLe32(&header[18], width);
    putLe32(&header[22], height); // positive: bottom row first
    putLe16(&header[26], 1);      // planes
    putLe16(&header[28], 32);     // bits per pixel
    putLe32(&header[34], imageBytes);
    if (std::fwrite(header.data(), 1, header.size(), file) != header.size()) return false;

    // A 24-bit picture reads with alpha 0, which some viewers would show as transparent.
    const Colour alphaMask = picture.depth() == 32 ? 0 : kOpaque;
    for (int y = picture.height() - 1; y >= 0; --y) {
        toBgra(picture.row(y), picture.width(), alphaMask, row);
        if (std::fwrite(row, 1, rowBytes, file) != rowBytes) return false;
    }
    return true;
}

// ---- PNG

// libpng's own handlers would print; errors still end in the jump of writePngImage.
[[noreturn]] void pngError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void pngWarning(png_structp, png_const_charp) {}

class PngWriteStructs {
public:
    PngWriteStructs() : png_(png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning)) {
        if (png_) info_ = png_create_info_struct(png_);
    }
    PngWriteStructs(PngWriteStructs&& other) noexcept
        : png_(std::exchange(other.png_, nullptr)), info_(std::exchange(other.info_, nullptr)) {}
    PngWriteStructs& operator=(PngWriteStructs&&) = delete;
    ~PngWriteStructs() {
        if (png_) png_destroy_write_struct(&png_, &info_);
    }

    explicit operator bool() const { return png_ && info_; }
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

// libpng leaves by longjmp on any error, so this frame holds nothing that needs cleaning up.
bool writePngImage(png_structp png, png_infop info, std::FILE* file, const Picture& picture,
                   std::uint8_t* row) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_filter(png, 0, PNG_FILTER_NONE);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width()),
                 static_cast<png_uint_32>(picture.height()), 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_set_bgr(png);
    png_write_info(png, info);
    for (int y = 0; y < picture.height(); ++y) {
        toBgra(picture.row(y), picture.width(), 0, row);
        png_write_row(png, row);
    }
    png_write_end(png, info);
    return true;
}

bool writePng(const Picture& picture, std::uint8_t* row, std::FILE* file) {
    PngWriteStructs structs;
    return structs && writePngImage(structs.png(), structs.info(), file, picture, row);
}

// ---- JPEG

struct JpegErrors {
    jpeg_error_mgr manager; // first, so that libjpeg's pointer to it also points to the whole
    std::jmp_buf jump;
};

[[noreturn]] void jpegErrorExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}
void jpegMessage(j_common_ptr) {}

// Owns a libjpeg compressor. It cannot move: libjpeg keeps a pointer to the error manager beside it.
class JpegCompressor {
public:
    JpegCompressor() {
        info_.err = jpeg_std_error(&errors_.manager);
        errors_.manager.error_exit = jpegErrorExit;
        errors_.manager.output_message = jpegMessage; // never print, even a warning
        errors_.manager.trace_level = -1;
    }
    JpegCompressor(const JpegCompressor&) = delete;
    JpegCompressor& operator=(const JpegCompressor&) = delete;
    // Also right for a compressor that was never created: its memory manager is still null.
    ~JpegCompressor() { jpeg_destroy_compress(&info_); }

    jpeg_compress_struct* info() { return &info_; }
    std::jmp_buf& jump() { return errors_.jump; }

private:
    jpeg_compress_struct info_{};
    JpegErrors errors_{};
};

// JPEG has no alpha: each pixel is laid over white, ((C - 255) x A + 65025) / 255 per component. A row at
// a time, into the row handed to libjpeg: a copy of the whole picture would cost a fifth of the compression.
std::uint8_t overWhite(std::uint8_t component, std::uint8_t alpha) {
    return static_cast<std::uint8_t>(((component - 255) * alpha + 65025) / 255);
}

// The red, green and blue bytes of an opaque row, which needs no arithmetic: the formula leaves opaque
// colours as they are. Four pixels go out as three words, laid out right on a little-endian machine only.
// False when some pixel is not opaque, with the row then only partly right.
bool copyOpaqueRow(const Colour* pixels, int width, std::uint8_t* out) {
    Colour every = 0xFF000000u;
    int x = 0;
    for (; x + 4 <= width; x += 4, out += 12) {
        const Colour a = pixels[x], b = pixels[x + 1], c = pixels[x + 2], d = pixels[x + 3];
        every &= a & b & c & d;
        const std::uint32_t first = (a & 0xFFFFFFu) | (b << 24);
        const std::uint32_t second = ((b >> 8) & 0xFFFFu) | (c << 16);
        const std::uint32_t third = ((c >> 16) & 0xFFu) | (d << 8);
        std::memcpy(out, &first, 4);
        std::memcpy(out + 4, &second, 4);
        std::memcpy(out + 8, &third, 4);
    }
    for (; x < width; ++x, out += 3) {
        every &= pixels[x];
        out[0] = redOf(pixels[x]);
        out[1] = greenOf(pixels[x]);
        out[2] = blueOf(pixels[x]);
    }
    return alphaOf(every) == 0xFF;
}

void compositeOverWhite(const Colour* pixels, int width, std::uint8_t* out) {
    // Every pixel of a rendered screen is opaque.
    if constexpr (std::endian::native == std::endian::little)
        if (copyOpaqueRow(pixels, width, out)) return;
    for (int x = 0; x < width; ++x, out += 3) {
        const Colour colour = pixels[x];
        const std::uint8_t alpha = alphaOf(colour);
        // Every pixel of a rendered screen is opaque, and the formula leaves opaque colours as they are.
        if (alpha == 0xFF) {
            out[0] = redOf(colour);
            out[1] = greenOf(colour);
            out[2] = blueOf(colour);
            continue;
        }
        out[0] = overWhite(redOf(colour), alpha);
        out[1] = overWhite(greenOf(colour), alpha);
        out[2] = overWhite(blueOf(colour), alpha);
    }
}

// libjpeg leaves by longjmp on any error, so this frame holds nothing that needs cleaning up.
bool compressJpeg(jpeg_compress_struct* info, std::jmp_buf& jump, std::FILE* file, const Picture& picture,
                  int quality, std::uint8_t* row) {
    if (setjmp(jump)) return false;
    jpeg_create_compress(info);
    jpeg_stdio_dest(info, file);
    info->image_width = static_cast<JDIMENSION>(picture.width());
    info->image_height = static_cast<JDIMENSION>(picture.height());
    info->input_components = 3;
    info->in_color_space = JCS_RGB;
    jpeg_set_defaults(info);
    jpeg_set_quality(info, quality, FALSE);
    jpeg_start_compress(info, TRUE);
    JSAMPROW rows[1] = {row};
    for (int y = 0; y < picture.height(); ++y) {
        compositeOverWhite(picture.row(y), picture.width(), row);
        jpeg_write_scanlines(info, rows, 1);
    }
    jpeg_finish_compress(info);
    return true;
}

bool writeJpeg(const Picture& picture, int quality, std::uint8_t* row, std::FILE* file) {
    JpegCompressor compressor;
    return compressJpeg(compressor.info(), compressor.jump(), file, picture, quality, row);
}

// ---- dispatch

// Everything that can be refused or fail before a file is touched: the format, the depth, the sizes, memory.
std::optional<Encoding> prepare(const Picture& picture, std::uint32_t formatCode, int qualityLevel,
                                int depth) {
    if (depth == kPictureDepth) depth = picture.depth();
    if (depth != 32) return std::nullopt;

    Encoding encoding;
    encoding.formatCode = formatCode;
    unsigned long long rowBytes = 4ull * toSize(picture.width());
    switch (formatCode) {
    case FormatBmp:
        if (!fitsBmp(picture)) return std::nullopt;
        break;
    case FormatPng:
        if (picture.depth() != 32) return std::nullopt;
        break;
    case FormatJpeg:
        if (picture.depth() != 32 || picture.width() > JPEG_MAX_DIMENSION ||
            picture.height() > JPEG_MAX_DIMENSION)
            return std::nullopt;
        encoding.jpegQuality = 10 * std::clamp(qualityLevel, 0, kMaxQualityLevel);
        rowBytes = 3ull * toSize(picture.width());
        break;
    default:
        return std::nullopt;
    }
    auto row = makeBytes(rowBytes);
    if (!row) return std::nullopt;
    encoding.row = std::move(*row);
    return encoding;
}

bool encode(const Picture& picture, Encoding& encoding, std::FILE* file) {
    switch (encoding.formatCode) {
    case FormatBmp:
        return writeBmp(picture, encoding.row.data(), file);
    case FormatPng:
        return writePng(picture, encoding.row.data(), file);
    case FormatJpeg:
        return writeJpeg(picture, encoding.jpegQuality, encoding.row.data(), file);
    default:
        return false;
    }
}

} // namespace

bool savePictureWith(const Picture& picture, const std::filesystem::path& fileName, std::uint32_t formatCode,
                     int qualityLevel, int depth, const FileCalls& calls) {
    if (fileName.empty()) return false;
    auto encoding = prepare(picture, formatCode, qualityLevel, depth);
    if (!encoding) return false;
    auto file = AtomicFile::create(fileName, calls);
    if (!file) return false;
    return encode(picture, *encoding, file->stream()) && file->commit();
}

bool savePicture(const Picture& picture, const std::filesystem::path& fileName, std::uint32_t formatCode,
                 int qualityLevel, int depth) {
    return savePictureWith(picture, fileName, formatCode, qualityLevel, depth, FileCalls{});
}

bool writePicture(const Picture& picture, std::FILE* stream, std::uint32_t formatCode, int qualityLevel,
                  int depth) {
    if (!stream) return false;
    auto encoding = prepare(picture, formatCode, qualityLevel, depth);
    if (!encoding) return false;
    return encode(picture, *encoding, stream) && std::fflush(stream) == 0 && !std::ferror(stream);
}

} // namespace quillmark
