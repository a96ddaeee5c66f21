// Rendering a whole screen, against the least any renderer must do: allocate and fill a picture's worth of
// bytes.
#include "teletext/renderer.h"

#include <benchmark/benchmark.h>
#include <vector>

namespace {

using namespace quillmark;

// A busy screen: every row mixes colours, text, both mosaic styles, hold graphics and double height.
std::vector<std::uint8_t> busyScreen() {
    std::vector<std::uint8_t> screen(kScreenBytes);
    for (std::size_t i = 0; i < screen.size(); ++i) {
        const std::size_t column = i % kScreenColumns;
        const std::size_t row = i / kScreenColumns;
        std::uint8_t code = static_cast<std::uint8_t>(0x20 + (i * 7 + row) % 96);
        if (column == 0)
            code = static_cast<std::uint8_t>(row % 4 == 0 ? int{DoubleHeight}
                                                          : AlphaRed + static_cast<int>(row % 7));
        if (column == 10) code = static_cast<std::uint8_t>(MosaicRed + row % 7);
        if (column == 11) code = row % 2 ? SeparatedGraphics : HoldGraphics;
        if (column == 25) code = NewBackground;
        if (column == 26) code = static_cast<std::uint8_t>(AlphaYellow + row % 4);
        screen[i] = code;
    }
    return screen;
}

void RenderScreen(benchmark::State& state) {
    const auto screen = busyScreen();
    const int resolution = static_cast<int>(state.range(0));
    glyphAtlas(); // built once at start-up, not per render
    for (auto _ : state) {
        auto picture = renderScreen(screen, resolution);
        benchmark::DoNotOptimize(picture);
    }
}
BENCHMARK(RenderScreen)->Arg(SmallGlyphs)->Arg(LargeGlyphs)->Unit(benchmark::kMicrosecond);

void RenderScreen_Baseline(benchmark::State& state) {
    const int resolution = static_cast<int>(state.range(0));
    const auto count = static_cast<std::size_t>(kScreenColumns * cellWidth(resolution)) *
                       static_cast<std::size_t>(kScreenRows * cellHeight(resolution));
    for (auto _ : state) {
        std::vector<Colour> pixels(count, 0xFF000000u);
        benchmark::DoNotOptimize(pixels.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(RenderScreen_Baseline)->Arg(SmallGlyphs)->Arg(LargeGlyphs)->Unit(benchmark::kMicrosecond);

} // namespace
