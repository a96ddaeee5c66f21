#include "pictures/bmp_reader.h"
#include "teletext/glyph_atlas.h"

#include <array>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace quillmark {
namespace {

using Rows = std::vector<unsigned>;

constexpr std::uint32_t kInk = 0x00FFFFFF;
constexpr int kSets = 3;

int cellWidth(int resolution) {
    return resolution == SmallGlyphs ? 6 : 12;
}
int cellHeight(int resolution) {
    return resolution == SmallGlyphs ? 10 : 20;
}

// A glyph row as the tables write it: the leftmost pixel in the highest bit.
unsigned rowBits(const GlyphAtlas& atlas, int code, int set, int resolution, int y) {
    unsigned bits = 0;
    for (int x = 0; x < cellWidth(resolution); ++x)
        bits = (bits << 1) | (atlas.element(code - 0x20, set, resolution, x, y) != 0 ? 1u : 0u);
    return bits;
}

Rows glyphRows(const GlyphAtlas& atlas, int code, int set, int resolution) {
    Rows rows;
    for (int y = 0; y < cellHeight(resolution); ++y)
        rows.push_back(rowBits(atlas, code, set, resolution, y));
    return rows;
}

bool isMosaicCode(int code) {
    return code < 0x40 || code >= 0x60;
}

// Whether every element of one character set and resolution is zero, for every glyph and position.
bool combinationBlank(const GlyphAtlas& atlas, int set, int resolution) {
    for (int g = 0; g < GlyphAtlas::kGlyphs; ++g)
        for (int x = 0; x < GlyphAtlas::kColumns; ++x)
            for (int y = 0; y < GlyphAtlas::kRows; ++y)
                if (atlas.element(g, set, resolution, x, y) != 0) return false;
    return true;
}

bool combinationsEqual(const GlyphAtlas& a, const GlyphAtlas& b, int set, int resolution) {
    for (int g = 0; g < GlyphAtlas::kGlyphs; ++g)
        for (int x = 0; x < GlyphAtlas::kColumns; ++x)
            for (int y = 0; y < GlyphAtlas::kRows; ++y)
                if (a.element(g, set, resolution, x, y) != b.element(g, set, resolution, x, y)) return false;
    return true;
}

bool atlasBlank(const GlyphAtlas& atlas) {
    for (int s = 0; s < GlyphAtlas::kCharacterSets; ++s)
        for (int r = 0; r < GlyphAtlas::kResolutions; ++r) {
            if (!combinationBlank(atlas, s, r)) return false;
            for (int g = 0; g < GlyphAtlas::kGlyphs; ++g)
                for (int y = 0; y < GlyphAtlas::kRows; ++y)
                    if (atlas.rowInk(g, s, r, y) != 0) return false;
        }
    return true;
}

std::optional<Picture> embeddedSheet(int index) {
    return readBmp(embeddedGlyphSheets()[static_cast<std::size_t>(index)]);
}

TEST(GlyphAtlas, HoldsTheSmallAlphanumericGlyphsOfTheTable) {
    const std::vector<std::pair<int, Rows>> glyphs = {
        {0x21, {0x00, 0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04, 0x00, 0x00}},
        {0x23, {0x00, 0x06, 0x09, 0x08, 0x1C, 0x08, 0x08, 0x1F, 0x00, 0x00}},
        {0x28, {0x00, 0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02, 0x00, 0x00}},
        {0x2C, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x04, 0x08, 0x00}},
        {0x41, {0x00, 0x04, 0x0A, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x00, 0x00}},
        {0x5C, {0x00, 0x10, 0x10, 0x10, 0x10, 0x16, 0x01, 0x02, 0x04, 0x07}},
        {0x5F, {0x00, 0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A, 0x00, 0x00}},
        {0x67, {0x00, 0x00, 0x00, 0x0F, 0x11, 0x11, 0x11, 0x0F, 0x01, 0x0E}},
        {0x7D, {0x00, 0x18, 0x04, 0x18, 0x04, 0x19, 0x03, 0x05, 0x07, 0x01}},
        {0x7F, {0x00, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x00, 0x00}},
    };
    for (const auto& [code, rows] : glyphs)
        EXPECT_EQ(glyphRows(glyphAtlas(), code, Alphanumeric, SmallGlyphs), rows) << std::hex << code;
}

TEST(GlyphAtlas, RoundsTheLargeSlashAndCapitalAAsWorkedOut) {
    EXPECT_EQ(glyphRows(glyphAtlas(), 0x2F, Alphanumeric, LargeGlyphs),
              (Rows{0x000, 0x000, 0x000, 0x000, 0x003, 0x007, 0x00E, 0x01C, 0x038, 0x070,
                    0x0E0, 0x1C0, 0x380, 0x300, 0x000, 0x000, 0x000, 0x000, 0x000, 0x000}));
    EXPECT_EQ(glyphRows(glyphAtlas(), 0x41, Alphanumeric, LargeGlyphs),
              (Rows{0x000, 0x000, 0x030, 0x078, 0x0FC, 0x1CE, 0x387, 0x303, 0x303, 0x303,
                    0x3FF, 0x3FF, 0x303, 0x303, 0x303, 0x303, 0x000, 0x000, 0x000, 0x000}));
}

// Large rows that replace what doubling and rounding give: (code, row) -> value.
const std::vector<std::pair<std::pair<int, int>, unsigned>> kFixedRows = {
    {{0x2A, 8}, 0x078},  {{0x2A, 9}, 0x078},  {{0x33, 7}, 0x01C},  {{0x34, 3}, 0x01C},  {{0x4D, 3}, 0x387},
    {{0x4E, 5}, 0x383},  {{0x4E, 12}, 0x307}, {{0x51, 13}, 0x38E}, {{0x5B, 7}, 0x1C0},  {{0x5B, 10}, 0x1C0},
    {{0x5D, 7}, 0x00E},  {{0x5D, 10}, 0x00E}, {{0x5E, 5}, 0x078},  {{0x7A, 8}, 0x00E},  {{0x7A, 13}, 0x1C0},
    {{0x7B, 11}, 0x0C7}, {{0x7B, 14}, 0x033}, {{0x7D, 11}, 0x3C7}, {{0x7D, 14}, 0x033},
};

TEST(GlyphAtlas, HoldsTheFixedLargeRowsInsteadOfTheRoundedOnes) {
    for (const auto& [where, value] : kFixedRows) {
        const auto [code, row] = where;
        EXPECT_EQ(rowBits(glyphAtlas(), code, Alphanumeric, LargeGlyphs, row), value)
            << std::hex << code << " row " << std::dec << row;
    }
    // Doubling and rounding alone would give 030 and 39E here.
    EXPECT_EQ(rowBits(glyphAtlas(), 0x2A, Alphanumeric, LargeGlyphs, 8), 0x078u);
    EXPECT_EQ(rowBits(glyphAtlas(), 0x51, Alphanumeric, LargeGlyphs, 13), 0x38Eu);
}

// Every large alphanumeric row outside the fixed ones is the small glyph doubled, with each 2 x 2 square of
// small pixels that is a bare diagonal step filling the four large pixels around its centre.
TEST(GlyphAtlas, MakesEveryOtherLargeAlphanumericRowByDoublingAndRounding) {
    std::set<std::pair<int, int>> fixed;
    for (const auto& entry : kFixedRows)
        fixed.insert(entry.first);

    const GlyphAtlas& atlas = glyphAtlas();
    for (int code = 0x20; code <= 0x7F; ++code) {
        const auto small = [&](int x, int y) {
            return atlas.element(code - 0x20, Alphanumeric, SmallGlyphs, x, y) != 0;
        };
        std::array<std::array<bool, 12>, 20> expected{};
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 12; ++x)
                expected[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] = small(x / 2, y / 2);
        for (int r = 0; r <= 8; ++r) {
            for (int c = 0; c <= 4; ++c) {
                const bool falling =
                    small(c, r) && small(c + 1, r + 1) && !small(c + 1, r) && !small(c, r + 1);
                const bool rising =
                    small(c + 1, r) && small(c, r + 1) && !small(c, r) && !small(c + 1, r + 1);
                if (!falling && !rising) continue;
                for (int y : {2 * r + 1, 2 * r + 2})
                    for (int x : {2 * c + 1, 2 * c + 2})
                        expected[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] = true;
            }
        }
        for (int y = 0; y < 20; ++y) {
            if (fixed.count({code, y})) continue;
            unsigned bits = 0;
            for (int x = 0; x < 12; ++x)
                bits = (bits << 1) |
                       (expected[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] ? 1u : 0u);
            EXPECT_EQ(rowBits(atlas, code, Alphanumeric, LargeGlyphs, y), bits)
                << std::hex << code << " row " << std::dec << y;
        }
    }
}

TEST(GlyphAtlas, DrawsMosaicPatternsFromTheBlocksOfTheirCodeBits) {
    struct Block {
        unsigned bit;
        int left, right, top, bottom; // inclusive
    };
    using Blocks = std::array<Block, 6>;
    struct Sheet {
        int set;
        int resolution;
        Blocks blocks;
    };
    const std::array<Sheet, 4> sheets = {{
        {ContiguousMosaic,
         SmallGlyphs,
         {{{0x01, 0, 2, 0, 2},
           {0x02, 3, 5, 0, 2},
           {0x04, 0, 2, 3, 6},
           {0x08, 3, 5, 3, 6},
           {0x10, 0, 2, 7, 9},
           {0x40, 3, 5, 7, 9}}}},
        {SeparatedMosaic,
         SmallGlyphs,
         {{{0x01, 1, 2, 0, 1},
           {0x02, 4, 5, 0, 1},
           {0x04, 1, 2, 3, 5},
           {0x08, 4, 5, 3, 5},
           {0x10, 1, 2, 7, 8},
           {0x40, 4, 5, 7, 8}}}},
        {ContiguousMosaic,
         LargeGlyphs,
         {{{0x01, 0, 5, 0, 5},
           {0x02, 6, 11, 0, 5},
           {0x04, 0, 5, 6, 13},
           {0x08, 6, 11, 6, 13},
           {0x10, 0, 5, 14, 19},
           {0x40, 6, 11, 14, 19}}}},
        {SeparatedMosaic,
         LargeGlyphs,
         {{{0x01, 2, 5, 0, 3},
           {0x02, 8, 11, 0, 3},
           {0x04, 2, 5, 6, 11},
           {0x08, 8, 11, 6, 11},
           {0x10, 2, 5, 14, 17},
           {0x40, 8, 11, 14, 17}}}},
    }};
    const GlyphAtlas& atlas = glyphAtlas();
    for (const auto& sheet : sheets) {
        for (int code = 0x20; code <= 0x7F; ++code) {
            if (!isMosaicCode(code)) continue;
            for (int y = 0; y < cellHeight(sheet.resolution); ++y) {
                for (int x = 0; x < cellWidth(sheet.resolution); ++x) {
                    bool lit = false;
                    for (const auto& b : sheet.blocks)
                        lit = lit || ((static_cast<unsigned>(code) & b.bit) != 0 && x >= b.left &&
                                      x <= b.right && y >= b.top && y <= b.bottom);
                    ASSERT_EQ(atlas.element(code - 0x20, sheet.set, sheet.resolution, x, y), lit ? kInk : 0u)
                        << "set " << sheet.set << " resolution " << sheet.resolution << " code " << std::hex
                        << code << std::dec << " at " << x << ", " << y;
                }
            }
        }
    }
}

TEST(GlyphAtlas, ShowsSolidBlocksAndBlockColumnsAsEachSheetDraws) {
    struct Case {
        int code;
        int set;
        int resolution;
        Rows rows;
    };
    const unsigned full = 0xFFF;
    const unsigned separated = 0x3CF;
    const std::vector<Case> cases = {
        {0x7F, Alphanumeric, SmallGlyphs, {0x00, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x1F, 0x00, 0x00}},
        {0x7F, Alphanumeric, LargeGlyphs, {0,     0,     0x3FF, 0x3FF, 0x3FF, 0x3FF, 0x3FF,
                                           0x3FF, 0x3FF, 0x3FF, 0x3FF, 0x3FF, 0x3FF, 0x3FF,
                                           0x3FF, 0x3FF, 0,     0,     0,     0}},
        {0x7F, ContiguousMosaic, SmallGlyphs, Rows(10, 0x3F)},
        {0x7F, ContiguousMosaic, LargeGlyphs, Rows(20, full)},
        {0x7F, SeparatedMosaic, SmallGlyphs, {0x1B, 0x1B, 0x00, 0x1B, 0x1B, 0x1B, 0x00, 0x1B, 0x1B, 0x00}},
        {0x7F, SeparatedMosaic, LargeGlyphs, {separated, separated, separated, separated, 0,
                                              0,         separated, separated, separated, separated,
                                              separated, separated, 0,         0,         separated,
                                              separated, separated, separated, 0,         0}},
        {0x35, ContiguousMosaic, SmallGlyphs, Rows(10, 0x38)},
        {0x35, SeparatedMosaic, SmallGlyphs, {0x18, 0x18, 0x00, 0x18, 0x18, 0x18, 0x00, 0x18, 0x18, 0x00}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(glyphRows(glyphAtlas(), c.code, c.set, c.resolution), c.rows)
            << "code " << std::hex << c.code << std::dec << " set " << c.set << " resolution "
            << c.resolution;
}

TEST(GlyphAtlas, KeepsTheCharactersOfCodes40To5FInTheMosaicSheets) {
    const GlyphAtlas& atlas = glyphAtlas();
    for (int set : {ContiguousMosaic, SeparatedMosaic}) {
        for (int resolution : {SmallGlyphs, LargeGlyphs}) {
            for (int code = 0x40; code <= 0x5F; ++code)
                EXPECT_EQ(glyphRows(atlas, code, set, resolution),
                          glyphRows(atlas, code, Alphanumeric, resolution))
                    << "set " << set << " resolution " << resolution << " code " << std::hex << code;
        }
    }
    // Typed from the small table, so a mosaic sheet that copied the wrong glyphs shows here too.
    EXPECT_EQ(glyphRows(atlas, 0x5F, SeparatedMosaic, SmallGlyphs),
              (Rows{0x00, 0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A, 0x00, 0x00}));
    EXPECT_EQ(glyphRows(atlas, 0x40, ContiguousMosaic, SmallGlyphs),
              (Rows{0x00, 0x0E, 0x11, 0x17, 0x15, 0x17, 0x10, 0x0E, 0x00, 0x00}));
}

TEST(GlyphAtlas, LeavesTheSpaceBlankAndTheAlphanumericBordersOff) {
    const GlyphAtlas& atlas = glyphAtlas();
    for (int set = 0; set < kSets; ++set)
        for (int resolution : {SmallGlyphs, LargeGlyphs})
            EXPECT_EQ(glyphRows(atlas, 0x20, set, resolution),
                      Rows(static_cast<std::size_t>(cellHeight(resolution)), 0u))
                << "set " << set << " resolution " << resolution;

    // Small glyphs keep column 0 and row 0 as paper; large ones columns 0 and 1 and rows 0 and 1.
    for (int resolution : {SmallGlyphs, LargeGlyphs}) {
        const int border = resolution == SmallGlyphs ? 1 : 2;
        for (int g = 0; g < 96; ++g) {
            for (int i = 0; i < border; ++i) {
                for (int y = 0; y < cellHeight(resolution); ++y)
                    EXPECT_EQ(atlas.element(g, Alphanumeric, resolution, i, y), 0u) << g << " column " << i;
                for (int x = 0; x < cellWidth(resolution); ++x)
                    EXPECT_EQ(atlas.element(g, Alphanumeric, resolution, x, i), 0u) << g << " row " << i;
            }
        }
    }
}

TEST(GlyphAtlas, LeavesEveryElementOutsideTheFilledRangesZero) {
    const GlyphAtlas& atlas = glyphAtlas();
    for (int s = 0; s < GlyphAtlas::kCharacterSets; ++s) {
        for (int r = 0; r < GlyphAtlas::kResolutions; ++r) {
            for (int g = 0; g < GlyphAtlas::kGlyphs; ++g) {
                for (int x = 0; x < GlyphAtlas::kColumns; ++x) {
                    for (int y = 0; y < GlyphAtlas::kRows; ++y) {
                        const bool filled = g < 96 && s < kSets && x < cellWidth(r) && y < cellHeight(r);
                        if (filled) continue;
                        ASSERT_EQ(atlas.element(g, s, r, x, y), 0u)
                            << "glyph " << g << " set " << s << " resolution " << r << " at " << x << ", "
                            << y;
                    }
                }
                for (int y = 0; y < GlyphAtlas::kRows; ++y) {
                    if (g < 96 && s < kSets && y < cellHeight(r)) continue;
                    ASSERT_EQ(atlas.rowInk(g, s, r, y), 0u)
                        << "glyph " << g << " set " << s << " resolution " << r << " row " << y;
                }
            }
        }
    }
}

TEST(GlyphAtlas, FillsElementsWithWhiteOrBlackWithoutAlpha) {
    const GlyphAtlas& atlas = glyphAtlas();
    EXPECT_EQ(atlas.element(1, Alphanumeric, SmallGlyphs, 3, 1), kInk) << "the top of the exclamation mark";
    EXPECT_EQ(atlas.element(1, Alphanumeric, SmallGlyphs, 0, 1), 0u);
    for (int g = 0; g < 96; ++g)
        for (int s = 0; s < kSets; ++s)
            for (int r : {SmallGlyphs, LargeGlyphs})
                for (int x = 0; x < cellWidth(r); ++x)
                    for (int y = 0; y < cellHeight(r); ++y) {
                        const std::uint32_t value = atlas.element(g, s, r, x, y);
                        ASSERT_TRUE(value == 0 || value == kInk) << std::hex << value;
                    }
}

TEST(GlyphAtlas, KeepsRowInkInStepWithTheElements) {
    const GlyphAtlas& atlas = glyphAtlas();
    for (int g = 0; g < GlyphAtlas::kGlyphs; ++g)
        for (int s = 0; s < GlyphAtlas::kCharacterSets; ++s)
            for (int r : {SmallGlyphs, LargeGlyphs})
                for (int y = 0; y < cellHeight(r); ++y) {
                    unsigned expected = 0;
                    for (int x = 0; x < cellWidth(r); ++x)
                        if (atlas.element(g, s, r, x, y) != 0) expected |= 1u << (11 - x);
                    ASSERT_EQ(atlas.rowInk(g, s, r, y), expected) << g << " " << s << " " << r << " " << y;
                }
}

// A hand-made sheet: magenta grid, black cells, two marked pixels with alpha that the load must clear.
TEST(GlyphAtlas, StoresTheCellAtColumnOneRowZeroAsGlyphEight) {
    auto sheet = Picture::create(85, 89);
    ASSERT_TRUE(sheet);
    for (int y = 0; y < 89; ++y)
        for (int x = 0; x < 85; ++x)
            sheet->setPixel(x, y, x % 7 == 0 || y % 11 == 0 ? 0xFFFF00FFu : 0xFF000000u);
    sheet->setPixel(8, 1, 0x80FFFFFF); // cell column 1, row 0: glyph 8 at (0, 0)
    sheet->setPixel(1 + 11 * 7 + 5, 1 + 7 * 11 + 9,
                    0x12345678); // the last cell's last pixel: glyph 95 at (5, 9)

    auto atlas = std::make_unique<GlyphAtlas>();
    ASSERT_TRUE(atlas->loadGlyphSheet(std::move(*sheet), SeparatedMosaic, SmallGlyphs));
    EXPECT_EQ(atlas->element(8, SeparatedMosaic, SmallGlyphs, 0, 0), kInk);
    EXPECT_EQ(atlas->rowInk(8, SeparatedMosaic, SmallGlyphs, 0), 0x800u);
    EXPECT_EQ(atlas->element(95, SeparatedMosaic, SmallGlyphs, 5, 9), 0x00345678u);
    int lit = 0;
    for (int g = 0; g < GlyphAtlas::kGlyphs; ++g)
        for (int x = 0; x < GlyphAtlas::kColumns; ++x)
            for (int y = 0; y < GlyphAtlas::kRows; ++y)
                lit += atlas->element(g, SeparatedMosaic, SmallGlyphs, x, y) != 0;
    EXPECT_EQ(lit, 2) << "grid pixels never reach the atlas";
    EXPECT_TRUE(combinationBlank(*atlas, Alphanumeric, SmallGlyphs));

    // The program's atlas has the left parenthesis, code 0x28, in the same cell of its sheet.
    EXPECT_EQ(glyphRows(glyphAtlas(), 0x28, Alphanumeric, SmallGlyphs),
              (Rows{0x00, 0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02, 0x00, 0x00}));
}

TEST(GlyphAtlas, RefusesABadSetResolutionOrSheetSizeAndStoresNothing) {
    struct Case {
        int set;
        int resolution;
        int width;
        int height;
    };
    for (const auto& c :
         {Case{3, SmallGlyphs, 85, 89}, Case{-1, SmallGlyphs, 85, 89}, Case{Alphanumeric, 2, 85, 89},
          Case{Alphanumeric, -1, 85, 89}, Case{Alphanumeric, SmallGlyphs, 84, 89},
          Case{Alphanumeric, SmallGlyphs, 85, 88}, Case{Alphanumeric, LargeGlyphs, 156, 169},
          Case{Alphanumeric, LargeGlyphs, 85, 89}}) {
        auto sheet = Picture::create(c.width, c.height, 24);
        ASSERT_TRUE(sheet);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                sheet->setPixel(x, y, 0xFFFFFF);
        auto atlas = std::make_unique<GlyphAtlas>();
        EXPECT_FALSE(atlas->loadGlyphSheet(std::move(*sheet), c.set, c.resolution))
            << c.set << " " << c.resolution << " " << c.width << " x " << c.height;
        EXPECT_TRUE(atlasBlank(*atlas));
    }
    // A real sheet is refused for a set or resolution out of range just the same.
    auto sheet = embeddedSheet(0);
    ASSERT_TRUE(sheet);
    auto atlas = std::make_unique<GlyphAtlas>();
    EXPECT_FALSE(atlas->loadGlyphSheet(std::move(*sheet), 3, SmallGlyphs));
    EXPECT_TRUE(atlasBlank(*atlas));
}

// Sheet i holds set i % 3 at resolution i / 3. When sheet `bad` can't be decoded, the sheets before it are
// loaded exactly as in the program's atlas and it and all later ones stay blank: with the fourth sheet bad,
// the small glyphs of all three sets are there and every large glyph is blank.
TEST(GlyphAtlas, StopsBuildingAtTheFirstSheetThatCannotBeDecoded) {
    const auto embedded = embeddedGlyphSheets();
    for (int bad = 0; bad <= 6; ++bad) {
        SCOPED_TRACE(bad);
        auto sheets = embedded;
        if (bad < 6) {
            const auto whole = sheets[static_cast<std::size_t>(bad)];
            sheets[static_cast<std::size_t>(bad)] = whole.first(whole.size() / 2);
        }
        auto atlas = std::make_unique<GlyphAtlas>();
        EXPECT_EQ(buildGlyphAtlas(*atlas, sheets), bad == 6);
        for (int i = 0; i < 6; ++i) {
            const int set = i % kSets;
            const int resolution = i / kSets;
            if (i < bad) {
                EXPECT_TRUE(combinationsEqual(*atlas, glyphAtlas(), set, resolution)) << "sheet " << i;
                EXPECT_FALSE(combinationBlank(*atlas, set, resolution)) << "sheet " << i;
            } else {
                EXPECT_TRUE(combinationBlank(*atlas, set, resolution)) << "sheet " << i;
            }
        }
    }
}

} // namespace
} // namespace quillmark
