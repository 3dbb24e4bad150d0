#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabWidget;

namespace kavel {
class Server;
class SettingsStore;
} // namespace kavel

namespace kavel::ui {

// A text box for a whole number with its small up/down buttons. The box keeps any text the
// user types (the editor converts it only when the values are taken over); the buttons step
// the number inside their range.
class NumberBox final : public QWidget {
public:
    NumberBox(const QString& objectName, int minimum, int maximum, QWidget* parent);
    QLineEdit* Edit() const { return Edit_; }
    QString text() const;
    void setText(const QString& text);
    void StepBy(int steps);
    int Minimum() const { return Minimum_; }
    int Maximum() const { return Maximum_; }

private:
    QLineEdit* Edit_;
    int Minimum_;
    int Maximum_;
};

// FormNewServer: adds a server or changes one in five pages (name, log file, log type, time
// period, update). Prepare fills the pages from the edited definition or the Options
// defaults, TakeOverValues writes them back, so tests drive the dialog without showing it.
// One instance lives for the whole run; the W3C check list keeps its state between new
// servers.
class ServerEditorDialog final : public QDialog {
public:
    // The open-file dialog: the chosen file name, or nothing when the user cancelled.
    using FileChooser = std::function<std::optional<QString>(QWidget* owner, const QString& initial)>;

    explicit ServerEditorDialog(QWidget* parent = nullptr);
    ~ServerEditorDialog() override;

    // None prepares a new definition.
    void SetEditedServer(Server* server) { Edited_ = server; }
    Server* EditedServer() const { return Edited_; }
    // Fills the pages before the dialog shows, with the defaults read from the given store (none:
    // the built-in defaults); a new definition and the next Edit take their defaults from it too.
    void Prepare(const SettingsStore* options = nullptr);
    // Checked whenever the focus leaves a page or another page comes up: ButtonReady is
    // available once every required value has a text.
    void UpdateReadyState();
    // ButtonLogFile: the chosen file becomes the log file; a cancelled choice changes nothing.
    void ChooseLogFile();
    // ButtonReady: the pages' values go into the definition. A name or template that the servers file cannot
    // hold is refused with a message and false. In new mode the definition is handed out by TakeNewServer.
    bool TakeOverValues();
    std::unique_ptr<Server> TakeNewServer();

    // Shows the dialog modally for the server (none: a new one). Returns the new definition
    // for a new server that the user confirmed; an edited server is changed in place.
    std::unique_ptr<Server> Edit(Server* server);

    static void SetFileChooser(FileChooser chooser);

    QTabWidget* Pages() const { return Pages_; }
    QLineEdit* NameEdit() const { return Name_; }
    QLineEdit* LogFileEdit() const { return LogFile_; }
    QPushButton* BrowseButton() const { return Browse_; }
    QRadioButton* NcsaButton() const { return Ncsa_; }
    QRadioButton* W3cButton() const { return W3c_; }
    QListWidget* W3cFields() const { return Fields_; }
    NumberBox* DeleteAfterBox() const { return DeleteAfter_; }
    QRadioButton* DaysButton() const { return Days_; }
    QRadioButton* HoursButton() const { return Hours_; }
    NumberBox* TimeZoneBox() const { return TimeZone_; }
    QSlider* RealtimeSlider() const { return Realtime_; }
    QLabel* RealtimeMaxLabel() const { return RealtimeMax_; }
    NumberBox* PollCycleBox() const { return PollCycle_; }
    QCheckBox* SoundBox() const { return Sound_; }
    QCheckBox* PopupBox() const { return Popup_; }
    QPushButton* ReadyButton() const { return Ready_; }
    // Says what is still missing while ButtonReady is disabled.
    QLabel* ReadyHint() const { return ReadyHint_; }
    QPushButton* CancelButton() const { return Cancel_; }

private:
    QWidget* AddPage(const char* name, const QString& tab, const char* explanationName, const QString& text,
                     QWidget*& frame);
    void OnFocusChanged(QWidget* old, QWidget* now);
    void ApplyValues(Server& server) const;

    Server* Edited_ = nullptr;
    std::unique_ptr<Server> NewServer_;
    const SettingsStore* Options_ = nullptr;
    QTabWidget* Pages_ = nullptr;
    QLineEdit* Name_ = nullptr;
    QLineEdit* LogFile_ = nullptr;
    QPushButton* Browse_ = nullptr;
    QRadioButton* Ncsa_ = nullptr;
    QRadioButton* W3c_ = nullptr;
    QListWidget* Fields_ = nullptr;
    NumberBox* DeleteAfter_ = nullptr;
    QRadioButton* Days_ = nullptr;
    QRadioButton* Hours_ = nullptr;
    NumberBox* TimeZone_ = nullptr;
    QSlider* Realtime_ = nullptr;
    QLabel* RealtimeMax_ = nullptr;
    NumberBox* PollCycle_ = nullptr;
    QCheckBox* Sound_ = nullptr;
    QCheckBox* Popup_ = nullptr;
    QPushButton* Ready_ = nullptr;
    QPushButton* Cancel_ = nullptr;
    QLabel* ReadyHint_ = nullptr;
};

} // namespace kavel::ui
