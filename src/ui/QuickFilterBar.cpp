#include "ui/QuickFilterBar.h"

#include "base/TextPattern.h"
#include "ui/DisplayText.h"
#include "ui/ListItemDelegate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <variant>

namespace kavel::ui {
namespace {

constexpr int DefaultPauseMs = 250;

} // namespace

QuickFilterBar::QuickFilterBar(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("PanelQuickFilter"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(6);
    // A narrow window cuts the bar off at its right end rather than growing for it.
    setMinimumWidth(120);

    Field_ = new QLineEdit(this);
    Field_->setObjectName(QStringLiteral("EditQuickFilter"));
    Field_->setAccessibleName(QStringLiteral("Schnellfilter"));
    Field_->setPlaceholderText(QStringLiteral("Schnellfilter (Strg+F)"));
    Field_->setClearButtonEnabled(true);
    Field_->installEventFilter(this);
    // What the user types stays in sight when the bar is narrow: the choices give way first.
    Field_->setMinimumWidth(Field_->fontMetrics().averageCharWidth() * 18);
    layout->addWidget(Field_, 1);

    Progress_ = new QProgressBar(this);
    Progress_->setObjectName(QStringLiteral("ProgressQuickFilter"));
    Progress_->setAccessibleName(QStringLiteral("Fortschritt des Schnellfilters"));
    Progress_->setTextVisible(false);
    Progress_->setFixedWidth(80);
    Progress_->setMaximumHeight(12);
    Progress_->hide();
    layout->addWidget(Progress_);

    Count_ = new QLabel(this);
    Count_->setObjectName(QStringLiteral("LabelQuickFilterCount"));
    Count_->setTextFormat(Qt::PlainText);
    // The count stays whole beside the field; a narrow bar cuts the choices at its end instead.
    Count_->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    layout->addWidget(Count_);

    Syntax_ = new QComboBox(this);
    Syntax_->setObjectName(QStringLiteral("ComboQuickFilterSyntax"));
    Syntax_->setAccessibleName(QStringLiteral("Art des Musters"));
    Syntax_->addItem(QStringLiteral("Text"));
    Syntax_->addItem(QStringLiteral("Regul\u00E4rer Ausdruck"));
    Syntax_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    Syntax_->setMinimumContentsLength(10);
    layout->addWidget(Syntax_);

    Case_ = new QCheckBox(QStringLiteral("Gro\u00DF-/Kleinschreibung beachten"), this);
    Case_->setObjectName(QStringLiteral("CheckQuickFilterCaseSensitive"));
    layout->addWidget(Case_);

    Column_ = new QComboBox(this);
    Column_->setObjectName(QStringLiteral("ComboQuickFilterColumn"));
    Column_->setAccessibleName(QStringLiteral("Durchsuchte Spalte"));
    Column_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    Column_->addItem(QStringLiteral("Alle Spalten"), -1);
    layout->addWidget(Column_);

    MarkOnly_ = new QCheckBox(QStringLiteral("Nur markieren"), this);
    MarkOnly_->setObjectName(QStringLiteral("CheckQuickFilterMarkOnly"));
    layout->addWidget(MarkOnly_);
    // The choices' captions give way in a narrow bar (their whole text is the tip).
    for (QCheckBox* choice : {Case_, MarkOnly_}) {
        choice->setMinimumWidth(choice->fontMetrics().averageCharWidth() * 8);
        choice->setToolTip(choice->text());
    }

    Pause_.setSingleShot(true);
    Pause_.setInterval(DefaultPauseMs);
    connect(&Pause_, &QTimer::timeout, this, [this] { Apply(); });
    connect(Field_, &QLineEdit::textChanged, this, [this] {
        if (Updating_)
            return;
        if (Compile())
            Pause_.start();
    });
    const auto optionChanged = [this] {
        if (Updating_)
            return;
        Pause_.stop();
        if (Compile())
            Apply();
    };
    connect(Syntax_, &QComboBox::currentIndexChanged, this, optionChanged);
    connect(Case_, &QCheckBox::toggled, this, optionChanged);
    connect(MarkOnly_, &QCheckBox::toggled, this, [this] {
        if (Updating_)
            return;
        Pause_.stop();
        Compile();
        Apply();
    });
    connect(Column_, &QComboBox::currentIndexChanged, this, [this] {
        if (!Updating_)
            Q_EMIT ColumnChanged(ChosenColumn());
    });
}

QuickFilterBar::~QuickFilterBar() = default;

QuickFilterBar::State QuickFilterBar::CurrentState() const {
    return {Field_->text(), Syntax_->currentIndex() == 1, Case_->isChecked(), MarkOnly_->isChecked()};
}

void QuickFilterBar::SetState(const State& state) {
    Updating_ = true;
    Field_->setText(state.Text);
    Syntax_->setCurrentIndex(state.Regex ? 1 : 0);
    Case_->setChecked(state.CaseSensitive);
    MarkOnly_->setChecked(state.MarkOnly);
    Updating_ = false;
    Pause_.stop();
    Compile();
    Apply();
}

void QuickFilterBar::SetColumns(const QStringList& names, const std::vector<int>& columns, int chosen) {
    Updating_ = true;
    Columns_ = columns;
    Column_->clear();
    Column_->addItem(QStringLiteral("Alle Spalten"), -1);
    for (qsizetype i = 0; i < names.size() && static_cast<std::size_t>(i) < columns.size(); ++i)
        Column_->addItem(names[i], columns[static_cast<std::size_t>(i)]);
    const int at = Column_->findData(chosen);
    Column_->setCurrentIndex(at < 0 ? 0 : at);
    Updating_ = false;
}

int QuickFilterBar::ChosenColumn() const {
    return Column_->currentData().toInt();
}

bool QuickFilterBar::Compile() {
    const QString text = Field_->text();
    const QByteArray utf8 = text.toUtf8();
    std::shared_ptr<const TextPattern> pattern;
    if (!text.isEmpty()) {
        PatternOptions options;
        options.Syntax =
            Syntax_->currentIndex() == 1 ? PatternSyntax::RegularExpression : PatternSyntax::Text;
        options.CaseSensitive = Case_->isChecked();
        auto compiled = TextPattern::Compile(
            std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())), options);
        if (auto* error = std::get_if<std::string>(&compiled)) {
            TextValid_ = false;
            Error_ = QString::fromStdString(*error);
            ShowValidity();
            return false;
        }
        pattern = std::make_shared<const TextPattern>(std::move(std::get<TextPattern>(compiled)));
    }
    TextValid_ = true;
    Error_.clear();
    ShowValidity();
    Pattern_ = std::move(pattern);
    return true;
}

void QuickFilterBar::ShowValidity() {
    if (TextValid_) {
        Field_->setPalette(QPalette());
    } else {
        QPalette palette = this->palette();
        palette.setColor(QPalette::Base, OutcomeBackground(palette, RowColour::ServerError));
        Field_->setPalette(palette);
    }
    // The engine's message, as plain text whatever the pattern holds.
    Field_->setToolTip(TextValid_ ? QString() : ToolTipText(Error_));
    Field_->setAccessibleDescription(TextValid_ ? QString() : Error_);
}

void QuickFilterBar::Apply() {
    Pause_.stop();
    Q_EMIT FilterChanged();
}

void QuickFilterBar::SetCounts(int matches, int rows) {
    if (!Pattern_) {
        Count_->clear();
        return;
    }
    Count_->setText(QStringLiteral("%1 von %2 Zugriffen").arg(matches).arg(rows));
}

void QuickFilterBar::SetProgress(int done, int total, bool running) {
    Progress_->setVisible(running);
    if (running) {
        Progress_->setMaximum(std::max(total, 1));
        Progress_->setValue(std::min(done, std::max(total, 1)));
    }
}

void QuickFilterBar::FocusField() {
    Field_->setFocus(Qt::ShortcutFocusReason);
    Field_->selectAll();
}

bool QuickFilterBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Field_ && event->type() == QEvent::ShortcutOverride) {
        // Esc and Enter belong to the field while it has the focus, whatever shortcut the
        // window gives them.
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            event->accept();
            return true;
        }
    }
    if (watched == Field_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape) {
            if (!Field_->text().isEmpty()) {
                Field_->clear();
                Apply();
            }
            Q_EMIT Left();
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (MarkOnly_->isChecked()) {
                if (Pause_.isActive())
                    Apply();
                Q_EMIT NextMatchRequested((key->modifiers() & Qt::ShiftModifier) != 0);
            } else if (Pause_.isActive()) {
                Apply();
            }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void QuickFilterBar::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && !TextValid_)
        ShowValidity();
}

} // namespace kavel::ui
