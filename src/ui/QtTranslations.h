#pragma once

#include <QString>

class QCoreApplication;

namespace kavel::ui {

// Qt's own texts (standard buttons, the open-file dialog, key names such as "Entf") in German,
// whatever language the desktop speaks: the program's own texts are German too.
//
// Installs Qt's German catalogue ("qtbase_de") from the folder, by default the one Qt was built
// to look in (QLibraryInfo::TranslationsPath). True when it was found and installed; a missing
// catalogue leaves Qt's English texts in place and is no error.
bool InstallQtTranslations(QCoreApplication& app, const QString& folder = {});

} // namespace kavel::ui
