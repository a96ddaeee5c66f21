// The build-time tool that makes the icon theme's sizes from the program icon, run as the build runs it.
#include "tools/png_image.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <png.h>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Rgba {
    std::uint8_t red, green, blue, alpha;
    bool operator==(const Rgba&) const = default;
};

const Rgba kTransparent{0, 0, 0, 0};
const Rgba kWhite{255, 255, 255, 255};
const Rgba kBlack{0, 0, 0, 255};
const Rgba kTeal{0, 128, 128, 255};

struct Square {
    int width = 0;
    int height = 0;
    std::vector<Rgba> pixels;
    Rgba at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
};

void PrintTo(const Rgba& colour, std::ostream* out) {
    *out << "(" << int{colour.red} << ", " << int{colour.green} << ", " << int{colour.blue} << ", "
         << int{colour.alpha} << ")";
}

bool writePng(const fs::path& file, const Square& square) {
    PngImage image;
    image.get()->width = static_cast<png_uint_32>(square.width);
    image.get()->height = static_cast<png_uint_32>(square.height);
    image.get()->format = PNG_FORMAT_RGBA;
    return png_image_write_to_file(image.get(), file.c_str(), 0, square.pixels.data(), 0, nullptr) != 0;
}

std::optional<Square> readPng(const fs::path& file) {
    PngImage image;
    if (png_image_begin_read_from_file(image.get(), file.c_str()) == 0) return std::nullopt;
    image.get()->format = PNG_FORMAT_RGBA;
    Square square;
    square.width = static_cast<int>(image.get()->width);
    square.height = static_cast<int>(image.get()->height);
    square.pixels.resize(static_cast<std::size_t>(square.width) * static_cast<std::size_t>(square.height));
    if (png_image_finish_read(image.get(), nullptr, square.pixels.data(), 0, nullptr) == 0)
        return std::nullopt;
    return square;
}

Square filled(int side, Rgba colour) {
    return {side, side, std::vector<Rgba>(static_cast<std::size_t>(side * side), colour)};
}

// Each pixel chosen from its position.
template <class Pick> Square patterned(int side, Pick pick) {
    Square square = filled(side, kTransparent);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            square.pixels[static_cast<std::size_t>(y * side + x)] = pick(x, y);
    return square;
}

class ResizeIcon : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "resize_icon_test.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    fs::path file(const std::string& name) const { return folder_ / name; }

    // The tool's exit status for the arguments, each quoted for the shell.
    static int run(const std::vector<std::string>& arguments) {
        std::string command = "'" QUILLMARK_RESIZE_ICON "'";
        for (const std::string& argument : arguments)
            command += " '" + argument + "'";
        command += " 2>/dev/null";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::optional<Square> shrink(const Square& source, int side) {
        if (!writePng(file("source.png"), source)) return std::nullopt;
        if (run({file("source.png"), std::to_string(side), file("out.png")}) != 0) return std::nullopt;
        return readPng(file("out.png"));
    }

    fs::path folder_;
};

TEST_F(ResizeIcon, OneColourStaysExactlyThatColourAtEverySize) {
    for (const Rgba colour : {kWhite, kBlack, kTeal, Rgba{200, 30, 90, 255}}) {
        for (const int side : {1, 2, 3, 6, 8, 16}) {
            const auto result = shrink(filled(16, colour), side);
            ASSERT_TRUE(result) << side;
            ASSERT_EQ(result->width, side);
            ASSERT_EQ(result->height, side);
            for (const Rgba pixel : result->pixels)
                ASSERT_EQ(pixel, colour) << "side " << side;
        }
    }
}

TEST_F(ResizeIcon, EachOutputPixelAveragesOnlyItsOwnBlock) {
    // Four quadrants of different colours shrink to four pixels of those colours.
    const Square quadrants = patterned(8, [](int x, int y) {
        if (y < 4) return x < 4 ? kWhite : kBlack;
        return x < 4 ? kTeal : kTransparent;
    });
    const auto result = shrink(quadrants, 2);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->at(0, 0), kWhite);
    EXPECT_EQ(result->at(1, 0), kBlack);
    EXPECT_EQ(result->at(0, 1), kTeal);
    EXPECT_EQ(result->at(1, 1).alpha, 0);
}

TEST_F(ResizeIcon, ASizeThatDoesNotDivideTheSourceWeighsPixelsByHowMuchTheyCover) {
    // Four columns into three: the middle output column covers two thirds of white column 1 and two thirds of
    // black column 2, so it is half white and half black; the outer ones cover only white or only black.
    const Square halves = patterned(4, [](int x, int) { return x < 2 ? kWhite : kBlack; });
    const auto result = shrink(halves, 3);
    ASSERT_TRUE(result);
    for (int y = 0; y < 3; ++y) {
        EXPECT_EQ(result->at(0, y), kWhite);
        EXPECT_NEAR(result->at(1, y).red, 188, 1);
        EXPECT_EQ(result->at(2, y), kBlack);
    }
}

TEST_F(ResizeIcon, TransparentPixelsLendNoColourToAnEdge) {
    // One white pixel in four, the rest transparent black: a quarter-covered white, not a grey.
    const Square corner =
        patterned(4, [](int x, int y) { return x % 2 == 0 && y % 2 == 0 ? kWhite : kTransparent; });
    const auto result = shrink(corner, 2);
    ASSERT_TRUE(result);
    for (const Rgba pixel : result->pixels) {
        EXPECT_NEAR(pixel.alpha, 64, 1);
        EXPECT_EQ(pixel.red, 255);
        EXPECT_EQ(pixel.green, 255);
        EXPECT_EQ(pixel.blue, 255);
    }
}

TEST_F(ResizeIcon, FineBlackAndWhiteDetailKeepsItsBrightness) {
    // Averaged in light, half black and half white is sRGB 188, where averaging the stored values gives 128.
    const Square checks = patterned(4, [](int x, int y) { return (x + y) % 2 == 0 ? kWhite : kBlack; });
    const auto result = shrink(checks, 1);
    ASSERT_TRUE(result);
    const Rgba pixel = result->at(0, 0);
    EXPECT_NEAR(pixel.red, 188, 1);
    EXPECT_EQ(pixel.green, pixel.red);
    EXPECT_EQ(pixel.blue, pixel.red);
    EXPECT_EQ(pixel.alpha, 255);
}

TEST_F(ResizeIcon, RefusesWhatItCannotMakeAndWritesNothing) {
    ASSERT_TRUE(writePng(file("square.png"), filled(16, kTeal)));
    const Square wide{16, 8, std::vector<Rgba>(16 * 8, kTeal)};
    ASSERT_TRUE(writePng(file("wide.png"), wide));
    {
        std::FILE* text = std::fopen(file("text.png").c_str(), "w");
        ASSERT_NE(text, nullptr);
        std::fputs("not a picture\n", text);
        std::fclose(text);
    }
    const std::string out = file("out.png");
    const std::array<std::vector<std::string>, 8> refused = {{
        {file("square.png"), "32", out},     // larger than the source
        {file("square.png"), "0", out},      // no size
        {file("square.png"), "16px", out},   // not a number
        {file("wide.png"), "8", out},        // not square
        {file("missing.png"), "8", out},     // no such file
        {file("text.png"), "8", out},        // not a PNG file
        {file("square.png"), "8"},           // no output
        {file("square.png"), "8", out, "x"}, // too much
    }};
    for (const auto& arguments : refused) {
        EXPECT_NE(run(arguments), 0) << arguments[0] << " " << arguments[1];
        EXPECT_FALSE(fs::exists(out)) << arguments[0] << " " << arguments[1];
    }
}

} // namespace
