#include "ui/FileChooser.h"

#include <QFileDialog>
#include <deque>

namespace kavel::ui {
namespace {

std::deque<std::optional<FileChooser::Choice>>& Answers() {
    static std::deque<std::optional<FileChooser::Choice>> answers;
    return answers;
}

QString& Caption() {
    static QString caption;
    return caption;
}

} // namespace

std::optional<FileChooser::Choice> FileChooser::SaveFile(QWidget* parent, const QString& caption,
                                                         const QString& filters) {
    if (!Answers().empty()) {
        std::optional<Choice> answer = Answers().front();
        Answers().pop_front();
        Caption() = caption;
        return answer;
    }
    QString filter = filters.section(QStringLiteral(";;"), 0, 0);
    const QString file = QFileDialog::getSaveFileName(parent, caption, {}, filters, &filter);
    if (file.isEmpty())
        return std::nullopt;
    return Choice{file, filter};
}

void FileChooser::SetNextAnswer(std::optional<Choice> answer) {
    Answers().push_back(std::move(answer));
}

QString FileChooser::LastCaption() {
    return Caption();
}

void FileChooser::Reset() {
    Answers().clear();
    Caption().clear();
}

} // namespace kavel::ui
