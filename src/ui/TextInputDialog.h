#pragma once

#include <QDialog>
#include <QString>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace kavel::ui {

// Asks for one line of text: the hidden words of the display filter, the domain of a search
// engine. Prepared from a request, read back through EnteredText(), so tests drive it without
// showing it.
class TextInputDialog : public QDialog {
    Q_OBJECT

public:
    struct Request {
        QString title;
        QString prompt;
        QString text;
        QString note;
    };

    // What a test answers in place of the user: confirm or cancel, optionally after typing a
    // new text into the box (without one the box keeps the prepared text).
    struct Answer {
        bool confirmed = false;
        std::optional<QString> typed;
    };

    explicit TextInputDialog(QWidget* parent = nullptr);

    void Prepare(const Request& request);
    QString EnteredText() const;

    QLabel* PromptLabel() const { return prompt_; }
    QLineEdit* TextEdit() const { return edit_; }
    QLabel* NoteLabel() const { return note_; }

    // Test seam: the next InputText takes this answer without showing the dialog.
    static void SetNextAnswer(Answer answer);
    // The request of the last dialog answered from the queue.
    static std::optional<Request> LastAnsweredRequest();
    static void Reset();

private:
    QLabel* prompt_ = nullptr;
    QLineEdit* edit_ = nullptr;
    QLabel* note_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

// Shows the dialog modally with the given title, prompt, initial text and note. On OK the
// entered text replaces text and the result is true; otherwise text is left as it was.
bool InputText(QWidget* parent, const QString& title, const QString& prompt, QString& text,
               const QString& note = {});

} // namespace kavel::ui
