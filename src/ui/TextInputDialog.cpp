#include "ui/TextInputDialog.h"

#include "ui/DisplayText.h"
#include "ui/InjectedAnswers.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <utility>

namespace kavel::ui {
namespace {

InjectedAnswers<TextInputDialog::Answer, TextInputDialog::Request>& Injected() {
    static InjectedAnswers<TextInputDialog::Answer, TextInputDialog::Request> answers;
    return answers;
}

QLabel* PlainLabel(const QString& objectName, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    // Prompts and notes can quote a host name from the log.
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

TextInputDialog::TextInputDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("FormTextInput"));

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("PanelTextInput"));
    panel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);

    prompt_ = PlainLabel(QStringLiteral("LabelTextInput"), panel);
    prompt_->setText(QStringLiteral("Bitte Text eingeben:"));
    edit_ = new QLineEdit(panel);
    edit_->setObjectName(QStringLiteral("EditTextInput"));
    edit_->setMinimumWidth(385);
    prompt_->setBuddy(edit_);
    note_ = PlainLabel(QStringLiteral("LabelTextInputDesc"), panel);
    note_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->addWidget(prompt_);
    panelLayout->addWidget(edit_);
    panelLayout->addWidget(note_);

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(QStringLiteral("ButtonTextInputOK"));
    ok_->setToolTip(QStringLiteral("Eingaben übernehmen und Dialog schließen"));
    ok_->setDefault(true);
    cancel_ = new QPushButton(QStringLiteral("Abbrechen"), this);
    cancel_->setObjectName(QStringLiteral("ButtonTextInputCancel"));
    cancel_->setToolTip(QStringLiteral("Änderungen verwerfen und Dialog schließen"));
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panel);
    layout->addLayout(buttons);

    resize(433, 137);
}

void TextInputDialog::Prepare(const Request& request) {
    setWindowTitle(request.title);
    prompt_->setText(request.prompt);
    edit_->setToolTip(ToolTipText(request.prompt));
    edit_->setText(request.text);
    edit_->selectAll();
    edit_->setFocus();
    note_->setText(request.note);
}

QString TextInputDialog::EnteredText() const {
    return edit_->text();
}

void TextInputDialog::SetNextAnswer(Answer answer) {
    Injected().Queue(std::move(answer));
}

std::optional<TextInputDialog::Request> TextInputDialog::LastAnsweredRequest() {
    const std::vector<Request>& asked = Injected().Asked();
    if (asked.empty())
        return std::nullopt;
    return asked.back();
}

void TextInputDialog::Reset() {
    Injected().Reset();
}

bool InputText(QWidget* parent, const QString& title, const QString& prompt, QString& text,
               const QString& note) {
    TextInputDialog dialog(parent);
    const TextInputDialog::Request request{title, prompt, text, note};
    dialog.Prepare(request);

    bool confirmed = false;
    if (const std::optional<TextInputDialog::Answer> answer = Injected().Take(request)) {
        if (answer->typed) {
            dialog.TextEdit()->setText(*answer->typed);
        }
        confirmed = answer->confirmed;
    } else {
        confirmed = dialog.exec() == QDialog::Accepted;
    }
    if (confirmed) {
        text = dialog.EnteredText();
    }
    return confirmed;
}

} // namespace kavel::ui
