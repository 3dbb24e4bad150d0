#include "ui/AlertsDialog.h"

#include "ui/AlertLogModel.h"
#include "ui/AlertRuleDialog.h"
#include "ui/AlertsController.h"
#include "ui/MessageBox.h"

#include <QBrush>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kavel::ui {

namespace {

AlertsDialog::RuleEditor& Editor() {
    static AlertsDialog::RuleEditor editor;
    return editor;
}

constexpr int ConditionColumn = 3;

QString Utf8(const std::string& text) {
    return QString::fromStdString(text);
}

QPushButton* Button(const char* name, const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

} // namespace

AlertsDialog::AlertsDialog(AlertsController& controller, QWidget* parent)
    : QDialog(parent)
    , Controller_(controller) {
    setObjectName(QStringLiteral("FormAlerts"));
    setWindowTitle(QStringLiteral("Alarme"));
    auto* layout = new QVBoxLayout(this);

    auto* rulesLabel = new QLabel(QStringLiteral("&Regeln (kavel.alerts):"), this);
    layout->addWidget(rulesLabel);
    Rules_ = new QTableWidget(0, 9, this);
    Rules_->setObjectName(QStringLiteral("ListViewAlertRules"));
    Rules_->setAccessibleName(QStringLiteral("Alarmregeln"));
    Rules_->setHorizontalHeaderLabels(
        {QStringLiteral("Ein"), QStringLiteral("Name"), QStringLiteral("Server"), QStringLiteral("Bedingung"),
         QStringLiteral("Schwelle"), QStringLiteral("Fenster"), QStringLiteral("Ruhezeit"),
         QStringLiteral("Aktionen"), QStringLiteral("Befehl")});
    Rules_->setSelectionBehavior(QAbstractItemView::SelectRows);
    Rules_->setSelectionMode(QAbstractItemView::SingleSelection);
    Rules_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Rules_->setWordWrap(false);
    Rules_->verticalHeader()->hide();
    Rules_->horizontalHeader()->setStretchLastSection(true);
    rulesLabel->setBuddy(Rules_);
    layout->addWidget(Rules_, 2);

    Unread_ = new QLabel(this);
    Unread_->setObjectName(QStringLiteral("LabelAlertsUnread"));
    Unread_->setTextFormat(Qt::PlainText);
    Unread_->setWordWrap(true);
    layout->addWidget(Unread_);

    auto* buttons = new QHBoxLayout;
    Add_ = Button("ButtonAlertAdd", QStringLiteral("&Hinzufügen..."), this);
    Edit_ = Button("ButtonAlertEdit", QStringLiteral("&Bearbeiten..."), this);
    Toggle_ = Button("ButtonAlertToggle", QStringLiteral("&Ein/Aus"), this);
    Delete_ = Button("ButtonAlertDelete", QStringLiteral("&Löschen"), this);
    Test_ = Button("ButtonAlertTest", QStringLiteral("&Testen"), this);
    for (QPushButton* button : {Add_, Edit_, Toggle_, Delete_, Test_})
        buttons->addWidget(button);
    buttons->addStretch();
    layout->addLayout(buttons);

    auto* firedLabel = new QLabel(QStringLiteral("&Ausgelöste Alarme dieser Sitzung:"), this);
    layout->addWidget(firedLabel);
    Fired_ = new QTableView(this);
    Fired_->setObjectName(QStringLiteral("ListViewAlertsFired"));
    Fired_->setAccessibleName(QStringLiteral("Ausgelöste Alarme"));
    Fired_->setModel(&Controller_.Log());
    Fired_->setSelectionBehavior(QAbstractItemView::SelectRows);
    Fired_->setWordWrap(false);
    Fired_->verticalHeader()->hide();
    SetAlertLogColumnWidths(Fired_);
    firedLabel->setBuddy(Fired_);
    layout->addWidget(Fired_, 3);

    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch();
    Close_ = Button("ButtonAlertsClose", QStringLiteral("Schließen"), this);
    closeRow->addWidget(Close_);
    layout->addLayout(closeRow);

    connect(Add_, &QPushButton::clicked, this, [this] { AddExecute(); });
    connect(Edit_, &QPushButton::clicked, this, [this] { EditExecute(); });
    connect(Toggle_, &QPushButton::clicked, this, [this] { ToggleExecute(); });
    connect(Delete_, &QPushButton::clicked, this, [this] { DeleteExecute(); });
    connect(Test_, &QPushButton::clicked, this, [this] { TestExecute(); });
    connect(Close_, &QPushButton::clicked, this, &QDialog::accept);
    connect(Rules_, &QTableWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
    connect(Rules_, &QTableWidget::cellDoubleClicked, this, [this] { EditExecute(); });
    resize(900, 560);
}

void AlertsDialog::SetRuleEditor(RuleEditor editor) {
    Editor() = std::move(editor);
}

void AlertsDialog::Prepare() {
    const int selected = SelectedRule();
    const AlertRuleList& rules = Controller_.Rules();
    const std::vector<std::string> patternErrors = Controller_.Monitor().PatternErrors();
    std::size_t badPatterns = 0;
    Rules_->setRowCount(static_cast<int>(rules.Count()));
    for (std::size_t i = 0; i < rules.Count(); ++i) {
        const AlertRule& rule = rules[i];
        const QStringList cells = {rule.On ? QStringLiteral("ein") : QStringLiteral("aus"),
                                   Utf8(rule.Name),
                                   Utf8(rule.Server),
                                   Utf8(AlertConditionText(rule.Condition)),
                                   QString::number(rule.Threshold),
                                   QString::number(rule.WindowMinutes) + QStringLiteral(" min"),
                                   QString::number(rule.CooldownMinutes) + QStringLiteral(" min"),
                                   Utf8(AlertActionsText(rule.Actions)),
                                   Utf8(rule.Command)};
        const QString patternError = i < patternErrors.size() ? Utf8(patternErrors[i]) : QString();
        for (int column = 0; column < cells.size(); ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            item->setToolTip(cells[column].toHtmlEscaped());
            if (column == ConditionColumn && !patternError.isEmpty()) {
                // The rule stays as written and is not checked until its pattern compiles.
                item->setForeground(QBrush(Qt::red));
                item->setToolTip((QStringLiteral("Ungültiges Muster: ") + patternError).toHtmlEscaped());
            }
            Rules_->setItem(static_cast<int>(i), column, item);
        }
        if (!patternError.isEmpty())
            ++badPatterns;
    }
    Rules_->resizeColumnsToContents();
    std::size_t unread = 0;
    for (const KeptLine& kept : rules.KeptLines())
        if (!kept.Text.empty() && kept.Text[0] != '#')
            ++unread;
    QStringList notes;
    if (unread > 0)
        notes << QString::number(unread) +
                     QStringLiteral(
                         " Zeile(n) der Datei konnten nicht gelesen werden und bleiben unverändert "
                         "erhalten.");
    if (badPatterns > 0)
        notes << QString::number(badPatterns) +
                     QStringLiteral(
                         " Regel(n) mit ungültigem Muster werden nicht geprüft (der Grund steht im "
                         "Tipp der Bedingung).");
    Unread_->setVisible(!notes.isEmpty());
    Unread_->setText(notes.join(QLatin1Char('\n')));
    SelectRule(std::min(selected, static_cast<int>(rules.Count()) - 1));
    UpdateButtons();
}

int AlertsDialog::SelectedRule() const {
    const QList<QTableWidgetItem*> items = Rules_->selectedItems();
    return items.isEmpty() ? -1 : items.front()->row();
}

void AlertsDialog::SelectRule(int index) {
    if (index < 0) {
        Rules_->clearSelection();
        return;
    }
    Rules_->selectRow(index);
}

void AlertsDialog::UpdateButtons() {
    const bool selected = SelectedRule() >= 0;
    Edit_->setEnabled(selected);
    Toggle_->setEnabled(selected);
    Delete_->setEnabled(selected);
    Test_->setEnabled(selected);
}

std::optional<AlertRule> AlertsDialog::EditRule(const AlertRule& rule) {
    if (Editor())
        return Editor()(this, rule, Controller_.ServerNames());
    AlertRuleDialog editor(this);
    return editor.Edit(rule, Controller_.ServerNames());
}

void AlertsDialog::AddExecute() {
    AlertRule rule;
    rule.Name = "Neue Regel";
    rule.Threshold = 3;
    rule.Actions.Notify = true;
    if (std::optional<AlertRule> added = EditRule(rule)) {
        Controller_.AddRule(std::move(*added));
        Prepare();
        SelectRule(static_cast<int>(Controller_.Rules().Count()) - 1);
    }
}

void AlertsDialog::EditExecute() {
    const int index = SelectedRule();
    if (index < 0)
        return;
    if (std::optional<AlertRule> edited = EditRule(Controller_.Rules()[static_cast<std::size_t>(index)])) {
        Controller_.ReplaceRule(static_cast<std::size_t>(index), std::move(*edited));
        Prepare();
    }
}

void AlertsDialog::ToggleExecute() {
    const int index = SelectedRule();
    if (index < 0)
        return;
    const auto at = static_cast<std::size_t>(index);
    Controller_.SetRuleOn(at, !Controller_.Rules()[at].On);
    Prepare();
}

void AlertsDialog::DeleteExecute() {
    const int index = SelectedRule();
    if (index < 0)
        return;
    const auto at = static_cast<std::size_t>(index);
    const QString question =
        QStringLiteral("Soll die Regel \"%1\" gelöscht werden?").arg(Utf8(Controller_.Rules()[at].Name));
    if (!MessageBox::Confirm(this, question))
        return;
    Controller_.RemoveRule(at);
    Prepare();
}

void AlertsDialog::TestExecute() {
    const int index = SelectedRule();
    if (index >= 0)
        Controller_.TestRule(static_cast<std::size_t>(index));
}

} // namespace kavel::ui
