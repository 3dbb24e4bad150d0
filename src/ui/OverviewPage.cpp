#include "ui/OverviewPage.h"

#include "acquisition/EntryQueue.h"
#include "platform/Clock.h"
#include "platform/LocaleFormat.h"
#include "ui/DisplayText.h"
#include "ui/MinuteChart.h"
#include "ui/OverviewPanelModel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>

namespace kavel::ui {

namespace {

// A recount yields to the event loop after this long.
constexpr std::chrono::milliseconds SliceTime{20};
// Entries looked at between two looks at the clock.
constexpr std::size_t SliceStep = 2048;
constexpr int TopRows = 10;

QString Thousands(std::int64_t value) {
    return QString::fromStdString(platform::CurrentLocaleFormat().Thousands(value));
}

QString Percent(double share) {
    return QStringLiteral("%1 %").arg(QLocale(QLocale::German).toString(100.0 * share, 'f', 1));
}

struct PanelText {
    SummaryPanel Panel;
    const char* Name;   // of the object names
    const char* Title;  // UTF-8
    const char* Header; // of the key column, UTF-8
};

// Pages stands for the documents too: the toggle switches between the two.
constexpr PanelText PanelTexts[] = {
    {SummaryPanel::Status, "Status", "Statuscodes", "Status"},
    {SummaryPanel::Agents, "Agents", "Browser", "Browser"},
    {SummaryPanel::Pages, "Pages", "Seiten", "Seite"},
    {SummaryPanel::NotFound, "NotFound", "Nicht gefunden (404)", "Seite"},
    {SummaryPanel::Clients, "Clients", "Absender", "Absenderadresse"},
    {SummaryPanel::Referers, "Referers", "Verweisende Sites", "Site"},
    {SummaryPanel::Spiders, "Spiders", "Suchmaschinen", "Suchmaschine"},
    {SummaryPanel::Exceptions, "Exceptions", "Ausnahmen", "Art"},
};

struct ClassLook {
    StatusClass Class;
    const char* Label;
    QColor Colour;
};

const ClassLook ClassLooks[] = {
    {StatusClass::Success, "2xx", QColor(70, 160, 70)},
    {StatusClass::Redirection, "3xx", QColor(70, 120, 200)},
    {StatusClass::ClientError, "4xx", QColor(230, 150, 30)},
    {StatusClass::ServerError, "5xx", QColor(205, 40, 40)},
    {StatusClass::Informational, "1xx", QColor(150, 150, 150)},
    {StatusClass::Other, "andere", QColor(110, 110, 110)},
};

void SetUpPanelView(QTableView* view) {
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->setTextElideMode(Qt::ElideMiddle);
    view->setSortingEnabled(true);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
    view->horizontalHeader()->setSectionResizeMode(OverviewPanelModel::ColumnKey, QHeaderView::Stretch);
    view->horizontalHeader()->setSectionResizeMode(OverviewPanelModel::ColumnCount,
                                                   QHeaderView::ResizeToContents);
    view->horizontalHeader()->setSectionResizeMode(OverviewPanelModel::ColumnShare, QHeaderView::Fixed);
    view->horizontalHeader()->resizeSection(OverviewPanelModel::ColumnShare,
                                            view->fontMetrics().horizontalAdvance(QStringLiteral("100,0 %")) +
                                                40);
    view->horizontalHeader()->setSortIndicator(OverviewPanelModel::ColumnCount, Qt::DescendingOrder);
    view->setItemDelegateForColumn(OverviewPanelModel::ColumnShare, new ShareBarDelegate(view));
}

} // namespace

// The shares of the status classes as one bar of coloured parts, the largest labelled.
class StatusShareBar final : public QWidget {
public:
    explicit StatusShareBar(QWidget* parent)
        : QWidget(parent) {
        setObjectName(QStringLiteral("BarOverviewStatusClasses"));
        setAccessibleName(QStringLiteral("Anteile der Statusklassen"));
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setMinimumHeight(fontMetrics().height() + 6);
    }

    void SetTotals(const SummaryTotals& totals) {
        Totals_ = totals;
        QStringList parts;
        for (const ClassLook& look : ClassLooks) {
            const std::int64_t count = Totals_.ByClass[static_cast<std::size_t>(look.Class)];
            if (count > 0)
                parts << QStringLiteral("%1: %2").arg(QString::fromUtf8(look.Label), Percent(Share(count)));
        }
        const QString text = parts.join(QStringLiteral(", "));
        setAccessibleDescription(text);
        setToolTip(ToolTipText(text));
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QRect area = rect().adjusted(0, 1, -1, -2);
        painter.fillRect(area, palette().color(QPalette::Base));
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(area);
        if (Totals_.Accesses <= 0)
            return;
        double x = area.left() + 1;
        for (const ClassLook& look : ClassLooks) {
            const std::int64_t count = Totals_.ByClass[static_cast<std::size_t>(look.Class)];
            if (count <= 0)
                continue;
            const double width = (area.width() - 1) * Share(count);
            const QRect part(static_cast<int>(x), area.top() + 1,
                             std::max(1, static_cast<int>(x + width) - static_cast<int>(x)),
                             area.height() - 1);
            painter.fillRect(part, look.Colour);
            const QString label =
                QStringLiteral("%1 %2").arg(QString::fromUtf8(look.Label), Percent(Share(count)));
            if (fontMetrics().horizontalAdvance(label) + 6 < part.width()) {
                painter.setPen(Qt::white);
                painter.drawText(part, Qt::AlignCenter, label);
            }
            x += width;
        }
    }

private:
    double Share(std::int64_t count) const {
        return Totals_.Accesses > 0 ? static_cast<double>(count) / static_cast<double>(Totals_.Accesses)
                                    : 0.0;
    }

    SummaryTotals Totals_;
};

struct OverviewPage::Panel {
    SummaryPanel Shown;
    // Of the object names.
    QString Name;
    QString Title;
    QTableView* View = nullptr;
    OverviewPanelModel* Model = nullptr;
    // "mehr...": the whole table, while its window is open.
    QDialog* Whole = nullptr;
    OverviewPanelModel* WholeModel = nullptr;
};

OverviewPage::OverviewPage(EntryQueue& queue, const SpiderList& spiders, QWidget* parent)
    : QWidget(parent)
    , Tracker_(std::make_unique<SummaryTracker>(queue, spiders)) {
    setObjectName(QStringLiteral("TabSheetOverview"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("ScrollBoxOverview"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    outer->addWidget(scroll);
    auto* content = new QWidget(scroll);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(6, 6, 6, 6);

    auto* head = new QHBoxLayout;
    Totals_ = new QLabel(content);
    Totals_->setObjectName(QStringLiteral("LabelOverviewTotals"));
    Totals_->setTextFormat(Qt::PlainText);
    Totals_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    head->addWidget(Totals_, 1);
    State_ = new QLabel(content);
    State_->setObjectName(QStringLiteral("LabelOverviewState"));
    State_->setTextFormat(Qt::PlainText);
    head->addWidget(State_);
    auto* spanLabel = new QLabel(QStringLiteral("&Zeitraum:"), content);
    spanLabel->setTextFormat(Qt::PlainText);
    SpanChoice_ = new QComboBox(content);
    SpanChoice_->setObjectName(QStringLiteral("ComboBoxOverviewSpan"));
    SpanChoice_->setAccessibleName(QStringLiteral("Zeitraum"));
    SpanChoice_->addItem(QStringLiteral("letzte Stunde"), static_cast<int>(SummarySpan::LastHour));
    SpanChoice_->addItem(QStringLiteral("heute"), static_cast<int>(SummarySpan::Today));
    SpanChoice_->addItem(QStringLiteral("Haltezeit"), static_cast<int>(SummarySpan::KeepPeriod));
    spanLabel->setBuddy(SpanChoice_);
    head->addWidget(spanLabel);
    head->addWidget(SpanChoice_);
    layout->addLayout(head);
    connect(SpanChoice_, &QComboBox::activated, this,
            [this](int index) { SetSpan(static_cast<SummarySpan>(SpanChoice_->itemData(index).toInt())); });

    Shares_ = new StatusShareBar(content);
    layout->addWidget(Shares_);
    Chart_ = new MinuteChart(content);
    layout->addWidget(Chart_);

    auto* grid = new QGridLayout;
    grid->setSpacing(6);
    CreatePanels(grid, content);
    layout->addLayout(grid);
    layout->addStretch(1);
    scroll->setWidget(content);

    SliceTimer_.setSingleShot(true);
    SliceTimer_.setInterval(0);
    SliceTimer_.callOnTimeout(this, [this] { RunSlice(); });
    RefreshTimer_.setInterval(1000);
    RefreshTimer_.callOnTimeout(this, [this] { Tick(); });
    Recount();
}

OverviewPage::~OverviewPage() = default;

void OverviewPage::CreatePanels(QGridLayout* grid, QWidget* content) {
    int position = 0;
    for (const PanelText& text : PanelTexts) {
        auto panel = std::make_unique<Panel>();
        panel->Shown = text.Panel == SummaryPanel::Pages ? SummaryPanel::Documents : text.Panel;
        panel->Title = QString::fromUtf8(text.Title);
        const QString name = QString::fromLatin1(text.Name);
        panel->Name = name;
        auto* box = new QGroupBox(panel->Title, content);
        box->setObjectName(QStringLiteral("GroupBoxOverview") + name);
        auto* boxLayout = new QVBoxLayout(box);
        boxLayout->setContentsMargins(4, 4, 4, 4);
        boxLayout->setSpacing(2);
        panel->Model = new OverviewPanelModel(panel->Shown, QString::fromUtf8(text.Header), box);
        panel->View = new QTableView(box);
        panel->View->setObjectName(QStringLiteral("ListViewOverview") + name);
        panel->View->setAccessibleName(panel->Title);
        panel->View->setModel(panel->Model);
        SetUpPanelView(panel->View);
        const int rows = panel->View->verticalHeader()->defaultSectionSize() * TopRows;
        panel->View->setFixedHeight(rows + panel->View->horizontalHeader()->sizeHint().height() + 4);
        panel->View->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        boxLayout->addWidget(panel->View);
        auto* foot = new QHBoxLayout;
        if (text.Panel == SummaryPanel::Pages) {
            DocumentsOnly_ = new QCheckBox(QStringLiteral("Nur &Dokumente"), box);
            DocumentsOnly_->setObjectName(QStringLiteral("CheckBoxOverviewDocumentsOnly"));
            DocumentsOnly_->setAccessibleName(QStringLiteral("Nur Dokumente"));
            DocumentsOnly_->setChecked(true);
            foot->addWidget(DocumentsOnly_);
            Panel* pages = panel.get();
            connect(DocumentsOnly_, &QCheckBox::toggled, this, [this, pages](bool documents) {
                pages->Shown = documents ? SummaryPanel::Documents : SummaryPanel::Pages;
                pages->Model->SetPanel(pages->Shown);
                if (pages->WholeModel != nullptr)
                    pages->WholeModel->SetPanel(pages->Shown);
                ShowPanel(*pages);
            });
        }
        foot->addStretch(1);
        auto* more = new QPushButton(QStringLiteral("mehr..."), box);
        more->setObjectName(QStringLiteral("ButtonOverview") + name + QStringLiteral("More"));
        more->setAccessibleName(panel->Title + QStringLiteral(": mehr..."));
        more->setAutoDefault(false);
        foot->addWidget(more);
        boxLayout->addLayout(foot);
        const SummaryPanel which = text.Panel;
        connect(more, &QPushButton::clicked, this, [this, which] { ShowWholePanel(which); });
        Panel* raw = panel.get();
        connect(panel->View, &QTableView::activated, this, [this, raw](const QModelIndex& index) {
            const OverviewPanelModel::Row* row = raw->Model->RowAt(index.row());
            if (row != nullptr && Activated_)
                Activated_(raw->Shown, row->Number, row->Text);
        });
        grid->addWidget(box, position / 2, position % 2);
        Panels_.push_back(std::move(panel));
        ++position;
    }
}

OverviewPage::Panel& OverviewPage::PanelFor(SummaryPanel panel) {
    return *const_cast<Panel*>(PanelOf(panel));
}

const OverviewPage::Panel* OverviewPage::PanelOf(SummaryPanel panel) const {
    const SummaryPanel wanted = panel == SummaryPanel::Documents ? SummaryPanel::Pages : panel;
    for (std::size_t i = 0; i < std::size(PanelTexts); ++i)
        if (PanelTexts[i].Panel == wanted)
            return Panels_[i].get();
    return nullptr;
}

OverviewPanelModel* OverviewPage::PanelModel(SummaryPanel panel) const {
    const Panel* found = PanelOf(panel);
    return found != nullptr ? found->Model : nullptr;
}

void OverviewPage::SetFilter(const Server* server, std::function<bool(const LogEntry&)> admit) {
    Server_ = server;
    Admit_ = std::move(admit);
    Recount();
}

void OverviewPage::SetSpan(SummarySpan span) {
    Span_ = span;
    const int index = SpanChoice_->findData(static_cast<int>(span));
    if (index >= 0 && index != SpanChoice_->currentIndex())
        SpanChoice_->setCurrentIndex(index);
    Recount();
}

void OverviewPage::SetChoices(SummarySpan span, bool documentsOnly) {
    DocumentsOnly_->setChecked(documentsOnly);
    SetSpan(span);
}

bool OverviewPage::DocumentsOnly() const {
    return DocumentsOnly_->isChecked();
}

void OverviewPage::Recount() {
    if (!Tracker_)
        return;
    Tracker_->Restart({Server_, Span_, Admit_}, platform::Now());
    State_->setText(QStringLiteral("wird gezählt..."));
    SliceTimer_.start();
}

void OverviewPage::RunSlice() {
    if (!Tracker_)
        return;
    const auto start = std::chrono::steady_clock::now();
    bool done = false;
    while (!done && std::chrono::steady_clock::now() - start < SliceTime)
        done = Tracker_->Step(SliceStep);
    LongestSliceMs_ =
        std::max(LongestSliceMs_,
                 std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    if (!done) {
        SliceTimer_.start();
        return;
    }
    State_->clear();
    Dirty_ = true;
    Refresh();
}

void OverviewPage::FinishRecount() {
    while (Tracker_ && !Tracker_->Step(SliceStep)) {
    }
    SliceTimer_.stop();
    State_->clear();
    Dirty_ = true;
}

void OverviewPage::EntriesTakenOver() {
    if (!Tracker_)
        return;
    Tracker_->CatchUp();
    Dirty_ = true;
}

void OverviewPage::Forget(const LogEntry& entry) {
    if (!Tracker_)
        return;
    Tracker_->Forget(entry);
    Dirty_ = true;
    // A recount that the entry cut short starts again at its next slice.
    if (Tracker_->Recounting() && !SliceTimer_.isActive())
        SliceTimer_.start();
}

void OverviewPage::Release() {
    SliceTimer_.stop();
    RefreshTimer_.stop();
    Tracker_.reset();
}

void OverviewPage::Tick() {
    if (Tracker_ && Tracker_->Tick(platform::Now())) {
        State_->setText(QStringLiteral("wird gezählt..."));
        SliceTimer_.start();
        return;
    }
    if (Dirty_)
        Refresh();
}

void OverviewPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    RefreshTimer_.start();
    Tick();
}

void OverviewPage::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    RefreshTimer_.stop();
}

void OverviewPage::Refresh() {
    if (!Tracker_)
        return;
    Dirty_ = false;
    const AccessSummary& counts = Tracker_->Counts();
    const SummaryTotals& totals = counts.Totals();
    Totals_->setText(
        QStringLiteral("Zugriffe: %1    Dokumente: %2    Besucher: %3    Übertragen: %4 KBytes    "
                       "Fehler: %5")
            .arg(Thousands(totals.Accesses), Thousands(totals.Documents), Thousands(totals.Visitors),
                 Thousands((totals.Bytes + 512) / 1024), Thousands(totals.Errors)));
    Shares_->SetTotals(totals);

    // The chart spans the whole span up to now; all the queue holds spans its counted minutes.
    const std::int64_t now = MinuteOfTime(platform::Now());
    const auto range = counts.MinuteRange();
    std::int64_t first = now;
    if (Span_ != SummarySpan::KeepPeriod)
        first = MinuteOfTime(Tracker_->Start());
    else if (range)
        first = range->first;
    const std::int64_t last = range ? std::max(now, range->second) : now;
    // A log whose clock runs far ahead must not make the chart endless.
    constexpr std::int64_t MostMinutes = 60 * 24 * 62;
    first = std::max(first, last - MostMinutes + 1);
    Chart_->SetMinutes(first, counts.Minutes(first, last));

    for (const std::unique_ptr<Panel>& panel : Panels_)
        ShowPanel(*panel);
}

void OverviewPage::ShowPanel(Panel& panel) {
    if (!Tracker_)
        return;
    panel.Model->SetRows(Tracker_->Counts(), TopRows);
    if (panel.Whole != nullptr && panel.Whole->isVisible())
        panel.WholeModel->SetRows(Tracker_->Counts(), 0);
}

QDialog* OverviewPage::ShowWholePanel(SummaryPanel which) {
    Panel& panel = PanelFor(which);
    if (panel.Whole == nullptr) {
        panel.Whole = new QDialog(this);
        const QString& name = panel.Name;
        panel.Whole->setObjectName(QStringLiteral("FormOverview") + name);
        panel.Whole->setWindowTitle(panel.Title);
        panel.Whole->resize(560, 480);
        auto* layout = new QVBoxLayout(panel.Whole);
        panel.WholeModel = new OverviewPanelModel(
            panel.Shown,
            panel.Model->headerData(OverviewPanelModel::ColumnKey, Qt::Horizontal, Qt::DisplayRole)
                .toString(),
            panel.Whole);
        auto* view = new QTableView(panel.Whole);
        view->setObjectName(QStringLiteral("ListViewOverviewAll") + name);
        view->setAccessibleName(panel.Title);
        view->setModel(panel.WholeModel);
        SetUpPanelView(view);
        layout->addWidget(view);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, panel.Whole);
        layout->addWidget(buttons);
        connect(buttons, &QDialogButtonBox::rejected, panel.Whole, &QDialog::close);
        Panel* raw = &panel;
        connect(view, &QTableView::activated, this, [this, raw](const QModelIndex& index) {
            const OverviewPanelModel::Row* row = raw->WholeModel->RowAt(index.row());
            if (row != nullptr && Activated_)
                Activated_(raw->Shown, row->Number, row->Text);
        });
    }
    panel.WholeModel->SetPanel(panel.Shown);
    if (Tracker_)
        panel.WholeModel->SetRows(Tracker_->Counts(), 0);
    panel.Whole->show();
    panel.Whole->raise();
    return panel.Whole;
}

} // namespace kavel::ui
