#include "ui/QtTranslations.h"

#include "UiTestSupport.h"
#include "support/TempFolder.h"

#include <QDialogButtonBox>
#include <QKeySequence>
#include <QLibraryInfo>
#include <QPushButton>
#include <gtest/gtest.h>

namespace kavel::ui {
namespace {

// Runs before the catalogue is installed (CTest runs every test in its own process).
TEST(QtTranslationsTest, AMissingCatalogueLeavesQtsOwnTextsAndIsNoError) {
    QApplication& app = test::App();
    kavel::test::TempFolder empty;
    EXPECT_FALSE(InstallQtTranslations(app, QString::fromStdString(empty.Path().string())));
    EXPECT_EQ(QKeySequence(Qt::Key_Delete).toString(QKeySequence::NativeText), QStringLiteral("Del"));
}

// Needs Debian's qt6-translations-l10n (scripts/install-deps.sh installs it).
TEST(QtTranslationsTest, QtsOwnTextsSpeakGermanOnceTheCatalogueIsInstalled) {
    QApplication& app = test::App();
    ASSERT_TRUE(InstallQtTranslations(app))
        << "qtbase_de.qm not found in " << QLibraryInfo::path(QLibraryInfo::TranslationsPath).toStdString();
    EXPECT_EQ(QKeySequence(Qt::Key_Delete).toString(QKeySequence::NativeText), QStringLiteral("Entf"));
    EXPECT_EQ(QKeySequence(Qt::Key_Insert).toString(QKeySequence::NativeText), QStringLiteral("Einfg"));
    // The key names a file keeps stay the portable English ones.
    EXPECT_EQ(QKeySequence(Qt::Key_Delete).toString(QKeySequence::PortableText), QStringLiteral("Del"));
    QDialogButtonBox buttons(QDialogButtonBox::Yes | QDialogButtonBox::No | QDialogButtonBox::Cancel);
    EXPECT_EQ(buttons.button(QDialogButtonBox::Yes)->text().remove(QLatin1Char('&')), QStringLiteral("Ja"));
    EXPECT_EQ(buttons.button(QDialogButtonBox::No)->text().remove(QLatin1Char('&')), QStringLiteral("Nein"));
    EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text().remove(QLatin1Char('&')),
              QStringLiteral("Abbrechen"));
}

} // namespace
} // namespace kavel::ui
