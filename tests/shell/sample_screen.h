// A screen with text, double height, mosaics and a background in several colours, and what the main window
// should show for it.
#pragma once

#include "pictures/picture.h"
#include "shell/picture_view.h"
#include "teletext/renderer.h"

#include <QFile>
#include <QImage>
#include <QString>
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace quillmark::testing {

using Screen = std::array<std::uint8_t, kScreenBytes>;

inline Screen sampleScreen() {
    Screen screen{};
    screen.fill(' ');
    auto put = [&screen](int row, int column, std::initializer_list<std::uint8_t> codes) {
        std::size_t at = static_cast<std::size_t>(row * kScreenColumns + column);
        for (std::uint8_t code : codes)
            screen[at++] = code;
    };
    auto text = [&screen](int row, int column, std::string_view letters) {
        std::size_t at = static_cast<std::size_t>(row * kScreenColumns + column);
        for (char letter : letters)
            screen[at++] = static_cast<std::uint8_t>(letter);
    };
    put(0, 0, {AlphaYellow});
    text(0, 1, "QUILLMARK  AVWXYZ /\\ 0123456789 kmswz");
    put(2, 0, {DoubleHeight, AlphaCyan});
    text(2, 2, "DOUBLE HEIGHT  <>  %&@#");
    put(3, 0, {DoubleHeight, AlphaCyan});
    text(3, 2, "DOUBLE HEIGHT  <>  %&@#");
    put(5, 0, {MosaicRed, 0x7F, 0x7F, 0x35, 0x6A, MosaicGreen, SeparatedGraphics, 0x7F, 0x2C, 0x73});
    put(6, 0, {AlphaBlue, NewBackground, AlphaWhite});
    text(6, 3, "White on blue, with diagonals: xvVkK");
    put(8, 0, {MosaicMagenta, HoldGraphics, 0x7F, DoubleHeight, MosaicCyan, 0x6C, ReleaseGraphics, 0x23});
    for (int row = 10; row < kScreenRows; ++row) {
        put(row, 0, {static_cast<std::uint8_t>(AlphaRed + row % 7)});
        text(row, 1, "The quick brown fox jumps over 13 dogs.");
    }
    return screen;
}

// What the picture view shows for a screen: the rendered picture, small glyphs doubled to 480 x 500.
inline QImage shownImage(std::span<const std::uint8_t> screen, bool rounding) {
    std::optional<Picture> picture = renderScreen(screen, rounding ? LargeGlyphs : SmallGlyphs);
    if (!picture || (!rounding && !picture->resize(PictureView::kWidth, PictureView::kHeight))) return {};
    return toImage(*picture);
}

inline bool writeFile(const QString& name, std::span<const std::uint8_t> bytes) {
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly)) return false;
    const auto size = static_cast<qint64>(bytes.size());
    return file.write(reinterpret_cast<const char*>(bytes.data()), size) == size;
}

} // namespace quillmark::testing
