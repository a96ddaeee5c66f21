#include "pictures/picture.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace quillmark {
namespace {

TEST(PixelBuffer, RefusesSizesThatAreNotPositiveAsSixteenBitValues) {
    for (auto [width, height] : {std::pair{0, 10}, {-5, 10}, {40000, 10}, {10, 0}, {10, 65535}}) {
        PixelBuffer buffer;
        buffer.pixels = {1, 2, 3};
        buffer.width = 3;
        buffer.height = 1;
        EXPECT_FALSE(allocatePixelBuffer(buffer, width, height)) << width << " x " << height;
        EXPECT_EQ(buffer.pixels, (PixelBlock{1, 2, 3})) << "the record is left as it was";
        EXPECT_EQ(buffer.width, 3);
        EXPECT_EQ(buffer.height, 1);
    }
}

TEST(PixelBuffer, AllocatesAZeroFilledBlockOfTheScreenSize) {
    PixelBuffer buffer;
    ASSERT_TRUE(allocatePixelBuffer(buffer, 240, 250));
    EXPECT_EQ(buffer.pixels.size() * sizeof(Colour), 4u * 240 * 250);
    EXPECT_TRUE(std::all_of(buffer.pixels.begin(), buffer.pixels.end(), [](Colour c) { return c == 0; }));
    EXPECT_EQ(buffer.width, 240);
    EXPECT_EQ(buffer.height, 250);
    EXPECT_EQ(buffer.depth, 32);
}

TEST(PixelBuffer, RoundTripsThroughAPictureWithAlpha) {
    PixelBuffer buffer;
    ASSERT_TRUE(allocatePixelBuffer(buffer, 3, 2));
    buffer.pixels = {0x800000FF, 0xFF00FF00, 0x00FF0000, 0x12345678, 0xFFFFFFFF, 0};
    auto picture = pixelBufferToPicture(buffer);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->depth(), 32);
    EXPECT_EQ(picture->pixel(0, 0), 0x800000FFu);
    EXPECT_EQ(picture->pixel(0, 1), 0x12345678u) << "row by row from the top left";

    PixelBuffer back;
    ASSERT_TRUE(pictureToPixelBuffer(*picture, back));
    EXPECT_EQ(back.pixels, buffer.pixels);
    EXPECT_EQ(back.width, 3);
    EXPECT_EQ(back.height, 2);
}

TEST(PixelBuffer, RefusesABufferWithoutABlockOrOfAnotherDepth) {
    PixelBuffer buffer;
    EXPECT_FALSE(pixelBufferToPicture(buffer));
    ASSERT_TRUE(allocatePixelBuffer(buffer, 4, 4));
    buffer.depth = 24;
    EXPECT_FALSE(pixelBufferToPicture(buffer));
}

TEST(Picture, TwentyFourBitPixelsReadWithoutAlphaAndConvertAsOpaque) {
    auto picture = Picture::create(2, 1, 24);
    ASSERT_TRUE(picture);
    picture->setPixel(0, 0, 0x80123456);
    EXPECT_EQ(picture->pixel(0, 0), 0x00123456u);
    PixelBuffer buffer;
    ASSERT_TRUE(pictureToPixelBuffer(*picture, buffer));
    EXPECT_EQ(buffer.pixels[0], 0xFF123456u);
    EXPECT_EQ(buffer.pixels[1], 0xFF000000u) << "black reads as opaque black";
}

TEST(Picture, RefusesImpossibleSizesAndDepths) {
    EXPECT_FALSE(Picture::create(0, 5));
    EXPECT_FALSE(Picture::create(5, -1));
    EXPECT_FALSE(Picture::create(5, 5, 16));
    EXPECT_FALSE(Picture::adopt(PixelBlock(5), 2, 3));
}

TEST(Picture, DoublingRepeatsEveryPixelAsATwoByTwoSquare) {
    auto picture = Picture::create(240, 250);
    ASSERT_TRUE(picture);
    for (int y = 0; y < 250; ++y)
        for (int x = 0; x < 240; ++x)
            picture->setPixel(x, y, static_cast<Colour>(y * 1000 + x));
    ASSERT_TRUE(picture->resize(480, 500));
    ASSERT_EQ(picture->width(), 480);
    ASSERT_EQ(picture->height(), 500);
    for (int y = 0; y < 500; ++y)
        for (int x = 0; x < 480; ++x)
            ASSERT_EQ(picture->pixel(x, y), static_cast<Colour>((y / 2) * 1000 + x / 2));
}

TEST(Picture, ResizeToItsOwnSizeChangesNothing) {
    auto picture = Picture::create(3, 3);
    ASSERT_TRUE(picture);
    picture->setPixel(1, 2, 0xFF0000FF);
    const Picture before = *picture;
    ASSERT_TRUE(picture->resize(3, 3));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(picture->pixel(x, y), before.pixel(x, y));
}

TEST(Picture, UnevenScalingRepeatsWholeColumnsSpreadEvenly) {
    auto picture = Picture::create(4, 1);
    ASSERT_TRUE(picture);
    for (int x = 0; x < 4; ++x)
        picture->setPixel(x, 0, static_cast<Colour>(x));
    ASSERT_TRUE(picture->resize(6, 1));
    std::vector<Colour> columns;
    for (int x = 0; x < 6; ++x)
        columns.push_back(picture->pixel(x, 0));
    EXPECT_TRUE(std::is_sorted(columns.begin(), columns.end()));
    for (Colour c = 0; c < 4; ++c) {
        const auto repeats = std::count(columns.begin(), columns.end(), c);
        EXPECT_TRUE(repeats == 1 || repeats == 2) << "column " << c << " shown " << repeats << " times";
    }
    EXPECT_FALSE(picture->resize(0, 1));
    EXPECT_EQ(picture->width(), 6) << "a refused resize leaves the picture as it was";
}

} // namespace
} // namespace quillmark
