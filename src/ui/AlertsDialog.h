#pragma once

#include "parsing/AlertRules.h"

#include <QDialog>
#include <QStringList>
#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QTableView;
class QTableWidget;

namespace kavel::ui {

class AlertsController;

// FormAlerts ("Alarme..." in the Extras menu): the rules, with buttons to add, edit, switch
// on or off, delete and test one, and below them the alerts raised in this run. Every change
// goes to the controller, which applies and saves it at once. Prepare fills the rule list
// from the controller; tests drive the buttons' handlers without showing the dialog.
class AlertsDialog final : public QDialog {
public:
    // The rule editor: the edited rule, or nothing when cancelled. Tests put in their answer.
    using RuleEditor = std::function<std::optional<AlertRule>(QWidget* owner, const AlertRule& rule,
                                                              const QStringList& servers)>;

    AlertsDialog(AlertsController& controller, QWidget* parent = nullptr);

    void Prepare();
    // The selected rule's index, or -1.
    int SelectedRule() const;
    void SelectRule(int index);

    void AddExecute();
    void EditExecute();
    void ToggleExecute();
    void DeleteExecute();
    void TestExecute();

    static void SetRuleEditor(RuleEditor editor);

    QTableWidget* RuleList() const { return Rules_; }
    QTableView* FiredList() const { return Fired_; }
    QPushButton* AddButton() const { return Add_; }
    QPushButton* EditButton() const { return Edit_; }
    QPushButton* ToggleButton() const { return Toggle_; }
    QPushButton* DeleteButton() const { return Delete_; }
    QPushButton* TestButton() const { return Test_; }

private:
    std::optional<AlertRule> EditRule(const AlertRule& rule);
    void UpdateButtons();

    AlertsController& Controller_;
    QTableWidget* Rules_ = nullptr;
    QLabel* Unread_ = nullptr;
    QTableView* Fired_ = nullptr;
    QPushButton* Add_ = nullptr;
    QPushButton* Edit_ = nullptr;
    QPushButton* Toggle_ = nullptr;
    QPushButton* Delete_ = nullptr;
    QPushButton* Test_ = nullptr;
    QPushButton* Close_ = nullptr;
};

} // namespace kavel::ui
