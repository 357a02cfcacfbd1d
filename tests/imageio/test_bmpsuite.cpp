#include <gtest/gtest.h>

#include <QImage>

#include "KorvelTestUtil.h"

using namespace korveltest;

namespace {

const std::string kSuite = TestData("bmpsuite/");

// Reference pixels from html/, top row first, three bytes per pixel.
void ExpectDecodesTo(const std::string& file, const std::string& png)
{
    const QImage ref = QImage(QString::fromStdString(kSuite + "html/" + png)).convertToFormat(QImage::Format_RGB888);
    ASSERT_FALSE(ref.isNull()) << png;
    Bytes expected;
    for (int y = 0; y < ref.height(); ++y)
        expected.insert(expected.end(), ref.constScanLine(y), ref.constScanLine(y) + 3 * ref.width());
    Image image;
    ASSERT_EQ(BMPReadImage((kSuite + file).c_str(), &image), 0) << file;
    ASSERT_EQ(std::make_pair(image.width, image.height), std::make_pair(ref.width(), ref.height())) << file;
    EXPECT_TRUE(image.Head(expected.size()) == expected) << file << " against " << png;
}

} // namespace

TEST(BmpSuite, GoodFilesDecodeToTheirReferenceOrAreRefused)
{
    const std::pair<const char*, const char*> decoded[] = {
        {"pal1.bmp", "pal1.png"},         {"pal1bg.bmp", "pal1bg.png"},
        {"pal1wb.bmp", "pal1.png"},       {"pal4.bmp", "pal4.png"},
        {"pal4gs.bmp", "pal4gs.png"},     {"pal4rle.bmp", "pal4.png"},
        {"pal8-0.bmp", "pal8.png"},       {"pal8.bmp", "pal8.png"},
        {"pal8gs.bmp", "pal8gs.png"},     {"pal8nonsquare.bmp", "pal8nonsquare-e.png"},
        {"pal8os2.bmp", "pal8.png"},      {"pal8rle.bmp", "pal8.png"},
        {"pal8w124.bmp", "pal8w124.png"}, {"pal8w125.bmp", "pal8w125.png"},
        {"pal8w126.bmp", "pal8w126.png"}, {"rgb24.bmp", "rgb24.png"},
        {"rgb24pal.bmp", "rgb24.png"},    {"rgb32.bmp", "rgb24.png"},
    };
    // Top-down, later header forms, 16 bits and bit fields.
    const char* const refused[] = {"pal8topdown.bmp", "pal8v4.bmp", "pal8v5.bmp",  "rgb16-565.bmp", "rgb16-565pal.bmp",
                                   "rgb16.bmp",       "rgb16bfdef.bmp", "rgb32bf.bmp", "rgb32bfdef.bmp"};
    for (const auto& [file, png] : decoded)
        ExpectDecodesTo(std::string("g/") + file, png);
    for (const char* file : refused) {
        Image image;
        EXPECT_EQ(BMPReadImage((kSuite + "g/" + file).c_str(), &image), -1) << file;
        EXPECT_EQ(image.data, nullptr) << file;
    }
    // Every file of g/ must be in one of the tables.
    const std::filesystem::directory_iterator g(kSuite + "g");
    EXPECT_EQ(static_cast<size_t>(std::count_if(begin(g), end(g), [](const auto& e) { return e.path().extension() == ".bmp"; })),
              std::size(decoded) + std::size(refused));
}

TEST(BmpSuite, RunLengthFilesThatSkipPixelsShowPaletteEntryZero)
{
    for (const char* name : {"pal4rlecut", "pal4rletrns", "pal8rlecut", "pal8rletrns"})
        ExpectDecodesTo(std::string("q/") + name + ".bmp", std::string(name) + "-0.png");
}

// Questionable, bad and foreign files: any documented code, a block exactly when the
// code is 0, and a block of the announced size (the sanitizer build checks every byte).
TEST(BmpSuite, QuestionableBadAndForeignFilesFailCleanly)
{
    const NoFileLeftOpen guard;
    size_t files = 0;
    for (const char* folder : {"b", "q", "x"}) {
        for (const auto& entry : std::filesystem::directory_iterator(kSuite + folder)) {
            ++files;
            Image image;
            const int32_t result = BMPReadImage(entry.path().c_str(), &image);
            EXPECT_TRUE(result >= -4 && result <= 0) << entry.path() << " " << result;
            EXPECT_EQ(image.data != nullptr, result == 0) << entry.path();
            if (image.data) {
                ASSERT_TRUE(image.width > 0 && image.height > 0 && image.channels == 3 && image.bits == 8) << entry.path();
                image.Head(image.Size()); // every byte must be addressable
            }
        }
    }
    EXPECT_GT(files, 60u);
    Image big, array;
    EXPECT_EQ(BMPReadImage((kSuite + "b/reallybig.bmp").c_str(), &big), -3);
    EXPECT_EQ(BMPReadImage((kSuite + "x/ba-bm.bmp").c_str(), &array), -4);
}
