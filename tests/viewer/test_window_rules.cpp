// The window's rules that need no window and no QApplication: the keyboard table that sets
// the shortcuts and writes Help, the open dialog's filters, pixel sizes typed in the
// properties dialog, where the cache's memory budget comes from, and the export's scaling and
// layout of the views, which must match the model's renderings.
#include <QCoreApplication>
#include <QImage>
#include <QKeySequence>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "CacheBudget.h"
#include "KeyboardTable.h"
#include "MemoryBudget.h"
#include "SliceCache.h"
#include "ViewExport.h"
#include "ViewRender.h"
#include "formImageProperties.h"
#include "formImageViewer.h"

using ImageViewer::KeyEntry;

// Every shortcut names an action once and keys Qt can read; no key does two things; Help
// lists every entry with what it does.
TEST(KeyboardTable, EveryKeyReadableAndBoundOnceAndListedInHelp)
{
    std::set<std::string> actions;
    std::map<QKeySequence, std::string> bound;
    const QString help = ImageViewer::KeyboardHelpHtml();
    for (const KeyEntry& entry : ImageViewer::KeyboardTable()) {
        ASSERT_NE(entry.keys, nullptr);
        ASSERT_NE(entry.what, nullptr);
        EXPECT_TRUE(help.contains(QString::fromLatin1(entry.what).toHtmlEscaped())) << entry.what;
        if (!entry.action) {
            EXPECT_TRUE(help.contains(QString::fromLatin1(entry.keys).toHtmlEscaped())) << entry.keys;
            continue;
        }
        EXPECT_TRUE(actions.insert(entry.action).second) << entry.action << " listed twice";
        const QStringList alternatives = QString::fromLatin1(entry.keys).split(QStringLiteral("; "));
        const QList<QKeySequence> keys =
            QKeySequence::listFromString(QString::fromLatin1(entry.keys), QKeySequence::PortableText);
        ASSERT_EQ(keys.size(), alternatives.size()) << entry.keys;
        for (int i = 0; i < keys.size(); ++i) {
            // A key Qt cannot read comes back as nothing or as other text.
            EXPECT_FALSE(keys[i].isEmpty()) << entry.action << ": " << alternatives[i].toStdString();
            EXPECT_EQ(keys[i].toString(QKeySequence::PortableText), alternatives[i]) << entry.action;
            const auto [at, fresh] = bound.emplace(keys[i], entry.action);
            EXPECT_TRUE(fresh) << alternatives[i].toStdString() << " is both " << at->second << " and " << entry.action;
        }
    }
    EXPECT_GE(actions.size(), 10u);
}

namespace {

// Does a file name pass one "Title (*.a *.b)" filter of the open dialog?
bool Passes(const QString& filter, const QString& name)
{
    const QString patterns = filter.section(QLatin1Char('('), 1).chopped(1);
    for (const QString& p : patterns.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        if (QRegularExpression(QRegularExpression::wildcardToRegularExpression(p)).match(name).hasMatch())
            return true;
    return false;
}

} // namespace

// "All supported images" first; every pattern in either case.
TEST(OpenDialog, AllSupportedImagesFirstInAnyCase)
{
    const QStringList filters = ImageViewer::formImageViewer::OpenFilters();
    ASSERT_EQ(filters.size(), 4);
    EXPECT_TRUE(filters.front().startsWith(QStringLiteral("All supported images")));
    EXPECT_TRUE(filters.back().startsWith(QStringLiteral("All files")));
    struct Case { const char* name; bool all, ics, tiff; } cases[] = {
        {"cells.ics", true, true, false}, {"CELLS.ICS", true, true, false}, {"cells.ids", true, true, false},
        {"c_z01.tif", true, false, true}, {"C_Z01.TIFF", true, false, true}, {"notes.txt", false, false, false},
    };
    for (const Case& c : cases) {
        const QString name = QString::fromLatin1(c.name);
        EXPECT_EQ(Passes(filters[0], name), c.all) << c.name;
        EXPECT_EQ(Passes(filters[1], name), c.ics) << c.name;
        EXPECT_EQ(Passes(filters[2], name), c.tiff) << c.name;
        EXPECT_TRUE(Passes(filters[3], name)) << c.name;
    }
}

// Pixel sizes typed in micrometres (a comma taken as the decimal point), and the file's shown
// rounded.
TEST(PropertiesDialog, SizesInMicrometres)
{
    struct Case { const char* text; double nm; };
    const Case cases[] = {
        {"0.1625", 162.5}, {"2", 2000},  {" 7 ", 7000}, {"12,5", 12500}, {"0.25 \u00b5m", 250},
        {"0.25um", 250},   {"0", 0},     {"abc", 0},    {"", 0},         {"-3", 0},
        {"inf", 0},        {"nan", 0},   {"1e999", 0},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(ImageViewer::formImageProperties::ParsePixelSize(QString::fromUtf8(c.text)), c.nm, 1e-9) << c.text;
    // A size read from a file with binary noise shows rounded, in micrometres.
    EXPECT_EQ(ImageViewer::formImageProperties::FormatPixelSize(162.4999997094274), "0.1625");
    EXPECT_EQ(ImageViewer::formImageProperties::FormatPixelSize(2000), "2");
    EXPECT_EQ(ImageViewer::formImageProperties::FormatPixelSize(0), "");
}

// The budget of the slice cache: the command line's, else the preferences' (0 meaning the
// default), else the default.
TEST(CacheBudget, CommandLineThenPreferencesThenDefault)
{
    QTemporaryDir dir;
    QCoreApplication::setOrganizationName(QStringLiteral("LumoraTest"));
    QCoreApplication::setApplicationName(QStringLiteral("LumoraTest"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    const size_t mib = size_t(1) << 20;
    ImageReader::SetProcessMemoryBudget(0);
    const size_t fallback = ImageReader::SliceCache<unsigned short>::DefaultBudget();
    struct Case
    {
        size_t commandLine;
        int stored; // -1: not set
        size_t expected;
    };
    const Case cases[] = {
        {0, -1, fallback}, {0, 0, fallback}, {0, -5, fallback}, {0, 300, 300 * mib}, {50, 300, 50 * mib}, {50, -1, 50 * mib},
    };
    for (const Case& c : cases) {
        QSettings settings;
        if (c.stored == -1)
            settings.remove(QStringLiteral("cacheBudgetMB"));
        else
            settings.setValue(QStringLiteral("cacheBudgetMB"), c.stored);
        settings.sync();
        ImageViewer::SetCacheBudgetOverrideMB(c.commandLine);
        EXPECT_EQ(ImageViewer::CacheBudgetBytes(), c.expected) << c.commandLine << " " << c.stored;
        // Readers check what a file makes them allocate against the same figure.
        EXPECT_EQ(ImageReader::MemoryBudget(), c.expected) << c.commandLine << " " << c.stored;
    }
    ImageViewer::SetCacheBudgetOverrideMB(0);
    ImageReader::SetProcessMemoryBudget(0);
}

namespace {

// A w x h picture whose every pixel has its own colour, as the model's and as a QImage.
ImageViewer::ViewPicture Numbered(int w, int h, int salt)
{
    ImageViewer::ViewPicture p;
    p.width = w;
    p.height = h;
    p.pixels = ImageViewer::AllocateRGBA(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (int i = 0; i < w * h; ++i) {
        unsigned char* px = p.pixels.get() + 4 * i;
        px[0] = static_cast<unsigned char>(i);         // blue
        px[1] = static_cast<unsigned char>(i >> 8);    // green
        px[2] = static_cast<unsigned char>(salt + 1);  // red
        px[3] = 0;
    }
    return p;
}

QImage AsQImage(const ImageViewer::ViewPicture& p)
{
    QImage q(p.width, p.height, QImage::Format_RGB32);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const unsigned char* px = p.pixels.get() + 4 * (y * p.width + x);
            q.setPixel(x, y, qRgb(px[2], px[1], px[0]));
        }
    return q;
}

// Pixels where the two differ; -1 for other sizes.
int Differences(const QImage& q, const ImageViewer::ViewPicture& p)
{
    if (q.width() != p.width || q.height() != p.height)
        return -1;
    const QImage same = AsQImage(p);
    int n = 0;
    for (int y = 0; y < q.height(); ++y)
        for (int x = 0; x < q.width(); ++x)
            n += (q.pixel(x, y) & 0xffffff) != (same.pixel(x, y) & 0xffffff);
    return n;
}

} // namespace

// The window's export scales by pixel repetition and lays the views out as the model's
// pictures for movies and the command line are, so that both give the same picture.
TEST(ViewExport, ScalesAndComposesAsTheModelsPictures)
{
    const ImageViewer::ViewPicture xy = Numbered(5, 3, 0);
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{{5, 3}, {10, 6}, {15, 9}, {7, 4}, {8, 5}, {3, 2}, {13, 11}})
        EXPECT_EQ(Differences(ImageViewer::ScalePicture(AsQImage(xy), w, h), ImageViewer::ScaleViewPicture(xy, w, h)), 0)
            << w << " x " << h;
    // Twice the size: each pixel repeated 2 x 2.
    const QImage doubled = ImageViewer::ScalePicture(AsQImage(xy), 10, 6);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x)
            ASSERT_EQ(doubled.pixel(x, y), AsQImage(xy).pixel(x / 2, y / 2)) << x << "," << y;

    // XZ above XY, YZ to its left, 6 black pixels between them and in the corner.
    const ImageViewer::ViewPicture xz = Numbered(5, 2, 1), yz = Numbered(4, 3, 2);
    const QImage all = ImageViewer::ComposeViews(AsQImage(xy), AsQImage(xz), AsQImage(yz), 6);
    ASSERT_EQ(all.size(), QSize(4 + 6 + 5, 2 + 6 + 3));
    for (int y = 0; y < all.height(); ++y)
        for (int x = 0; x < all.width(); ++x) {
            QRgb want = 0;
            if (x >= 10 && y >= 8)
                want = AsQImage(xy).pixel(x - 10, y - 8);
            else if (x >= 10 && y < 2)
                want = AsQImage(xz).pixel(x - 10, y);
            else if (x < 4 && y >= 8)
                want = AsQImage(yz).pixel(x, y - 8);
            ASSERT_EQ(all.pixel(x, y) & 0xffffff, want & 0xffffff) << x << "," << y;
        }
    EXPECT_EQ(Differences(all, ImageViewer::ComposeViewPictures(xy, xz, yz, 6)), 0);
    EXPECT_EQ(Differences(ImageViewer::ComposeViews(AsQImage(xy), QImage(), AsQImage(yz), 6),
                          ImageViewer::ComposeViewPictures(xy, ImageViewer::ViewPicture(), yz, 6)),
              0);
}
