#include "pictures/picture_writers.h"
#include "pictures/save_types.h"
#include "temp_folder.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quillmark {
namespace {

using test::readBytes;
using test::TempFolder;

TEST(SaveTypes, JoinIntoTheSaveDialogsFilterPattern) {
    std::string pattern;
    for (const SaveType& type : kSaveTypes) {
        if (!pattern.empty()) pattern += '|';
        pattern.append(type.description).append("|").append(type.patterns);
    }
    EXPECT_EQ(pattern, "BMP (*.bmp)|*.bmp|JPEG(*.jpg;*.jpeg;*.jpe)|*.jpg;*.jpeg;*.jpe|PNG (*.png)|*.png");
    EXPECT_EQ(kSaveTypes[kBmpPosition].formatCode, FormatBmp);
    EXPECT_EQ(kSaveTypes[kJpegPosition].formatCode, FormatJpeg);
    EXPECT_EQ(kSaveTypes[kPngPosition].formatCode, FormatPng);
}

TEST(SaveTypes, ExtensionPartIsTheTextAfterTheLastDotOfTheFilePart) {
    const std::pair<std::string, std::string> cases[] = {
        {"screen.jpeg", "jpeg"},
        {"C:\\pics\\screen.BmP", "BmP"},
        {"/home/me/a.b.png", "png"},
        {"screen.", ""},
        {"C:\\pics.old\\screen", ""},
        {"pics.old/screen", ""},
        {"my screen.old final", ""},
        {"my screen.old", "old"},
        {"C:\\pics\\.png", ""},
        {"pics/.png", ""},
        {".png", ""},
        {"x.png", "png"},
        {"\"C:\\pics\\screen.png\"", "png"},
        {"screen.p\"ng", "p"},
        {"screen", ""},
        {"", ""},
    };
    for (const auto& [name, extension] : cases)
        EXPECT_EQ(extensionPart(name), extension) << name;
}

TEST(SaveTypes, SaveNameKeepsAnAcceptedExtensionAsTypedAndAppendsOtherwise) {
    struct Case {
        const char* name;
        int position;
        const char* saved;
    };
    const Case cases[] = {
        {"C:\\pics\\screen", kPngPosition, "C:\\pics\\screen.png"},
        {"screen.BmP", kBmpPosition, "screen.BmP"},
        {"screen.jpeg", kJpegPosition, "screen.jpeg"},
        {"screen.JPE", kJpegPosition, "screen.JPE"},
        {"screen.Jpg", kJpegPosition, "screen.Jpg"},
        {"screen.PNG", kPngPosition, "screen.PNG"},
        {"screen.png", kBmpPosition, "screen.png.bmp"},
        {"screen.jfif", kJpegPosition, "screen.jfif.jpg"},
        {"screen.jpeg", kPngPosition, "screen.jpeg.png"},
        {"screen.", kPngPosition, "screen..png"},
        {"C:\\pics.old\\screen", kPngPosition, "C:\\pics.old\\screen.png"},
        {"my screen.old final", kPngPosition, "my screen.old final.png"},
        {"C:\\pics\\.png", kPngPosition, "C:\\pics\\.png.png"},
        {"/tmp/über.png", kPngPosition, "/tmp/über.png"},
        {"/tmp/bild.pñg", kPngPosition, "/tmp/bild.pñg.png"},
        {"screen.png", 3, "screen.png"},
        {"screen", -1, "screen"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(saveName(c.name, c.position), c.saved) << c.name << " at " << c.position;
}

TEST(SaveTypes, SavePictureAsWritesThePositionsTypeToExactlyTheGivenName) {
    Picture picture = Picture::create(24, 20).value();
    picture.setPixel(3, 4, 0xFF0000FF);
    TempFolder folder;
    ASSERT_TRUE(savePictureAs(picture, folder / "as-bmp.png", kBmpPosition));
    ASSERT_TRUE(savePictureAs(picture, folder / "as-jpeg", kJpegPosition));
    ASSERT_TRUE(savePictureAs(picture, folder / "as-png.bmp", kPngPosition));
    EXPECT_FALSE(savePictureAs(picture, folder / "nowhere", 3));
    EXPECT_FALSE(savePictureAs(picture, folder / "nowhere", -1));
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"as-bmp.png", "as-jpeg", "as-png.bmp"}));

    ASSERT_TRUE(savePicture(picture, folder / "bmp", FormatBmp, 0, 32));
    ASSERT_TRUE(savePicture(picture, folder / "jpeg", FormatJpeg, 10));
    ASSERT_TRUE(savePicture(picture, folder / "png", FormatPng));
    EXPECT_EQ(readBytes(folder / "as-bmp.png"), readBytes(folder / "bmp"));
    EXPECT_EQ(readBytes(folder / "as-jpeg"), readBytes(folder / "jpeg")) << "quality level 10";
    EXPECT_EQ(readBytes(folder / "as-png.bmp"), readBytes(folder / "png"));
}

} // namespace
} // namespace quillmark
