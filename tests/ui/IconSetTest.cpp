#include "ui/IconSet.h"

#include "UiTestSupport.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QSet>
#include <gtest/gtest.h>

namespace kavel::ui {
namespace {

// True when the image has at least one pixel that is not fully transparent.
bool HasVisiblePixels(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(argb.pixel(x, y)) != 0) {
                return true;
            }
        }
    }
    return false;
}

TEST(IconSetTest, EveryRoleRendersAtSingleAndDoubleScale) {
    test::App();
    for (Icon icon : AllIcons) {
        SCOPED_TRACE(static_cast<int>(icon));
        const QString path = IconResourcePath(icon);
        EXPECT_TRUE(QFile::exists(path)) << path.toStdString();
        const QIcon qicon = IconFor(icon);
        ASSERT_FALSE(qicon.isNull());

        const QPixmap normal = qicon.pixmap(QSize(16, 16), 1.0);
        EXPECT_EQ(normal.size(), QSize(16, 16));
        EXPECT_TRUE(HasVisiblePixels(normal.toImage()));

        // At 200 % the SVG engine draws 32x32 device pixels instead of enlarging a bitmap.
        const QPixmap doubled = qicon.pixmap(QSize(16, 16), 2.0);
        EXPECT_EQ(doubled.size(), QSize(32, 32));
        EXPECT_EQ(doubled.devicePixelRatio(), 2.0);
        EXPECT_TRUE(HasVisiblePixels(doubled.toImage()));
    }
}

TEST(IconSetTest, RolesHaveTheirOwnImagesAndNoImageIsUnused) {
    test::App();
    QSet<QString> used;
    for (Icon icon : AllIcons) {
        const QString path = IconResourcePath(icon);
        EXPECT_FALSE(used.contains(path)) << path.toStdString();
        used.insert(path);
    }
    used.insert(QStringLiteral(":/icons/kavel.svg"));

    IconFor(Icon::Help); // registers the resources
    const QStringList files = QDir(QStringLiteral(":/icons")).entryList(QDir::Files);
    QSet<QString> present;
    for (const QString& file : files) {
        present.insert(QStringLiteral(":/icons/") + file);
    }
    EXPECT_EQ(present, used);
}

TEST(IconSetTest, StoredIndexesFindTheirRole) {
    struct Case {
        int index;
        bool found;
        Icon icon;
    };
    const Case cases[] = {
        {-1, false, Icon::AllServers}, {0, true, Icon::AllServers},   {9, false, Icon::AllServers},
        {27, false, Icon::AllServers}, {30, false, Icon::AllServers}, {34, true, Icon::Buddy},
        {36, true, Icon::Help},        {37, false, Icon::AllServers},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        Icon icon = Icon::AllServers;
        EXPECT_EQ(IconFromIndex(c.index, icon), c.found);
        EXPECT_EQ(icon, c.icon);
    }
}

TEST(IconSetTest, ApplicationIconScales) {
    test::App();
    const QIcon icon = ApplicationIcon();
    ASSERT_FALSE(icon.isNull());
    for (int size : {16, 32, 256}) {
        const QPixmap pixmap = icon.pixmap(QSize(size, size), 1.0);
        EXPECT_EQ(pixmap.size(), QSize(size, size));
        EXPECT_TRUE(HasVisiblePixels(pixmap.toImage()));
    }
}

} // namespace
} // namespace kavel::ui
