#include <gtest/gtest.h>

#include <QImage>

#include "KorvelTestUtil.h"

using namespace korveltest;

namespace {

const std::string kSuite = TestData("bmpsuite/");

// Reference pixels, top row first, three bytes per pixel.
Bytes ReferencePixels(const std::string& png, int* width, int* height)
{
    QImage ref(QString::fromStdString(kSuite + "html/" + png));
    if (ref.isNull())
        return {};
    ref = ref.convertToFormat(QImage::Format_RGB888);
    *width = ref.width();
    *height = ref.height();
    Bytes out;
    for (int y = 0; y < ref.height(); ++y) {
        const auto* line = ref.constScanLine(y);
        out.insert(out.end(), line, line + 3 * ref.width());
    }
    return out;
}

struct SuiteCase {
    const char* file;
    const char* reference; // nullptr: refused with -1
};

void ExpectDecodesTo(const SuiteCase& c)
{
    Image image;
    const int32_t result = BMPReadImage((kSuite + c.file).c_str(), &image);
    if (!c.reference) {
        EXPECT_EQ(result, -1) << c.file;
        EXPECT_EQ(image.data, nullptr) << c.file;
        return;
    }
    ASSERT_EQ(result, 0) << c.file;
    int w = 0, h = 0;
    const Bytes expected = ReferencePixels(c.reference, &w, &h);
    ASSERT_FALSE(expected.empty()) << c.reference;
    ASSERT_EQ(image.width, w) << c.file;
    ASSERT_EQ(image.height, h) << c.file;
    const Bytes got = image.Head(expected.size());
    size_t mismatches = 0;
    for (size_t i = 0; i < expected.size(); ++i)
        mismatches += got[i] != expected[i];
    EXPECT_EQ(mismatches, 0u) << c.file << " against " << c.reference;
}

} // namespace

TEST(BmpSuite, GoodFilesDecodeToTheirReferenceOrAreRefused)
{
    const SuiteCase cases[] = {
        {"g/pal1.bmp", "pal1.png"},
        {"g/pal1bg.bmp", "pal1bg.png"},
        {"g/pal1wb.bmp", "pal1.png"},
        {"g/pal4.bmp", "pal4.png"},
        {"g/pal4gs.bmp", "pal4gs.png"},
        {"g/pal4rle.bmp", "pal4.png"},
        {"g/pal8-0.bmp", "pal8.png"},
        {"g/pal8.bmp", "pal8.png"},
        {"g/pal8gs.bmp", "pal8gs.png"},
        {"g/pal8nonsquare.bmp", "pal8nonsquare-e.png"},
        {"g/pal8os2.bmp", "pal8.png"},
        {"g/pal8rle.bmp", "pal8.png"},
        {"g/pal8topdown.bmp", nullptr},
        {"g/pal8v4.bmp", nullptr},
        {"g/pal8v5.bmp", nullptr},
        {"g/pal8w124.bmp", "pal8w124.png"},
        {"g/pal8w125.bmp", "pal8w125.png"},
        {"g/pal8w126.bmp", "pal8w126.png"},
        {"g/rgb16-565.bmp", nullptr},
        {"g/rgb16-565pal.bmp", nullptr},
        {"g/rgb16.bmp", nullptr},
        {"g/rgb16bfdef.bmp", nullptr},
        {"g/rgb24.bmp", "rgb24.png"},
        {"g/rgb24pal.bmp", "rgb24.png"},
        {"g/rgb32.bmp", "rgb24.png"},
        {"g/rgb32bf.bmp", nullptr},
        {"g/rgb32bfdef.bmp", nullptr},
    };
    size_t listed = 0;
    for (const SuiteCase& c : cases) {
        ExpectDecodesTo(c);
        ++listed;
    }
    // Every file of g/ must be in the table above.
    size_t present = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kSuite + "g"))
        present += entry.path().extension() == ".bmp";
    EXPECT_EQ(present, listed);
}

TEST(BmpSuite, RunLengthFilesThatSkipPixelsShowPaletteEntryZero)
{
    for (const SuiteCase& c : {SuiteCase{"q/pal4rlecut.bmp", "pal4rlecut-0.png"},
                               SuiteCase{"q/pal4rletrns.bmp", "pal4rletrns-0.png"},
                               SuiteCase{"q/pal8rlecut.bmp", "pal8rlecut-0.png"},
                               SuiteCase{"q/pal8rletrns.bmp", "pal8rletrns-0.png"}})
        ExpectDecodesTo(c);
}

// Questionable, bad and foreign files: any documented code, a block exactly when the
// code is 0, and a block of the announced size (the sanitizer build checks every byte).
TEST(BmpSuite, QuestionableBadAndForeignFilesFailCleanly)
{
    const size_t open = OpenFileCount();
    size_t files = 0;
    for (const char* folder : {"b", "q", "x"}) {
        for (const auto& entry : std::filesystem::directory_iterator(kSuite + folder)) {
            ++files;
            Image image;
            const int32_t result = BMPReadImage(entry.path().c_str(), &image);
            EXPECT_TRUE(result >= -4 && result <= 0) << entry.path() << " " << result;
            if (result != 0) {
                EXPECT_EQ(image.data, nullptr) << entry.path();
                continue;
            }
            ASSERT_NE(image.data, nullptr) << entry.path();
            ASSERT_GT(image.width, 0);
            ASSERT_GT(image.height, 0);
            unsigned sum = 0;
            const size_t n = static_cast<size_t>(image.width) * image.height * 3;
            for (size_t i = 0; i < n; ++i)
                sum += image.Bytes8()[i];
            (void)sum;
        }
    }
    EXPECT_GT(files, 60u);
    EXPECT_EQ(OpenFileCount(), open) << "every path closes its file";
    Image big;
    EXPECT_EQ(BMPReadImage((kSuite + "b/reallybig.bmp").c_str(), &big), -3);
    Image array;
    EXPECT_EQ(BMPReadImage((kSuite + "x/ba-bm.bmp").c_str(), &array), -4);
}
