#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;

namespace kavel {
class TextPattern;
}

namespace kavel::ui {

// The quick filter above the lists (PanelQuickFilter): the text field EditQuickFilter
// ("Schnellfilter"), the choice of text or regular expression, case, the column searched, "mark
// only", the count of the matches and the progress of a pass. It compiles what the user types:
// a pattern that does not compile turns the field red with the engine's message as its tip and
// changes nothing, one that does is handed on after a short pause (options at once).
//
// Keys in the field: Esc clears it and hands the focus back (Left); Enter and Shift+Enter ask
// for the next and the previous match while "mark only" is chosen, and apply the text at once
// otherwise.
class QuickFilterBar final : public QWidget {
    Q_OBJECT

public:
    // What is stored with the window's layout.
    struct State {
        QString Text;
        bool Regex = false;
        bool CaseSensitive = false;
        bool MarkOnly = false;
    };

    explicit QuickFilterBar(QWidget* parent = nullptr);
    ~QuickFilterBar() override;

    State CurrentState() const;
    // Applies at once (no pause).
    void SetState(const State& state);

    // The columns of the list shown now: their names and model columns, and the chosen model
    // column (-1: "Alle Spalten", also when it is not among them).
    void SetColumns(const QStringList& names, const std::vector<int>& columns, int chosen);
    // The chosen model column, -1 for every column.
    int ChosenColumn() const;

    // The pattern now in force; none when the field is empty.
    std::shared_ptr<const TextPattern> Pattern() const { return Pattern_; }
    // Whether the text in the field compiles (an invalid one leaves the last pattern in force).
    bool TextValid() const { return TextValid_; }
    // The count label: "n von m Zugriffen" while a pattern is set, nothing otherwise.
    void SetCounts(int matches, int rows);
    // The progress of a pass over a long list; hidden when done.
    void SetProgress(int done, int total, bool running);
    // Ctrl+F: the field gets the focus with its text selected.
    void FocusField();
    // The pause between the last key and the filter; tests make it short.
    void SetTypingPause(int milliseconds) { Pause_.setInterval(milliseconds); }

    QLineEdit* Field() const { return Field_; }

Q_SIGNALS:
    // The pattern or an option changed (Pattern() and CurrentState() tell the new ones).
    void FilterChanged();
    void ColumnChanged(int column);
    void NextMatchRequested(bool backwards);
    // Esc in the field: it was emptied and the focus belongs to the list again.
    void Left();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Compiles the field's text with the options; true when it changed the pattern in force.
    bool Compile();
    void ShowValidity();
    void Apply();

    QLineEdit* Field_;
    QComboBox* Syntax_;
    QCheckBox* Case_;
    QComboBox* Column_;
    QCheckBox* MarkOnly_;
    QLabel* Count_;
    QProgressBar* Progress_;
    QTimer Pause_;
    std::vector<int> Columns_;
    std::shared_ptr<const TextPattern> Pattern_;
    bool TextValid_ = true;
    QString Error_;
    bool Updating_ = false;
};

} // namespace kavel::ui
