#include "ui/HelpViewer.h"

#include "platform/Paths.h"
#include "ui/DesktopOpener.h"
#include "ui/MessageBox.h"

#include <QFile>
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <system_error>
#include <utility>

namespace kavel::ui {

QString HelpTopicFileName(HelpTopic topic) {
    switch (topic) {
    case HelpTopic::General:
        return QStringLiteral("topicAllgemein.html");
    case HelpTopic::Accesses:
        return QStringLiteral("topicZugriffe.html");
    case HelpTopic::RawLines:
        return QStringLiteral("topicRohformat.html");
    case HelpTopic::Exceptions:
        return QStringLiteral("topicAusnahmen.html");
    }
    return {};
}

std::filesystem::path DefaultHelpDir() {
    return platform::Paths::DataDir() / "help";
}

HelpViewer::HelpViewer(std::filesystem::path helpDir)
    : helpDir_(std::move(helpDir)) {}

std::filesystem::path HelpViewer::TopicPath(HelpTopic topic) const {
    return helpDir_ / HelpTopicFileName(topic).toStdString();
}

bool HelpViewer::ShowTopic(QWidget* parent, HelpTopic topic) const {
    const std::filesystem::path page = TopicPath(topic);
    const QString pageText = QFile::decodeName(page.c_str());
    std::error_code ec;
    if (!std::filesystem::is_regular_file(page, ec)) {
        MessageBox::Error(parent,
                          QStringLiteral("Die Hilfeseite \"%1\" wurde nicht gefunden.").arg(pageText));
        return false;
    }
    const QString text = QStringLiteral("Die Hilfeseite \"%1\" konnte nicht geöffnet werden: Es wurde kein "
                                        "Programm gefunden, das Webseiten anzeigt.")
                             .arg(pageText);
    // The desktop may find out only later that no browser is there.
    QPointer<QWidget> later(parent);
    if (!DesktopOpener::Open(QUrl::fromLocalFile(pageText),
                             [later, text] { MessageBox::Error(later, text); })) {
        MessageBox::Error(parent, text);
        return false;
    }
    return true;
}

} // namespace kavel::ui
