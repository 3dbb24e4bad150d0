#include "ui/AlertRuleDialog.h"

#include "base/TextPattern.h"
#include "ui/MessageBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace kavel::ui {

namespace {

QString Utf8(const std::string& text) {
    return QString::fromStdString(text);
}

AlertRuleDialog::Choice ChoiceOf(const AlertCondition& condition) {
    switch (condition.Kind) {
    case AlertConditionKind::Status:
        if (condition.StatusClass == 5)
            return AlertRuleDialog::Status5xx;
        if (condition.StatusClass == 4)
            return AlertRuleDialog::Status4xx;
        return AlertRuleDialog::StatusCode;
    case AlertConditionKind::Exception:
        return AlertRuleDialog::Exceptions;
    case AlertConditionKind::RateAbove:
        return AlertRuleDialog::RateAbove;
    case AlertConditionKind::RateBelow:
        return AlertRuleDialog::RateBelow;
    case AlertConditionKind::MatchAddress:
        return AlertRuleDialog::MatchAddress;
    case AlertConditionKind::MatchPage:
        return AlertRuleDialog::MatchPage;
    case AlertConditionKind::ReaderMissing:
        return AlertRuleDialog::ReaderMissing;
    }
    return AlertRuleDialog::Status5xx;
}

// The parameter's text of a condition: the code, the codes, the pattern.
QString ParameterOf(const AlertCondition& condition) {
    const std::string text = AlertConditionText(condition);
    switch (ChoiceOf(condition)) {
    case AlertRuleDialog::StatusCode:
        return Utf8(text.substr(7));
    case AlertRuleDialog::Exceptions:
        return Utf8(text.substr(10));
    case AlertRuleDialog::MatchAddress:
    case AlertRuleDialog::MatchPage:
        return Utf8(condition.Pattern);
    default:
        return {};
    }
}

// The condition's text in the file for a choice and its parameter.
std::string ConditionText(int choice, const std::string& parameter) {
    switch (choice) {
    case AlertRuleDialog::Status5xx:
        return "status:5xx";
    case AlertRuleDialog::Status4xx:
        return "status:4xx";
    case AlertRuleDialog::StatusCode:
        return "status:" + parameter;
    case AlertRuleDialog::Exceptions:
        return "exception:" + parameter;
    case AlertRuleDialog::RateAbove:
        return "rate:above";
    case AlertRuleDialog::RateBelow:
        return "rate:below";
    case AlertRuleDialog::MatchAddress:
        return "match:address:" + parameter;
    case AlertRuleDialog::MatchPage:
        return "match:page:" + parameter;
    default:
        return "reader:missing";
    }
}

QSpinBox* NumberBox(const char* name, int minimum, int maximum, QWidget* parent) {
    auto* box = new QSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(minimum, maximum);
    return box;
}

} // namespace

AlertRuleDialog::AlertRuleDialog(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("FormAlertRule"));
    setWindowTitle(QStringLiteral("Alarmregel"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);

    Name_ = new QLineEdit(this);
    Name_->setObjectName(QStringLiteral("EditAlertName"));
    form->addRow(QStringLiteral("&Name:"), Name_);

    Server_ = new QComboBox(this);
    Server_->setObjectName(QStringLiteral("ComboAlertServer"));
    Server_->setEditable(true);
    Server_->setToolTip(QStringLiteral("\"*\" prüft jeden Webserver für sich"));
    form->addRow(QStringLiteral("&Webserver:"), Server_);

    Condition_ = new QComboBox(this);
    Condition_->setObjectName(QStringLiteral("ComboAlertCondition"));
    Condition_->addItems(
        {QStringLiteral("Status 5xx (Serverfehler)"), QStringLiteral("Status 4xx (Clientfehler)"),
         QStringLiteral("Bestimmter Statuscode"), QStringLiteral("Ausnahmen mit den Codes"),
         QStringLiteral("Mindestens N Zugriffe (Ansturm)"), QStringLiteral("Weniger als N Zugriffe (Stille)"),
         QStringLiteral("Absenderadresse passt zu Muster"), QStringLiteral("Seite passt zu Muster"),
         QStringLiteral("Protokolldatei fehlt oder ist nicht lesbar")});
    form->addRow(QStringLiteral("&Bedingung:"), Condition_);

    ParameterLabel_ = new QLabel(QStringLiteral("Wert:"), this);
    Parameter_ = new QLineEdit(this);
    Parameter_->setObjectName(QStringLiteral("EditAlertParameter"));
    form->addRow(ParameterLabel_, Parameter_);

    Threshold_ = NumberBox("EditAlertThreshold", 0, MaxAlertThreshold, this);
    form->addRow(QStringLiteral("&Schwelle N:"), Threshold_);
    Window_ = NumberBox("EditAlertWindow", 0, MaxAlertWindowMinutes, this);
    Window_->setSuffix(QStringLiteral(" min"));
    form->addRow(QStringLiteral("Zeit&fenster:"), Window_);
    Cooldown_ = NumberBox("EditAlertCooldown", 0, MaxAlertCooldownMinutes, this);
    Cooldown_->setSuffix(QStringLiteral(" min"));
    Cooldown_->setToolTip(QStringLiteral("So lange meldet die Regel nach einem Alarm nichts Neues"));
    form->addRow(QStringLiteral("&Ruhezeit:"), Cooldown_);

    On_ = new QCheckBox(QStringLiteral("&Eingeschaltet"), this);
    On_->setObjectName(QStringLiteral("CheckAlertOn"));
    form->addRow(QString(), On_);

    auto* actions = new QHBoxLayout;
    Notify_ = new QCheckBox(QStringLiteral("&Meldung"), this);
    Notify_->setObjectName(QStringLiteral("CheckAlertNotify"));
    Beep_ = new QCheckBox(QStringLiteral("Si&gnalton"), this);
    Beep_->setObjectName(QStringLiteral("CheckAlertBeep"));
    Run_ = new QCheckBox(QStringLiteral("Befehl &ausführen"), this);
    Run_->setObjectName(QStringLiteral("CheckAlertRun"));
    actions->addWidget(Notify_);
    actions->addWidget(Beep_);
    actions->addWidget(Run_);
    actions->addStretch();
    form->addRow(QStringLiteral("Aktionen:"), actions);

    Command_ = new QLineEdit(this);
    Command_->setObjectName(QStringLiteral("EditAlertCommand"));
    form->addRow(QStringLiteral("Be&fehl:"), Command_);
    auto* note =
        new QLabel(QStringLiteral("Programm und Argumente, durch Leerzeichen getrennt; ein Argument mit "
                                  "Leerzeichen in \"...\". Keine Shell. Platzhalter in den Argumenten: "
                                  "{rule} {server} {count} {time} {address} {page} {status}, dieselben "
                                  "Werte auch in KAVEL_RULE, KAVEL_SERVER, ... Nach 30 s wird abgebrochen."),
                   this);
    note->setObjectName(QStringLiteral("LabelAlertCommandNote"));
    note->setTextFormat(Qt::PlainText);
    note->setWordWrap(true);
    form->addRow(QString(), note);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    Ok_ = new QPushButton(QStringLiteral("OK"), this);
    Ok_->setObjectName(QStringLiteral("ButtonAlertRuleOk"));
    Ok_->setDefault(true);
    Cancel_ = new QPushButton(QStringLiteral("Abbrechen"), this);
    Cancel_->setObjectName(QStringLiteral("ButtonAlertRuleCancel"));
    buttons->addWidget(Ok_);
    buttons->addWidget(Cancel_);
    layout->addLayout(buttons);

    connect(Condition_, &QComboBox::currentIndexChanged, this, [this] { ConditionChosen(); });
    connect(Run_, &QCheckBox::toggled, Command_, &QWidget::setEnabled);
    connect(Ok_, &QPushButton::clicked, this, [this] {
        if (std::optional<AlertRule> rule = TakeOverValues()) {
            Confirmed_ = std::move(rule);
            accept();
        }
    });
    connect(Cancel_, &QPushButton::clicked, this, &QDialog::reject);
    resize(560, sizeHint().height());
}

void AlertRuleDialog::ConditionChosen() {
    const int choice = Condition_->currentIndex();
    static const char* const labels[ChoiceCount] = {
        "", "", "Statuscode:", "Codes (mit Komma):", "", "", "Muster:", "Muster:", ""};
    const QString label = QString::fromUtf8(labels[choice >= 0 && choice < ChoiceCount ? choice : 0]);
    ParameterLabel_->setText(label.isEmpty() ? QStringLiteral("Wert:") : label);
    Parameter_->setEnabled(!label.isEmpty());
}

void AlertRuleDialog::Prepare(const AlertRule& rule, const QStringList& servers) {
    Confirmed_.reset();
    Name_->setText(Utf8(rule.Name));
    Server_->clear();
    Server_->addItem(QStringLiteral("*"));
    Server_->addItems(servers);
    Server_->setEditText(Utf8(rule.Server));
    Condition_->setCurrentIndex(ChoiceOf(rule.Condition));
    ConditionChosen();
    Parameter_->setText(ParameterOf(rule.Condition));
    Threshold_->setValue(rule.Threshold);
    Window_->setValue(rule.WindowMinutes);
    Cooldown_->setValue(rule.CooldownMinutes);
    On_->setChecked(rule.On);
    Notify_->setChecked(rule.Actions.Notify);
    Beep_->setChecked(rule.Actions.Beep);
    Run_->setChecked(rule.Actions.Run);
    Command_->setText(Utf8(rule.Command));
    Command_->setEnabled(rule.Actions.Run);
    Name_->setFocus();
}

std::optional<AlertRule> AlertRuleDialog::TakeOverValues() {
    const std::string condition =
        ConditionText(Condition_->currentIndex(), Parameter_->text().trimmed().toStdString());
    const std::optional<AlertCondition> parsed = ParseAlertCondition(condition);
    if (!parsed || condition.find(';') != std::string::npos) {
        MessageBox::Warning(this,
                            QStringLiteral("Die Bedingung braucht einen gültigen Wert: einen dreistelligen "
                                           "Statuscode, Ausnahme-Codes mit Komma getrennt oder einen Text "
                                           "ohne \";\"."));
        Parameter_->setFocus();
        return std::nullopt;
    }
    if (parsed->Kind == AlertConditionKind::MatchAddress || parsed->Kind == AlertConditionKind::MatchPage) {
        const auto compiled = TextPattern::Compile(parsed->Pattern, AlertMatchPatternOptions);
        if (const auto* error = std::get_if<std::string>(&compiled)) {
            MessageBox::Warning(this, QStringLiteral("Das Muster ist kein gültiger regulärer Ausdruck: ") +
                                          Utf8(*error));
            Parameter_->setFocus();
            return std::nullopt;
        }
    }
    AlertRule rule;
    rule.Name = Name_->text().toStdString();
    rule.Server = Server_->currentText().trimmed().toStdString();
    rule.Condition = *parsed;
    rule.Threshold = Threshold_->value();
    rule.WindowMinutes = Window_->value();
    rule.CooldownMinutes = Cooldown_->value();
    rule.On = On_->isChecked();
    rule.Actions = {Notify_->isChecked(), Beep_->isChecked(), Run_->isChecked()};
    rule.Command = Command_->text().trimmed().toStdString();
    if (const std::optional<std::string> problem = AlertRuleProblem(rule)) {
        MessageBox::Warning(this, Utf8(*problem));
        return std::nullopt;
    }
    return rule;
}

std::optional<AlertRule> AlertRuleDialog::Edit(const AlertRule& rule, const QStringList& servers) {
    Prepare(rule, servers);
    if (exec() != QDialog::Accepted)
        return std::nullopt;
    return Confirmed_;
}

} // namespace kavel::ui
