// The BMP reader only ever sees the embedded glyph sheets, but it must refuse anything else cleanly.
#include "pictures/bmp_reader.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillmark;
    const auto picture = readBmp(std::span(data, size));
    if (!picture) return 0;
    if (picture->width() <= 0 || picture->height() <= 0 || picture->depth() != 24) std::abort();
    unsigned sum = 0;
    for (int y = 0; y < picture->height(); ++y)
        for (int x = 0; x < picture->width(); ++x)
            sum += picture->pixel(x, y);
    volatile unsigned sink = sum;
    (void)sink;
    return 0;
}
