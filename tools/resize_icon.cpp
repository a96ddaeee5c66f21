// resize_icon: shrinks the square program icon to one of the icon theme's sizes at build time.
//
//   resize_icon SOURCE.png SIZE OUTPUT.png
//
// Each output pixel is the average of the source pixels it covers, weighted by how much of each it covers.
// The average is taken in linear light with premultiplied alpha, so transparent pixels lend no colour to the
// edges and fine dark and light detail keep their brightness when they merge. Colours are converted here in
// double precision rather than by libpng's 16-bit linear formats, whose round trip moves some 8-bit values:
// a flat area must come out exactly the colour it went in.
#include "tools/png_image.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <png.h>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kChannels = 4;
constexpr int kAlpha = 3;
// Larger than any icon; keeps the buffer sizes far from overflow.
constexpr png_uint_32 kMaxSide = 8192;

// 8-bit sRGB samples with straight alpha, RGBA, row by row.
struct Square {
    int side = 0;
    std::vector<std::uint8_t> samples;
};

int fail(const std::string& message) {
    std::fprintf(stderr, "resize_icon: %s\n", message.c_str());
    return EXIT_FAILURE;
}

bool readSquare(const char* fileName, Square& square, std::string& error) {
    PngImage image;
    if (png_image_begin_read_from_file(image.get(), fileName) == 0) {
        error = std::string(fileName) + ": " + image->message;
        return false;
    }
    if (image->width != image->height || image->width == 0 || image->width > kMaxSide) {
        error =
            std::string(fileName) + ": not a square icon of at most " + std::to_string(kMaxSide) + " pixels";
        return false;
    }
    image->format = PNG_FORMAT_RGBA;
    square.side = static_cast<int>(image->width);
    square.samples.resize(static_cast<std::size_t>(square.side) * static_cast<std::size_t>(square.side) *
                          kChannels);
    if (png_image_finish_read(image.get(), nullptr, square.samples.data(), 0, nullptr) == 0) {
        error = std::string(fileName) + ": " + image->message;
        return false;
    }
    return true;
}

bool writeSquare(const char* fileName, const Square& square, std::string& error) {
    PngImage image;
    image->width = static_cast<png_uint_32>(square.side);
    image->height = static_cast<png_uint_32>(square.side);
    image->format = PNG_FORMAT_RGBA;
    if (png_image_write_to_file(image.get(), fileName, 0, square.samples.data(), 0, nullptr) == 0) {
        error = std::string(fileName) + ": " + image->message;
        return false;
    }
    return true;
}

double linearFromSrgb(std::uint8_t value) {
    const double v = value / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

std::uint8_t srgbFromLinear(double value) {
    const double v = value <= 0.0031308 ? value * 12.92 : 1.055 * std::pow(value, 1.0 / 2.4) - 0.055;
    return static_cast<std::uint8_t>(std::clamp(std::lround(v * 255.0), 0L, 255L));
}

// Which source pixels an output pixel covers along one axis, and by how much. Lengths are counted in units
// where an output pixel is sourceSide long and a source pixel side long, so every overlap is a whole number.
struct Overlap {
    int source;
    double length;
};

std::vector<std::vector<Overlap>> overlaps(int sourceSide, int side) {
    std::vector<std::vector<Overlap>> result(static_cast<std::size_t>(side));
    for (int i = 0; i < side; ++i) {
        const std::int64_t begin = std::int64_t{i} * sourceSide;
        const std::int64_t end = begin + sourceSide;
        for (std::int64_t s = begin / side; s * side < end; ++s) {
            const std::int64_t length = std::min(end, (s + 1) * side) - std::max(begin, s * side);
            if (length > 0)
                result[static_cast<std::size_t>(i)].push_back(
                    {static_cast<int>(s), static_cast<double>(length)});
        }
    }
    return result;
}

// Each output pixel is the area-weighted average of the source pixels under it.
Square shrink(const Square& source, int side) {
    std::array<double, 256> linear{};
    for (int value = 0; value < 256; ++value)
        linear[static_cast<std::size_t>(value)] = linearFromSrgb(static_cast<std::uint8_t>(value));

    const std::vector<std::vector<Overlap>> cover = overlaps(source.side, side);
    const auto stride = static_cast<std::size_t>(source.side) * kChannels;
    // Every output pixel's overlaps add up to its area in these units: sourceSide squared.
    const double area = static_cast<double>(source.side) * static_cast<double>(source.side);
    Square result;
    result.side = side;
    result.samples.resize(static_cast<std::size_t>(side) * static_cast<std::size_t>(side) * kChannels);
    std::uint8_t* out = result.samples.data();
    for (const std::vector<Overlap>& rows : cover) {
        for (const std::vector<Overlap>& columns : cover) {
            std::array<double, kChannels> sums{}; // premultiplied linear colour, then alpha
            for (const Overlap& row : rows) {
                const std::uint8_t* line =
                    source.samples.data() + static_cast<std::size_t>(row.source) * stride;
                for (const Overlap& column : columns) {
                    const std::uint8_t* in = line + static_cast<std::size_t>(column.source) * kChannels;
                    const double weight = row.length * column.length;
                    const double alpha = in[kAlpha] / 255.0;
                    for (std::size_t channel = 0; channel < kAlpha; ++channel)
                        sums[channel] += weight * alpha * linear[in[channel]];
                    sums[kAlpha] += weight * alpha;
                }
            }
            const double alpha = sums[kAlpha] / area;
            for (std::size_t channel = 0; channel < kAlpha; ++channel)
                *out++ = alpha > 0 ? srgbFromLinear(sums[channel] / sums[kAlpha]) : 0;
            *out++ = static_cast<std::uint8_t>(std::clamp(std::lround(alpha * 255.0), 0L, 255L));
        }
    }
    return result;
}

bool parseSide(const char* text, int& side) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > static_cast<long>(kMaxSide)) return false;
    side = static_cast<int>(value);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) return fail("usage: resize_icon SOURCE.png SIZE OUTPUT.png");
    int side = 0;
    if (!parseSide(argv[2], side)) return fail(std::string("not a size: ") + argv[2]);

    Square source;
    std::string error;
    if (!readSquare(argv[1], source, error)) return fail(error);
    if (side > source.side)
        return fail(std::to_string(side) + " is larger than the source's side of " +
                    std::to_string(source.side));
    if (!writeSquare(argv[3], shrink(source, side), error)) return fail(error);
    return EXIT_SUCCESS;
}
