#pragma once

#include "parsing/AlertRules.h"

#include <QDialog>
#include <QStringList>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace kavel::ui {

// FormAlertRule: one alert rule, field by field as the alerts file holds it. Prepare fills
// the controls from a rule, TakeOverValues reads them back (refusing with a message what the
// file cannot hold), so tests drive the dialog without showing it.
class AlertRuleDialog final : public QDialog {
public:
    // The conditions in the order of the choice list.
    enum Choice {
        Status5xx,
        Status4xx,
        StatusCode,
        Exceptions,
        RateAbove,
        RateBelow,
        MatchAddress,
        MatchPage,
        ReaderMissing,
        ChoiceCount
    };

    explicit AlertRuleDialog(QWidget* parent = nullptr);

    // servers: the names offered besides "*".
    void Prepare(const AlertRule& rule, const QStringList& servers);
    // The rule of the controls, or nothing (after a warning) when they make no rule.
    std::optional<AlertRule> TakeOverValues();
    // Modal: the rule the user confirmed, or nothing when cancelled.
    std::optional<AlertRule> Edit(const AlertRule& rule, const QStringList& servers);

    QLineEdit* NameEdit() const { return Name_; }
    QComboBox* ServerBox() const { return Server_; }
    QComboBox* ConditionBox() const { return Condition_; }
    QLineEdit* ParameterEdit() const { return Parameter_; }
    QSpinBox* ThresholdBox() const { return Threshold_; }
    QSpinBox* WindowBox() const { return Window_; }
    QSpinBox* CooldownBox() const { return Cooldown_; }
    QCheckBox* OnBox() const { return On_; }
    QCheckBox* NotifyBox() const { return Notify_; }
    QCheckBox* BeepBox() const { return Beep_; }
    QCheckBox* RunBox() const { return Run_; }
    QLineEdit* CommandEdit() const { return Command_; }
    QPushButton* OkButton() const { return Ok_; }

private:
    void ConditionChosen();

    QLineEdit* Name_ = nullptr;
    QComboBox* Server_ = nullptr;
    QComboBox* Condition_ = nullptr;
    QLabel* ParameterLabel_ = nullptr;
    QLineEdit* Parameter_ = nullptr;
    QSpinBox* Threshold_ = nullptr;
    QSpinBox* Window_ = nullptr;
    QSpinBox* Cooldown_ = nullptr;
    QCheckBox* On_ = nullptr;
    QCheckBox* Notify_ = nullptr;
    QCheckBox* Beep_ = nullptr;
    QCheckBox* Run_ = nullptr;
    QLineEdit* Command_ = nullptr;
    QPushButton* Ok_ = nullptr;
    QPushButton* Cancel_ = nullptr;
    std::optional<AlertRule> Confirmed_;
};

} // namespace kavel::ui
