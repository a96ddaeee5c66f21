#include "pictures/picture.h"

#include <limits>
#include <new>

namespace quillmark {

namespace {

// Positive sizes whose pixel count fits both size_t and the byte count of a block of Colour values.
bool validSize(int width, int height) {
    if (width <= 0 || height <= 0) return false;
    const auto count = static_cast<unsigned long long>(width) * static_cast<unsigned long long>(height);
    return count <= std::numeric_limits<std::size_t>::max() / sizeof(Colour);
}

// Zeroed only on request: most blocks are written whole straight away.
std::optional<PixelBlock> makeBlock(std::size_t count, bool zeroed = false) {
    try {
        return zeroed ? PixelBlock(count, 0) : PixelBlock(count);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

std::size_t pixelCount(int width, int height) {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

// Which source column or row a destination one shows: the one under its centre.
int nearestSource(int destination, int sourceSize, int destinationSize) {
    const auto numerator = (2 * static_cast<long long>(destination) + 1) * sourceSize;
    return static_cast<int>(numerator / (2 * static_cast<long long>(destinationSize)));
}

} // namespace

std::optional<Picture> Picture::create(int width, int height, int depth) {
    if (!validSize(width, height) || (depth != 24 && depth != 32)) return std::nullopt;
    auto block = makeBlock(pixelCount(width, height), true);
    if (!block) return std::nullopt;
    return Picture(width, height, depth, std::move(*block));
}

std::optional<Picture> Picture::adopt(PixelBlock&& pixels, int width, int height) {
    if (!validSize(width, height) || pixels.size() != pixelCount(width, height)) return std::nullopt;
    return Picture(width, height, 32, std::move(pixels));
}

bool Picture::resize(int newWidth, int newHeight) {
    if (!validSize(newWidth, newHeight)) return false;
    if (newWidth == width_ && newHeight == height_) return true;
    auto block = makeBlock(pixelCount(newWidth, newHeight));
    if (!block) return false;

    std::vector<int> sourceColumns(static_cast<std::size_t>(newWidth));
    for (int x = 0; x < newWidth; ++x)
        sourceColumns[static_cast<std::size_t>(x)] = nearestSource(x, width_, newWidth);
    Colour* out = block->data();
    for (int y = 0; y < newHeight; ++y) {
        const Colour* in = row(nearestSource(y, height_, newHeight));
        for (int column : sourceColumns)
            *out++ = in[column];
    }
    pixels_ = std::move(*block);
    width_ = newWidth;
    height_ = newHeight;
    return true;
}

bool allocatePixelBuffer(PixelBuffer& buffer, int width, int height, bool zeroed) {
    const auto width16 = static_cast<std::int16_t>(width);
    const auto height16 = static_cast<std::int16_t>(height);
    if (width16 <= 0 || height16 <= 0) return false;
    auto block = makeBlock(pixelCount(width16, height16), zeroed);
    if (!block) {
        buffer.pixels.clear();
        return false;
    }
    buffer.pixels = std::move(*block);
    buffer.width = width16;
    buffer.height = height16;
    buffer.depth = 32;
    return true;
}

namespace {

bool convertible(const PixelBuffer& buffer) {
    return buffer.depth == 32 && buffer.width > 0 && buffer.height > 0 &&
           buffer.pixels.size() == pixelCount(buffer.width, buffer.height);
}

} // namespace

std::optional<Picture> pixelBufferToPicture(const PixelBuffer& buffer) {
    if (!convertible(buffer)) return std::nullopt;
    auto block = makeBlock(buffer.pixels.size());
    if (!block) return std::nullopt;
    *block = buffer.pixels;
    return Picture::adopt(std::move(*block), buffer.width, buffer.height);
}

std::optional<Picture> pixelBufferToPicture(PixelBuffer&& buffer) {
    if (!convertible(buffer)) return std::nullopt;
    return Picture::adopt(std::move(buffer.pixels), buffer.width, buffer.height);
}

bool pictureToPixelBuffer(const Picture& picture, PixelBuffer& buffer) {
    buffer.pixels.clear();
    if (picture.width() > std::numeric_limits<std::int16_t>::max() ||
        picture.height() > std::numeric_limits<std::int16_t>::max())
        return false;
    auto block = makeBlock(pixelCount(picture.width(), picture.height()));
    if (!block) return false;
    const Colour opaque = picture.depth() == 32 ? 0 : 0xFF000000u;
    Colour* out = block->data();
    for (int y = 0; y < picture.height(); ++y) {
        const Colour* in = picture.row(y);
        for (int x = 0; x < picture.width(); ++x)
            *out++ = in[x] | opaque;
    }
    buffer.pixels = std::move(*block);
    buffer.width = static_cast<std::int16_t>(picture.width());
    buffer.height = static_cast<std::int16_t>(picture.height());
    buffer.depth = 32;
    return true;
}

} // namespace quillmark
