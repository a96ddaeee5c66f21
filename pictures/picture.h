// Pictures and pixel buffers: the only pixel types the core knows.
#pragma once

#include <cstdint>
#include <new>
#include <optional>
#include <utility>
#include <vector>

namespace quillmark {

// A colour as 0xAABBGGRR: red in the low byte, alpha in the high byte.
using Colour = std::uint32_t;

// Leaves elements made without a value uninitialised: whoever makes such a block writes every element
// anyway, and a picture's worth of zeros costs as much again as drawing it.
template <class T> struct UninitialisedAllocator : std::allocator<T> {
    template <class U> struct rebind { using other = UninitialisedAllocator<U>; };
    UninitialisedAllocator() = default;
    template <class U> UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    template <class U> void construct(U* place) noexcept { ::new (static_cast<void*>(place)) U; }
    template <class U, class... Args> void construct(U* place, Args&&... args) {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
};

// Colour values row by row from the top left. PixelBlock(n) leaves them uninitialised; PixelBlock(n, 0)
// zeroes them.
using PixelBlock = std::vector<Colour, UninitialisedAllocator<Colour>>;

// A picture of 24 or 32 bits per pixel, (0, 0) at the top left. Pixels are kept as Colour values
// whatever the depth; a 24-bit picture has no alpha channel, so its pixels read back with alpha 0.
// Copying a picture duplicates it.
class Picture {
public:
    // No picture when width or height is not positive, depth is neither 24 nor 32, or memory runs out.
    // Every pixel starts as 0.
    static std::optional<Picture> create(int width, int height, int depth = 32);
    // Takes over a block of width x height colour values, row by row from the top left. No picture when
    // the sizes disagree or are not positive.
    static std::optional<Picture> adopt(PixelBlock&& pixels, int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    int depth() const { return depth_; }

    // All four channels; x and y must lie inside the picture.
    Colour pixel(int x, int y) const { return pixels_[index(x, y)]; }
    // Stores the value unchanged on a 32-bit picture; a 24-bit picture drops the alpha byte.
    void setPixel(int x, int y, Colour colour) {
        pixels_[index(x, y)] = depth_ == 32 ? colour : colour & 0x00FFFFFFu;
    }

    // Row y, width() values. Writers read pixels where they lie through these.
    const Colour* row(int y) const { return pixels_.data() + index(0, y); }

    // Nearest-neighbour resize: every new pixel takes the colour of exactly one old pixel, so an
    // enlargement by a whole factor repeats each pixel as a square. Same size changes nothing.
    // False, and the picture unchanged, when a size is not positive or memory runs out.
    bool resize(int newWidth, int newHeight);

private:
    Picture(int width, int height, int depth, PixelBlock&& pixels)
        : width_(width), height_(height), depth_(depth), pixels_(std::move(pixels)) {}
    std::size_t index(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x);
    }

    int width_;
    int height_;
    int depth_;
    PixelBlock pixels_;
};

// A plain block of colour values with its size: what glyph extraction and rendering draw on.
struct PixelBuffer {
    PixelBlock pixels; // width x height values, row by row from the top left; empty when none
    std::int16_t width = 0;
    std::int16_t height = 0;
    std::uint8_t depth = 32;
};

// Gives the buffer a zero-filled block, or with zeroed false one left for a caller that writes every value.
// Width and height count as signed 16-bit values: 0 or less (40000 included) fails and leaves the buffer as
// it was; so does running out of memory, with pixels left empty.
bool allocatePixelBuffer(PixelBuffer& buffer, int width, int height, bool zeroed = true);

// A new 32-bit picture holding the buffer's values, alpha included. No picture for a buffer without a block,
// with a size of 0 or less, or with a depth other than 32. The rvalue form hands the block over.
std::optional<Picture> pixelBufferToPicture(const PixelBuffer& buffer);
std::optional<Picture> pixelBufferToPicture(PixelBuffer&& buffer);

// Fills the buffer with a new block read from the picture. Pixels of a picture that is not 32-bit read as
// opaque. Fails, with pixels empty, when memory runs out or the picture is too large for 16-bit sizes.
bool pictureToPixelBuffer(const Picture& picture, PixelBuffer& buffer);

} // namespace quillmark
