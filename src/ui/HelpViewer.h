#pragma once

#include <QString>
#include <filesystem>

class QWidget;

namespace kavel::ui {

// One help page per page of the main window, plus the general overview.
enum class HelpTopic { General, Accesses, RawLines, Exceptions };

// The page's file name inside the help folder ("topicAllgemein.html", ...).
QString HelpTopicFileName(HelpTopic topic);

// "help" beside the running executable, where the build puts the pages.
std::filesystem::path DefaultHelpDir();

// Opens help pages in the desktop's browser through DesktopOpener.
class HelpViewer {
public:
    explicit HelpViewer(std::filesystem::path helpDir = DefaultHelpDir());

    std::filesystem::path TopicPath(HelpTopic topic) const;

    // False, after an error message box owned by parent, when the page is missing or nothing
    // on the desktop could take it; true when the desktop took the page (the same message
    // follows when it finds no browser for it afterwards).
    bool ShowTopic(QWidget* parent, HelpTopic topic) const;

private:
    std::filesystem::path helpDir_;
};

} // namespace kavel::ui
