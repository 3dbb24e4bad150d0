#include "ui/MessageBox.h"

#include "ui/InjectedAnswers.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>

namespace kavel::ui {
namespace {

InjectedAnswers<MessageBox::Answer, MessageBox::Shown>& Injected() {
    static InjectedAnswers<MessageBox::Answer, MessageBox::Shown> answers;
    return answers;
}

} // namespace

QString MessageBox::Title(Kind kind) {
    switch (kind) {
    case Kind::Error:
        return QStringLiteral("Fehler");
    case Kind::Warning:
        return QStringLiteral("Warnung");
    case Kind::Confirm:
        return QStringLiteral("Bestätigen");
    case Kind::Information:
        return QStringLiteral("Informationen");
    }
    return {};
}

void MessageBox::Error(QWidget* parent, const QString& text) {
    Show(Kind::Error, parent, Title(Kind::Error), text);
}

void MessageBox::Warning(QWidget* parent, const QString& text) {
    Show(Kind::Warning, parent, Title(Kind::Warning), text);
}

bool MessageBox::Confirm(QWidget* parent, const QString& text, const QString& title, Answer defaultAnswer) {
    return Show(Kind::Confirm, parent, title.isEmpty() ? Title(Kind::Confirm) : title, text,
                defaultAnswer == Answer::No ? Answer::No : Answer::Yes) == Answer::Yes;
}

void MessageBox::Information(QWidget* parent, const QString& text) {
    Show(Kind::Information, parent, Title(Kind::Information), text);
}

void MessageBox::SetNextAnswer(Answer answer) {
    Injected().Queue(answer);
}

bool MessageBox::HasPendingAnswers() {
    return Injected().HasPending();
}

const std::vector<MessageBox::Shown>& MessageBox::Recorded() {
    return Injected().Asked();
}

void MessageBox::Reset() {
    Injected().Reset();
}

MessageBox::Answer MessageBox::Show(Kind kind, QWidget* parent, const QString& title, const QString& text,
                                    Answer defaultAnswer) {
    if (const std::optional<Answer> answer = Injected().Take(Shown{kind, title, text, defaultAnswer}))
        return *answer;

    QMessageBox::Icon icon = QMessageBox::Information;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    switch (kind) {
    case Kind::Error:
        icon = QMessageBox::Critical;
        break;
    case Kind::Warning:
        icon = QMessageBox::Warning;
        break;
    case Kind::Confirm:
        icon = QMessageBox::Question;
        buttons = QMessageBox::Yes | QMessageBox::No;
        break;
    case Kind::Information:
        break;
    }
    QMessageBox box(icon, title, text, buttons, parent);
    // Messages often quote log text or file names; none of it may be taken for markup.
    box.setTextFormat(Qt::PlainText);
    if (kind == Kind::Confirm) {
        box.setDefaultButton(defaultAnswer == Answer::No ? QMessageBox::No : QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    }
    const int result = box.exec();
    if (kind != Kind::Confirm) {
        return Answer::Ok;
    }
    return result == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

void CancelModalDialogs() {
    // Bounded: a dialog that refuses to close must not keep the loop going.
    for (int i = 0; i < 32; ++i) {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr)
            return;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    }
}

} // namespace kavel::ui
