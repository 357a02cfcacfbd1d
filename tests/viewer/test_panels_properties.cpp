// The image properties dialog: its rows, sizes in micrometres and closing (how a typed size
// is read is tested without a QApplication).
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>
#include <QLocale>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include "formImageProperties.h"

using ImageViewer::formImageProperties;
using ImageViewer::ImageProperties;

namespace {

ImageProperties sixDimensions()
{
    ImageProperties p;
    p.m_dimname = {"x", "y", "z", "t", "ch", "w"};
    p.m_pixelsize = {100, 100, 300, 0, 0, 12.5};
    return p;
}

// Runs each case in a fixed locale and restores the default afterwards.
class LocaleScope
{
public:
    explicit LocaleScope(const QLocale& l) : m_old(QLocale()) { QLocale::setDefault(l); }
    ~LocaleScope() { QLocale::setDefault(m_old); }

private:
    QLocale m_old;
};

} // namespace

TEST(PanelsProperties, OneRowPerDimensionInMicrometres)
{
    // The decimal point is '.' whatever the locale; ',' is taken when typed.
    const LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
    ImageProperties props = sixDimensions();
    props.m_pixelsize[1] = 162.4999997094274;
    formImageProperties dialog(props);
    EXPECT_EQ(dialog.findChild<QLabel*>("label2")->text(), QString::fromUtf8("Pixel size (\u00b5m)"));
    const char* shown[] = {"0.1", "0.1625", "0.3", "", "", "0.0125"};
    const char* typed[] = {"not a number", nullptr, "0,2505", "", "1", "0.0125"};
    for (int i = 0; i < 6; ++i) {
        auto* name = dialog.findChild<QLineEdit*>(QString("textDimName%1").arg(i));
        auto* box = dialog.findChild<QLineEdit*>(QString("textPixelSize%1").arg(i));
        ASSERT_TRUE(name && box) << i;
        // Room for "lambda" and eight characters, left of the size box of its row.
        EXPECT_GE(name->width(), std::max(name->fontMetrics().horizontalAdvance("lambda"),
                                          8 * name->fontMetrics().averageCharWidth()));
        EXPECT_EQ(name->y(), box->y());
        EXPECT_LT(name->geometry().right(), box->geometry().left());
        EXPECT_TRUE(name->isReadOnly());
        EXPECT_EQ(name->text().toStdString(), props.m_dimname[static_cast<size_t>(i)]);
        EXPECT_EQ(box->text(), shown[i]);
        if (!typed[i])
            continue;
        box->selectAll();
        QTest::keyClicks(box, typed[i]);
    }
    EXPECT_EQ(dialog.findChild<QLineEdit*>("textPixelSize6"), nullptr);
    // The headers stand apart over their columns.
    const QRect name = dialog.findChild<QLabel*>("label1")->geometry();
    const QRect size = dialog.findChild<QLabel*>("label2")->geometry();
    EXPECT_LT(name.right(), size.left());
    EXPECT_GE(size.width(), dialog.findChild<QLabel*>("label2")->sizeHint().width());
    // Edits stay in the dialog until they are read back.
    EXPECT_EQ(props.m_pixelsize[2], 300);
    EXPECT_EQ(&dialog.GetProperties(), &props);
    const std::vector<double> expected{0, 162.4999997094274, 250.5, 0, 1000, 12.5};
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(props.m_pixelsize[i], expected[i], 1e-9) << i;
    // A box left as shown keeps the file's size exactly, not its rounding.
    EXPECT_EQ(props.m_pixelsize[1], 162.4999997094274);
    EXPECT_EQ(props.m_dimname[4], "ch");
}

TEST(PanelsProperties, LastRowIsReachedByScrollingAndOnlyButtonsClose)
{
    ImageProperties props = sixDimensions();
    enum Close { OkButton, CancelButton, Frame };
    for (const Close how : {OkButton, CancelButton, Frame}) {
        formImageProperties dialog(props);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        auto* page = dialog.findChild<QScrollArea*>("tabPixelSize");
        auto* last = dialog.findChild<QLineEdit*>("textPixelSize5");
        ASSERT_TRUE(page && last);
        EXPECT_GT(page->verticalScrollBar()->maximum(), 0);
        page->ensureWidgetVisible(last);
        const QPoint inViewport = last->mapTo(page->viewport(), QPoint(0, 0));
        EXPECT_GE(inViewport.y(), 0);
        EXPECT_LE(inViewport.y() + last->height(), page->viewport()->height());

        auto* box = dialog.findChild<QLineEdit*>("textPixelSize0");
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Return);
        QTest::keyClick(box, Qt::Key_Escape);
        EXPECT_TRUE(dialog.isVisible());
        if (how == Frame)
            dialog.close();
        else
            QTest::mouseClick(dialog.findChild<QPushButton*>(how == OkButton ? "cmdOK" : "cmdCancel"), Qt::LeftButton);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), how == OkButton ? QDialog::Accepted : QDialog::Rejected);
    }
}

TEST(PanelsProperties, ImagePageSaysWhatWasOpened)
{
    ImageProperties props = sixDimensions();
    props.m_format = "OME-TIFF, float32";
    props.m_sampletype = "float32";
    props.m_dimsize = {512, 256, 20, 3, 2, 1};
    formImageProperties dialog(props);
    auto* info = dialog.findChild<QLabel*>("labelImageInfo");
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->text(), "Format: OME-TIFF, float32\nSample type: float32\nDimensions: x 512, y 256, z 20, t 3, ch 2, w 1");
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
