#include "ui/ServerEditorDialog.h"

#include "acquisition/Server.h"
#include "config/AppSettings.h"
#include "config/SettingsStore.h"
#include "ui/DisplayText.h"
#include "ui/IconSet.h"
#include "ui/MessageBox.h"
#include "ui/WindowLayout.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace kavel::ui {
namespace {

ServerEditorDialog::FileChooser& Chooser() {
    static ServerEditorDialog::FileChooser chooser;
    return chooser;
}

// The whole-number conversion of the number boxes: surrounding blanks and anything else make
// the text no number.
std::optional<std::int32_t> WholeNumber(const QString& text) {
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || text.trimmed() != text)
        return std::nullopt;
    return value;
}

// The servers file has one definition per line with ";" between the fields.
bool FitsServersFile(const QString& text) {
    return !text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('\r')) &&
           !text.contains(QLatin1Char('\n'));
}

// The editor's texts are its own, and names from the definitions appear only in its edit
// boxes; still no label of it is ever taken for markup.
QLabel* PlainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel* Explanation(const char* name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Dark).darker(150));
    label->setPalette(palette);
    return label;
}

QWidget* Note(const char* name, const QString& text, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* icon = PlainLabel(QString(), row);
    icon->setPixmap(row->style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(24, 24));
    layout->addWidget(icon, 0, Qt::AlignTop);
    auto* label = PlainLabel(text, row);
    label->setObjectName(QString::fromLatin1(name));
    label->setWordWrap(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(0, 0, 128));
    label->setPalette(palette);
    layout->addWidget(label, 1);
    return row;
}

template <class Widget>
Widget* Hinted(Widget* widget, const char* name, const QString& hint) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setToolTip(hint);
    return widget;
}

} // namespace

NumberBox::NumberBox(const QString& objectName, int minimum, int maximum, QWidget* parent)
    : QWidget(parent)
    , Edit_(new QLineEdit(this))
    , Minimum_(minimum)
    , Maximum_(maximum) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    Edit_->setObjectName(objectName);
    Edit_->setFixedWidth(Edit_->fontMetrics().horizontalAdvance(QStringLiteral("-8888")) + 16);
    layout->addWidget(Edit_);
    // The arrows sit right at the box and share its height, as a spin box's do.
    const int height = Edit_->sizeHint().height();
    auto* buttons = new QVBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(0);
    const auto arrow = [this, height](Qt::ArrowType type, int steps, const QString& name) {
        auto* button = new QToolButton(this);
        button->setArrowType(type);
        button->setFixedSize(std::max(height * 2 / 3, 14), height / 2);
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setAccessibleName(name);
        connect(button, &QToolButton::clicked, this, [this, steps] { StepBy(steps); });
        return button;
    };
    buttons->addWidget(arrow(Qt::UpArrow, 1, QStringLiteral("Erhöhen")));
    buttons->addWidget(arrow(Qt::DownArrow, -1, QStringLiteral("Verringern")));
    layout->addLayout(buttons);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QString NumberBox::text() const {
    return Edit_->text();
}

void NumberBox::setText(const QString& text) {
    Edit_->setText(text);
}

void NumberBox::StepBy(int steps) {
    const int current = WholeNumber(Edit_->text()).value_or(Minimum_);
    Edit_->setText(QString::number(std::clamp(current + steps, Minimum_, Maximum_)));
}

ServerEditorDialog::ServerEditorDialog(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("FormNewServer"));
    setWindowTitle(QStringLiteral("Server bearbeiten"));
    auto* layout = new QVBoxLayout(this);
    Pages_ = new QTabWidget(this);
    Pages_->setObjectName(QStringLiteral("PageControlNewServer"));
    // Every tab readable at once: the dialog is never narrower than its tabs.
    Pages_->setUsesScrollButtons(false);
    Pages_->setElideMode(Qt::ElideNone);
    layout->addWidget(Pages_, 1);

    QWidget* frame = nullptr;

    // 1. Name.
    AddPage("TabSheetServerName", QStringLiteral("Servername"), "LabelServerName",
            QStringLiteral("Geben Sie den gewünschten Namen des Servers an, mit dem dieser in der Baumliste "
                           "aller überwachten Server angezeigt werden soll. Es empfiehlt sich, den Namen "
                           "korrespondierend zu der symbolischen Domäne des Servers zu wählen "
                           "(beispielsweise \"www.example.org\", \"support.example.org\" usw.)."),
            frame);
    {
        auto* grid = new QGridLayout(frame);
        grid->addWidget(PlainLabel(QStringLiteral("Servername"), frame), 0, 0);
        Name_ = Hinted(new QLineEdit(frame), "EditServerName", QStringLiteral("Servername"));
        grid->addWidget(Name_, 0, 1);
        grid->setRowStretch(1, 1);
    }

    // 2. Log file.
    AddPage("TabSheetLogFile", QStringLiteral("Protokolldatei"), "LabelLogFile",
            QStringLiteral("Wählen Sie den Ort derjenigen Protokolldatei, die überwacht werden soll. Auch "
                           "entfernte Laufwerke (Netzwerklaufwerke) sind möglich. Eine nachträgliche "
                           "Bearbeitung der Protokolldatei eines Webservers ist nicht möglich. Der Webserver "
                           "muss dazu gelöscht und neu angelegt werden."),
            frame);
    {
        auto* grid = new QGridLayout(frame);
        grid->addWidget(PlainLabel(QStringLiteral("Dateiname"), frame), 0, 0);
        LogFile_ = Hinted(new QLineEdit(frame), "EditLogFile", QStringLiteral("Protokolldatei"));
        grid->addWidget(LogFile_, 0, 1);
        Browse_ = Hinted(new QPushButton(QStringLiteral("Durchsuchen..."), frame), "ButtonLogFile",
                         QStringLiteral("Protokolldatei wählen"));
        grid->addWidget(Browse_, 0, 2);
        const char* const help[] = {"%YYYY / %YY = Jahr vierstellig / Jahr zweistellig",
                                    "%MM / %M = Monat zweistellig / Monat",
                                    "%DD / %D = Tag zweistellig / Tag",
                                    "%HH / %H = Stunde zweistellig / Stunde",
                                    "%NN / %N = Minute zweistellig / Minute",
                                    "%% = %"};
        int row = 1;
        for (const char* line : help)
            grid->addWidget(PlainLabel(QString::fromUtf8(line), frame), row++, 1, 1, 2);
        grid->setRowStretch(row, 1);
        connect(Browse_, &QPushButton::clicked, this, [this] { ChooseLogFile(); });
    }

    // 3. Log type.
    AddPage(
        "TabSheetProtocolType", QStringLiteral("Protokolltyp"), "LabelProtocolType",
        QStringLiteral("Protokolldateien haben einen Typ, der die Struktur ihres Inhalts beschreibt. Zur "
                       "Auswahl stehen die Typen \"NCSA Combined Log File Format\" (für Apache Webserver) "
                       "und \"W3C Extended Log File Format\" (für den Microsoft Internet Information "
                       "Server). Geben Sie den gewünschten Typ der Protokolldatei an."),
        frame);
    {
        auto* box = new QVBoxLayout(frame);
        const QString ncsa = QStringLiteral("NCSA Combined Log File Format (Apache)");
        const QString w3c = QStringLiteral("W3C Extended Log File Format (IIS)");
        Ncsa_ = Hinted(new QRadioButton(ncsa, frame), "RadioButtonProtocolTypeNCSACombined", ncsa);
        W3c_ = Hinted(new QRadioButton(w3c, frame), "RadioButtonProtocolTypeW3CExtended", w3c);
        box->addWidget(Ncsa_);
        box->addWidget(W3c_);
        Fields_ =
            Hinted(new QListWidget(frame), "CheckListBoxW3CProperties", QStringLiteral("W3C-Eigenschaften"));
        const char* const fields[W3cFieldCount] = {"Datum [date]",
                                                   "Uhrzeit [time]",
                                                   "Client-IP-Adresse [c-ip]",
                                                   "Benutzername [cs-username]",
                                                   "Dienstname [s-sitename]",
                                                   "Servername [s-computername]",
                                                   "Server-IP-Adresse [s-ip]",
                                                   "Serveranschluss [s-port]",
                                                   "Methode [cs-method]",
                                                   "URI-Stamm [cs-uri-stem]",
                                                   "URI-Abfrage [cs-uri-query]",
                                                   "Protokoll-Status [cs-status]",
                                                   "Protokoll-Unterstatus [cs-substatus]",
                                                   "Win32-Status [sc-win32-status]",
                                                   "Bytes gesendet [sc-bytes]",
                                                   "Bytes empfangen [cs-bytes]",
                                                   "Aufnahmezeit [time-taken]",
                                                   "Protokollversion [cs-version]",
                                                   "Host [cs-host]",
                                                   "Benutzer-Agent [cs(User-Agent)]",
                                                   "Cookies [cs(Cookie)]",
                                                   "Referenzseite [cs(Referer)]"};
        for (const char* field : fields) {
            auto* item = new QListWidgetItem(QString::fromUtf8(field), Fields_);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
            item->setCheckState(Qt::Unchecked);
        }
        box->addWidget(Fields_, 1);
        box->addWidget(Note("LabelProtocolTypeHelp",
                            QStringLiteral("Nach Einstellungsänderungen ist ein Neustart der Anwendung "
                                           "erforderlich, um alle gewünschten Protokolleinträge anzuzeigen."),
                            frame));
        // The field list applies to the W3C format only.
        connect(Ncsa_, &QRadioButton::clicked, this, [this] { Fields_->setEnabled(false); });
        connect(W3c_, &QRadioButton::clicked, this, [this] { Fields_->setEnabled(true); });
    }

    // 4. Time period.
    AddPage(
        "TabSheetDeleteAfterDays", QStringLiteral("Zeitperiode"), "LabelDeleteAfterDays",
        QStringLiteral("Die Einträge einer Protokolldatei können beliebig weit in die Vergangenheit verfolgt "
                       "werden, im allgemeinen sind jedoch (je nach Aktivität des Servers) mehr als drei bis "
                       "vier Tage nicht empfehlenswert, da die Anzahl der zu beobachtenden Einträge "
                       "ansonsten zu hoch wird. Geben Sie die gewünschte Tagesanzahl an."),
        frame);
    {
        auto* grid = new QGridLayout(frame);
        grid->addWidget(PlainLabel(QStringLiteral("Zeitperiode"), frame), 0, 0);
        DeleteAfter_ = new NumberBox(QStringLiteral("EditDeleteAfter"), 1, 100, frame);
        DeleteAfter_->setObjectName(QStringLiteral("UpDownDeleteAfter"));
        DeleteAfter_->Edit()->setToolTip(QStringLiteral("Zeitperiode"));
        grid->addWidget(DeleteAfter_, 0, 1);
        auto* units = new QWidget(frame);
        auto* unitLayout = new QHBoxLayout(units);
        unitLayout->setContentsMargins(0, 0, 0, 0);
        Days_ = Hinted(new QRadioButton(QStringLiteral("Tage"), units), "RadioButtonDeleteAfterDays",
                       QStringLiteral("Zeitperiodeneinheit Tage"));
        Hours_ = Hinted(new QRadioButton(QStringLiteral("Stunden"), units), "RadioButtonDeleteAfterHours",
                        QStringLiteral("Zeitperiodeneinheit Stunden"));
        unitLayout->addWidget(Days_);
        unitLayout->addWidget(Hours_);
        grid->addWidget(units, 0, 2);
        grid->addWidget(PlainLabel(QStringLiteral("Zeitzone"), frame), 1, 0);
        TimeZone_ = new NumberBox(QStringLiteral("EditDeleteAfterDaysTimeZone"), -23, 23, frame);
        TimeZone_->setObjectName(QStringLiteral("UpDownDeleteAfterDaysTimeZone"));
        TimeZone_->Edit()->setToolTip(QStringLiteral("Zeitzone"));
        grid->addWidget(TimeZone_, 1, 1);
        grid->addWidget(PlainLabel(QStringLiteral("Stunden"), frame), 1, 2);
        grid->addWidget(PlainLabel(QStringLiteral("Echtzeit"), frame), 2, 0);
        Realtime_ = new QSlider(Qt::Horizontal, frame);
        Realtime_->setObjectName(QStringLiteral("TrackBarRealtimeLength"));
        Realtime_->setMinimum(1);
        Realtime_->setSingleStep(1);
        Realtime_->setPageStep(1);
        grid->addWidget(Realtime_, 2, 1, 1, 2);
        grid->addWidget(PlainLabel(QStringLiteral("1 min."), frame), 3, 1, Qt::AlignLeft);
        RealtimeMax_ = PlainLabel(QString(), frame);
        RealtimeMax_->setObjectName(QStringLiteral("LabelRealtimeLengthMax"));
        grid->addWidget(RealtimeMax_, 3, 2, Qt::AlignRight);
        grid->addWidget(
            Note("LabelDeleteAfterDaysHelp",
                 QStringLiteral("Nach Einstellungsänderungen auf dieser Registerkarte kann ein Neustart "
                                "der Anwendung erforderlich sein, um alle gewünschten "
                                "Protokolleinträge anzuzeigen."),
                 frame),
            4, 0, 1, 3);
        grid->setRowStretch(5, 1);
    }

    // 5. Update.
    AddPage("TabSheetPollCycle", QStringLiteral("Aktualisierung"), "LabelPollCycle",
            QStringLiteral(
                "Der Inhalt der Protokolldatei wird in regelmäßigen Zeitabständen auf das Vorhandensein "
                "neuer Einträge überprüft. Je nach Aktivität des Webservers kann ein kürzeres oder "
                "längeres Aktualisierungsintervall notwendig sein. Im allgemeinen sind fünf Sekunden "
                "ausreichend. Geben Sie das gewünschte Aktualisierungsintervall an."),
            frame);
    {
        auto* grid = new QGridLayout(frame);
        grid->addWidget(PlainLabel(QStringLiteral("Aktualisierungsintervall"), frame), 0, 0);
        PollCycle_ = new NumberBox(QStringLiteral("EditPollCycle"), 1, 100, frame);
        PollCycle_->setObjectName(QStringLiteral("UpDownPollCycle"));
        PollCycle_->Edit()->setToolTip(QStringLiteral("Aktualisierungsintervall"));
        grid->addWidget(PollCycle_, 0, 1);
        grid->addWidget(PlainLabel(QStringLiteral("Sekunden"), frame), 0, 2);
        const QString sound = QStringLiteral("Neue Webserverzugriffe akustisch signalisieren");
        const QString popup =
            QStringLiteral("Neue Webserverzugriffe visuell über Popup-Fenster signalisieren");
        Sound_ = Hinted(new QCheckBox(sound, frame), "CheckBoxSoundNewConnect", sound);
        Popup_ = Hinted(new QCheckBox(popup, frame), "CheckBoxQuickInformNewConnect", popup);
        grid->addWidget(Sound_, 1, 0, 1, 3);
        grid->addWidget(Popup_, 2, 0, 1, 3);
        grid->setColumnStretch(2, 1);
        grid->setRowStretch(3, 1);
    }

    auto* buttons = new QHBoxLayout;
    // What keeps "Fertigstellen" disabled, said next to it.
    ReadyHint_ = PlainLabel(QString(), this);
    ReadyHint_->setObjectName(QStringLiteral("LabelReadyHint"));
    ReadyHint_->setWordWrap(true);
    buttons->addWidget(ReadyHint_, 1);
    Ready_ = Hinted(new QPushButton(QStringLiteral("Fe&rtigstellen"), this), "ButtonReady",
                    QStringLiteral("Werte übernehmen und Maske schließen"));
    Ready_->setEnabled(false);
    Ready_->setDefault(true);
    Cancel_ = Hinted(new QPushButton(QStringLiteral("Abbre&chen"), this), "ButtonCancel",
                     QStringLiteral("Maske schließen, ohne die Werte zu übernehmen"));
    buttons->addWidget(Ready_);
    buttons->addWidget(Cancel_);
    layout->addLayout(buttons);
    connect(Ready_, &QPushButton::clicked, this, [this] {
        if (TakeOverValues())
            accept();
    });
    connect(Cancel_, &QPushButton::clicked, this, &QDialog::reject);
    // The ready state is checked again when the focus leaves a page or another page comes up.
    connect(qApp, &QApplication::focusChanged, this, &ServerEditorDialog::OnFocusChanged);
    connect(Pages_, &QTabWidget::currentChanged, this, [this] { UpdateReadyState(); });
    resize(std::max(505, minimumSizeHint().width()), std::max(394, sizeHint().height()));
}

ServerEditorDialog::~ServerEditorDialog() {
    // Hiding a shown dialog moves the focus while QDialog's part is destroyed, after this part.
    disconnect(qApp, &QApplication::focusChanged, this, nullptr);
}

QWidget* ServerEditorDialog::AddPage(const char* name, const QString& tab, const char* explanationName,
                                     const QString& text, QWidget*& frame) {
    auto* page = new QWidget(Pages_);
    page->setObjectName(QString::fromLatin1(name));
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(Explanation(explanationName, text, page));
    auto* group = new QGroupBox(page);
    layout->addWidget(group, 1);
    frame = group;
    Pages_->addTab(page, tab);
    return page;
}

void ServerEditorDialog::OnFocusChanged(QWidget* old, QWidget* now) {
    if (old == nullptr || !isAncestorOf(old))
        return;
    for (int i = 0; i < Pages_->count(); ++i) {
        QWidget* page = Pages_->widget(i);
        if (page->isAncestorOf(old) && (now == nullptr || !page->isAncestorOf(now))) {
            UpdateReadyState();
            return;
        }
    }
}

void ServerEditorDialog::SetFileChooser(FileChooser chooser) {
    Chooser() = std::move(chooser);
}

void ServerEditorDialog::Prepare(const SettingsStore* options) {
    Options_ = options;
    // 1.-3.
    const int minutes = StoredInt(options, "TimeRevisitorAfterMinutes", 10);
    Pages_->setCurrentIndex(0);
    RealtimeMax_->setText(QStringLiteral("%1 min.").arg(minutes));
    Realtime_->setRange(1, minutes);
    const auto setUnit = [this](std::int32_t unit) {
        if (unit == 0)
            Days_->setChecked(true);
        else if (unit == 1)
            Hours_->setChecked(true);
    };
    if (Edited_ != nullptr) {
        const Server& server = *Edited_;
        Name_->setText(DisplayText(server.Name()));
        LogFile_->setText(DisplayText(server.LogFileName()));
        setWindowTitle(
            QString::fromStdString(CaptionWithPrefix("Server bearbeiten", Name_->text().toStdString())));
        Browse_->setEnabled(false);
        Fields_->setEnabled(false);
        LogFile_->setEnabled(true);
        Sound_->setChecked(server.SoundOnAccess());
        Popup_->setChecked(server.PopupOnDocument());
        if (server.LogType() == LogFormat::Ncsa) {
            Ncsa_->setChecked(true);
        } else if (server.LogType() == LogFormat::W3c) {
            Fields_->setEnabled(true);
            W3c_->setChecked(true);
            for (int i = 0; i < W3cFieldCount; ++i)
                Fields_->item(i)->setCheckState(server.W3cField(i) ? Qt::Checked : Qt::Unchecked);
        }
        setUnit(static_cast<std::int32_t>(server.TimeDeleteAfterUnit()));
        DeleteAfter_->setText(QString::number(server.TimeDeleteAfter()));
        PollCycle_->setText(QString::number(server.TimeLogPollCycleInMs() / 1000));
        TimeZone_->setText(QString::number(server.TimeZone()));
        Realtime_->setValue(server.TimeRevisitorAfterMinutes());
    } else {
        setWindowTitle(QString::fromStdString(CaptionWithPrefix("Server bearbeiten", "Neuer Server")));
        Name_->clear();
        LogFile_->clear();
        LogFile_->setEnabled(true);
        Browse_->setEnabled(true);
        Sound_->setChecked(false);
        Popup_->setChecked(true);
        // Both off: the buttons of one group cannot be unchecked one by one.
        Ncsa_->setAutoExclusive(false);
        W3c_->setAutoExclusive(false);
        Ncsa_->setChecked(false);
        W3c_->setChecked(false);
        Ncsa_->setAutoExclusive(true);
        W3c_->setAutoExclusive(true);
        setUnit(StoredInt(options, "TimeDeleteAfterUnit", 0));
        DeleteAfter_->setText(QString::number(StoredInt(options, "TimeDeleteAfter", 3)));
        PollCycle_->setText(QString::number(StoredInt(options, "TimeLogPollCycleInMs", 5000) / 1000));
        TimeZone_->setText(QStringLiteral("0"));
        Realtime_->setValue(minutes);
    }
    UpdateReadyState();
}

void ServerEditorDialog::UpdateReadyState() {
    QStringList missing;
    if (Name_->text().isEmpty())
        missing.push_back(QStringLiteral("Servername"));
    if (LogFile_->text().isEmpty())
        missing.push_back(QStringLiteral("Protokolldatei"));
    if (!Ncsa_->isChecked() && !W3c_->isChecked())
        missing.push_back(QStringLiteral("Protokolltyp"));
    if (DeleteAfter_->text().isEmpty())
        missing.push_back(QStringLiteral("Zeitperiode"));
    if (PollCycle_->text().isEmpty())
        missing.push_back(QStringLiteral("Aktualisierungsintervall"));
    Ready_->setEnabled(missing.isEmpty());
    ReadyHint_->setText(missing.isEmpty()
                            ? QString()
                            : QStringLiteral("Noch anzugeben: ") + missing.join(QStringLiteral(", ")));
}

void ServerEditorDialog::ChooseLogFile() {
    std::optional<QString> chosen;
    if (Chooser()) {
        chosen = Chooser()(this, LogFile_->text());
    } else {
        const QString file = QFileDialog::getOpenFileName(this, {}, LogFile_->text());
        if (!file.isEmpty())
            chosen = file;
    }
    if (!chosen)
        return;
    LogFile_->setText(*chosen);
    UpdateReadyState();
}

void ServerEditorDialog::ApplyValues(Server& server) const {
    // 2.-6.
    server.SetName(Name_->text().toStdString());
    server.SetLogFileName(LogFile_->text().toStdString());
    server.SetSoundOnAccess(Sound_->isChecked());
    server.SetPopupOnDocument(Popup_->isChecked());
    if (Ncsa_->isChecked())
        server.SetLogType(LogFormat::Ncsa);
    else if (W3c_->isChecked())
        server.SetLogType(LogFormat::W3c);
    server.SetTimeDeleteAfterUnit(Days_->isChecked() ? KeepUnit::Days : KeepUnit::Hours);
    for (int i = 0; i < W3cFieldCount; ++i)
        server.SetW3cField(i, Fields_->item(i)->checkState() == Qt::Checked);
    // 7. The first text that is no whole number ends the conversion: it and the fields after
    // it keep their values.
    const std::optional<std::int32_t> period = WholeNumber(DeleteAfter_->text());
    if (!period)
        return;
    server.SetTimeDeleteAfter(*period);
    const std::optional<std::int32_t> poll = WholeNumber(PollCycle_->text());
    if (!poll)
        return;
    server.SetTimeLogPollCycleInMs(static_cast<std::int32_t>(static_cast<std::int64_t>(*poll) * 1000));
    const std::optional<std::int32_t> zone = WholeNumber(TimeZone_->text());
    if (!zone)
        return;
    server.SetTimeZone(*zone);
    server.SetTimeRevisitorAfterMinutes(Realtime_->value());
}

bool ServerEditorDialog::TakeOverValues() {
    if (!FitsServersFile(Name_->text())) {
        MessageBox::Warning(this, QStringLiteral("Der Servername darf weder ein Semikolon (;) noch einen "
                                                 "Zeilenumbruch enthalten."));
        Pages_->setCurrentIndex(0);
        return false;
    }
    if (!FitsServersFile(LogFile_->text())) {
        MessageBox::Warning(this,
                            QStringLiteral("Der Dateiname der Protokolldatei darf weder ein Semikolon (;) "
                                           "noch einen Zeilenumbruch enthalten."));
        Pages_->setCurrentIndex(1);
        return false;
    }
    if (Edited_ != nullptr) {
        ApplyValues(*Edited_);
        NewServer_.reset();
    } else {
        NewServer_ = std::make_unique<Server>(Options_);
        ApplyValues(*NewServer_);
    }
    return true;
}

std::unique_ptr<Server> ServerEditorDialog::TakeNewServer() {
    return std::move(NewServer_);
}

std::unique_ptr<Server> ServerEditorDialog::Edit(Server* server) {
    SetEditedServer(server);
    NewServer_.reset();
    Prepare(Options_);
    const int result = exec();
    SetEditedServer(nullptr);
    if (result != QDialog::Accepted)
        return nullptr;
    return TakeNewServer();
}

} // namespace kavel::ui
