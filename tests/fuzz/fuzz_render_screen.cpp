// Any bytes, read as a screen file is read, rendered at both resolutions. Every output byte is summed so that
// a pixel the renderer forgot to write shows up under the sanitizers.
#include "pictures/screen_file.h"
#include "teletext/renderer.h"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace {

// Kept out of coverage: a traced compare per pixel would cost more than rendering.
__attribute__((no_sanitize("coverage"))) unsigned sumOpaquePixels(const quillmark::Picture& picture) {
    unsigned sum = 0;
    unsigned alpha = 0xFF;
    for (int y = 0; y < picture.height(); ++y) {
        const quillmark::Colour* row = picture.row(y);
        for (int x = 0; x < picture.width(); ++x) {
            sum += row[x];
            alpha &= row[x] >> 24;
        }
    }
    if (alpha != 0xFF) std::abort(); // every rendered pixel is opaque
    return sum;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillmark;
    std::array<std::uint8_t, kScreenBufferBytes> buffer{};
    std::FILE* stream = size ? fmemopen(const_cast<std::uint8_t*>(data), size, "rb") : nullptr;
    if (stream) {
        const ScreenRead read = readScreenStream(stream, buffer);
        std::fclose(stream);
        if (read && read.bytesRead != std::min(size, buffer.size())) std::abort();
    }
    unsigned sum = 0;
    for (int resolution : {SmallGlyphs, LargeGlyphs}) {
        const auto picture = renderScreen(buffer, resolution);
        if (!picture || picture->width() != kScreenColumns * cellWidth(resolution)) std::abort();
        sum += sumOpaquePixels(*picture);
    }
    // Direct bytes of any length too: positions past the end read as spaces.
    if (auto small = renderScreen(std::span(data, size), SmallGlyphs)) sum += small->pixel(239, 249);
    volatile unsigned sink = sum;
    (void)sink;
    return 0;
}
