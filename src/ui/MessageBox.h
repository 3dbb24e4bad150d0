#pragma once

#include <QString>
#include <vector>

class QWidget;

namespace kavel::ui {

// Every message box of the program goes through here: plain text only, with the program's
// four titles. Tests queue the answers beforehand; while an answer is queued no dialog
// appears and the message is recorded instead, so a test can check what the user would have
// read. Main thread only.
class MessageBox {
public:
    enum class Kind { Error, Warning, Confirm, Information };
    enum class Answer { Ok, Yes, No };

    struct Shown {
        Kind kind;
        QString title;
        QString text;
        // The button that Enter presses: Yes or No for a question, Ok otherwise.
        Answer defaultAnswer = Answer::Ok;
    };

    // "Fehler" with one OK button.
    static void Error(QWidget* parent, const QString& text);
    // "Warnung" with one OK button.
    static void Warning(QWidget* parent, const QString& text);
    // A Yes/No question, titled "Bestätigen" unless a title is given; true on Yes. A question
    // whose Yes destroys something gets No as its default button, so that Enter keeps it.
    static bool Confirm(QWidget* parent, const QString& text, const QString& title = {},
                        Answer defaultAnswer = Answer::Yes);
    // "Informationen" with one OK button.
    static void Information(QWidget* parent, const QString& text);

    static QString Title(Kind kind);

    // Test seam: the next message box takes this answer without being shown.
    static void SetNextAnswer(Answer answer);
    static bool HasPendingAnswers();
    // The messages answered from the queue, oldest first.
    static const std::vector<Shown>& Recorded();
    // Forgets queued answers and recorded messages.
    static void Reset();

private:
    static Answer Show(Kind kind, QWidget* parent, const QString& title, const QString& text,
                       Answer defaultAnswer = Answer::Ok);
};

// Cancels every modal dialog of the program that is open (innermost first): a question gets
// its "No", any other dialog closes as with Escape. For ending the program from outside (a stop
// signal) whatever the user was asked. Main thread only.
void CancelModalDialogs();

} // namespace kavel::ui
