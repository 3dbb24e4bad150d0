#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace kavel::ui {

// The desktop's dialog for the name of a file to write, behind a seam that tests answer.
class FileChooser {
public:
    struct Choice {
        QString File;
        // The filter chosen, one of those offered ("CSV (*.csv)").
        QString Filter;
    };

    // Asks for a file to write; none when cancelled. filters are separated by ";;"; the first is
    // preselected.
    static std::optional<Choice> SaveFile(QWidget* parent, const QString& caption, const QString& filters);

    // Test seam: the next question takes this answer (none: cancelled) without a dialog.
    static void SetNextAnswer(std::optional<Choice> answer);
    // The caption of the last question answered from the seam.
    static QString LastCaption();
    static void Reset();
};

} // namespace kavel::ui
