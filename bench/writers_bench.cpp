// The PNG and JPEG writers, each against its library doing the same compression on its own: the writers'
// own work (row conversion, compositing, the calls around the library) should add little.
#include "pictures/picture_writers.h"
#include "teletext/renderer.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#include <string_view>
#include <vector>
#include <zlib.h>

namespace {

using namespace quillmark;

// A page as a teletext service would show it: a banner on a coloured background, a double-height title,
// coloured text and a block of mosaic graphics.
std::vector<std::uint8_t> pageScreen() {
    std::vector<std::uint8_t> screen(kScreenBytes, ' ');
    auto put = [&](int row, int column, std::string_view text) {
        for (char c : text)
            if (column < kScreenColumns)
                screen[static_cast<std::size_t>(row * kScreenColumns + column++)] = c;
    };
    auto code = [&](int row, int column, std::uint8_t value) {
        screen[static_cast<std::size_t>(row * kScreenColumns + column)] = value;
    };
    code(0, 0, AlphaBlue);
    code(0, 1, NewBackground);
    code(0, 2, AlphaYellow);
    put(0, 3, "P100  QUILLMARK NEWS    Mon 01 Jan");
    for (int row : {2, 3}) {
        code(row, 0, DoubleHeight);
        code(row, 1, AlphaCyan);
        put(row, 3, "Headlines of the day");
    }
    const std::string_view lines[] = {"Weather: bright spells, showers later",
                                      "Markets close higher on the week", "Travel: delays on the coast road",
                                      "Sport: all the results at 300"};
    for (int row = 5; row < 13; ++row) {
        code(row, 0, static_cast<std::uint8_t>(AlphaRed + row % 7));
        put(row, 2, lines[row % 4]);
    }
    for (int row = 14; row < 23; ++row) {
        code(row, 0, static_cast<std::uint8_t>(MosaicRed + row % 7));
        code(row, 1, row % 3 ? ContiguousGraphics : SeparatedGraphics);
        for (int column = 2; column < kScreenColumns; ++column)
            code(row, column,
                 static_cast<std::uint8_t>(0x20 + ((row * 5 + column * 3) % 32) + (column % 2 ? 0x40 : 0)));
    }
    code(24, 0, AlphaGreen);
    put(24, 1, "Next page 101   Index 100");
    return screen;
}

Picture pagePicture() {
    return renderScreen(pageScreen(), LargeGlyphs).value();
}

// Where the writers' output goes: nowhere, so that the disk does not take part.
struct NullStream {
    std::FILE* file = std::fopen("/dev/null", "wb");
    NullStream(const NullStream&) = delete;
    NullStream& operator=(const NullStream&) = delete;
    NullStream() = default;
    ~NullStream() {
        if (file) std::fclose(file);
    }
};

void WritePng(benchmark::State& state) {
    const Picture picture = pagePicture();
    NullStream out;
    for (auto _ : state)
        if (!writePicture(picture, out.file, FormatPng)) state.SkipWithError("the PNG writer failed");
}
BENCHMARK(WritePng)->Unit(benchmark::kMillisecond);

// What libpng hands zlib: each row with its filter byte 0, then red, green, blue, alpha.
void WritePng_Baseline(benchmark::State& state) {
    const Picture picture = pagePicture();
    std::vector<std::uint8_t> rows;
    for (int y = 0; y < picture.height(); ++y) {
        rows.push_back(0);
        for (int x = 0; x < picture.width(); ++x) {
            const Colour colour = picture.pixel(x, y);
            for (int shift : {0, 8, 16, 24})
                rows.push_back(static_cast<std::uint8_t>(colour >> shift));
        }
    }
    std::vector<std::uint8_t> compressed(compressBound(rows.size()));
    for (auto _ : state) {
        uLongf size = compressed.size();
        if (compress2(compressed.data(), &size, rows.data(), rows.size(), 9) != Z_OK)
            state.SkipWithError("compress2 failed");
        benchmark::DoNotOptimize(compressed.data());
    }
}
BENCHMARK(WritePng_Baseline)->Unit(benchmark::kMillisecond);

void WriteJpeg(benchmark::State& state) {
    const Picture picture = pagePicture();
    NullStream out;
    for (auto _ : state)
        if (!writePicture(picture, out.file, FormatJpeg, 10)) state.SkipWithError("the JPEG writer failed");
}
BENCHMARK(WriteJpeg)->Unit(benchmark::kMillisecond);

// libjpeg alone on the picture's RGB rows, with the writer's settings and destination.
void WriteJpeg_Baseline(benchmark::State& state) {
    const Picture picture = pagePicture();
    const auto rowBytes = 3 * static_cast<std::size_t>(picture.width());
    std::vector<std::uint8_t> rgb;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const Colour colour = picture.pixel(x, y);
            for (int shift : {0, 8, 16})
                rgb.push_back(static_cast<std::uint8_t>(colour >> shift));
        }
    NullStream out;
    for (auto _ : state) {
        jpeg_compress_struct info{};
        jpeg_error_mgr errors{};
        info.err = jpeg_std_error(&errors);
        jpeg_create_compress(&info);
        jpeg_stdio_dest(&info, out.file);
        info.image_width = static_cast<JDIMENSION>(picture.width());
        info.image_height = static_cast<JDIMENSION>(picture.height());
        info.input_components = 3;
        info.in_color_space = JCS_RGB;
        jpeg_set_defaults(&info);
        jpeg_set_quality(&info, 100, FALSE);
        jpeg_start_compress(&info, TRUE);
        while (info.next_scanline < info.image_height) {
            JSAMPROW row = rgb.data() + info.next_scanline * rowBytes;
            jpeg_write_scanlines(&info, &row, 1);
        }
        jpeg_finish_compress(&info);
        jpeg_destroy_compress(&info);
    }
}
BENCHMARK(WriteJpeg_Baseline)->Unit(benchmark::kMillisecond);

} // namespace
