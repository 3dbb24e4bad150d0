#include "ui/AboutDialog.h"

#include "base/VersionInfo.h"
#include "ui/IconSet.h"
#include "ui/OpenUrl.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace kavel::ui {
namespace {

constexpr const char* CompanyUrl = "www.quarnet.example";

// A text box that reads like a label but whose text can be selected and copied.
QLineEdit* ValueBox(const char* name, const QString& text, bool readOnly, QWidget* parent) {
    auto* box = new QLineEdit(text, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setFrame(false);
    box->setReadOnly(readOnly);
    box->setCursorPosition(0);
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    box->setPalette(palette);
    return box;
}

// The box's fields come from the version information; no label of it is ever markup.
QLabel* PlainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// LabelCompanyURL: a click opens the maker's page.
class LinkLabel final : public QLabel {
public:
    explicit LinkLabel(const QString& text, QWidget* parent)
        : QLabel(text, parent) {
        setTextFormat(Qt::PlainText);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton)
            OpenUrl(window(), text());
    }
};

} // namespace

QString VersionLine(const QString& fileVersion) {
    const qsizetype dot = fileVersion.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return fileVersion;
    return fileVersion.left(dot) + QStringLiteral(" (Build No. ") + fileVersion.mid(dot + 1) +
           QLatin1Char(')');
}

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("FormAbout"));
    setWindowTitle(QStringLiteral("Über ") + QString::fromStdString(ProductName()));
    setFixedSize(401, 297);
    auto* layout = new QVBoxLayout(this);

    auto* headline = PlainLabel(QStringLiteral("Informationen über dieses Programm"), this);
    headline->setObjectName(QStringLiteral("PanelInfoHeadline"));
    headline->setAutoFillBackground(true);
    QPalette palette = headline->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Dark));
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Base));
    headline->setPalette(palette);
    headline->setContentsMargins(6, 4, 6, 4);
    layout->addWidget(headline);

    auto* row = new QHBoxLayout;
    auto* logo = PlainLabel(QString(), this);
    logo->setObjectName(QStringLiteral("Logo"));
    logo->setPixmap(ApplicationIcon().pixmap(48, 48));
    row->addWidget(logo, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    QLineEdit* product =
        ValueBox("EditProductName", QString::fromStdString(VersionInfoValue("", "ProductName")), true, this);
    QFont bold = product->font();
    bold.setBold(true);
    product->setFont(bold);
    texts->addWidget(product);
    texts->addWidget(ValueBox("EditFileDescription",
                              QString::fromStdString(VersionInfoValue("", "FileDescription")), true, this));
    auto* versionRow = new QHBoxLayout;
    auto* versionLabel = PlainLabel(QStringLiteral("Version"), this);
    versionLabel->setObjectName(QStringLiteral("LabelVersion"));
    versionRow->addWidget(versionLabel);
    versionRow->addWidget(ValueBox("EditFileVersion",
                                   VersionLine(QString::fromStdString(VersionInfoValue("", "FileVersion"))),
                                   true, this));
    texts->addLayout(versionRow);
    texts->addWidget(ValueBox("EditLegalCopyright",
                              QString::fromStdString(VersionInfoValue("", "LegalCopyright")), false, this));
    row->addLayout(texts, 1);
    layout->addLayout(row);

    auto* separator = new QFrame(this);
    separator->setObjectName(QStringLiteral("PanelSeparator"));
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);
    separator->setFixedHeight(2);
    layout->addWidget(separator);

    Link_ = new LinkLabel(QString::fromLatin1(CompanyUrl), this);
    Link_->setObjectName(QStringLiteral("LabelCompanyURL"));
    Link_->setCursor(Qt::PointingHandCursor);
    Link_->setToolTip(QStringLiteral("Webseite öffnen"));
    QFont linkFont = Link_->font();
    linkFont.setBold(true);
    Link_->setFont(linkFont);
    QPalette linkPalette = Link_->palette();
    linkPalette.setColor(QPalette::WindowText, Qt::blue);
    Link_->setPalette(linkPalette);
    layout->addWidget(Link_);

    auto* legal = PlainLabel(
        QStringLiteral("Dieses Programm ist urheberrechtlich geschützt. Die unerlaubte Vervielfältigung oder "
                       "Verbreitung dieses Programms oder eines Teils davon ist nicht gestattet."),
        this);
    legal->setWordWrap(true);
    QPalette legalPalette = legal->palette();
    legalPalette.setColor(QPalette::WindowText, QColor(64, 64, 64));
    legal->setPalette(legalPalette);
    layout->addWidget(legal, 1);

    Ok_ = new QPushButton(QStringLiteral("OK"), this);
    Ok_->setObjectName(QStringLiteral("ButtonOk"));
    Ok_->setToolTip(QStringLiteral("Maske schließen"));
    Ok_->setDefault(true);
    layout->addWidget(Ok_, 0, Qt::AlignHCenter);
    connect(Ok_, &QPushButton::clicked, this, [this] {
        EndFade();
        done(QDialog::Accepted);
    });

    Timer_.setObjectName(QStringLiteral("TimerAbout"));
    Timer_.setInterval(FadeIntervalMs);
    connect(&Timer_, &QTimer::timeout, this, [this] { FadeStep(); });
}

void AboutDialog::ApplyOpacity() {
    setWindowOpacity(Opacity_ / 255.0);
}

void AboutDialog::StartFade() {
    if (FadeOver_)
        return;
    Opacity_ = 0;
    Step_ = 2;
    ApplyOpacity();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
    show();
    Timer_.start();
}

void AboutDialog::FadeStep() {
    if (Opacity_ == 0) {
        raise();
        activateWindow();
    }
    Opacity_ = (Opacity_ + Step_) % 256;
    if (Opacity_ == 250)
        Step_ = -Step_;
    ApplyOpacity();
    if (Opacity_ == 0)
        EndFade();
}

void AboutDialog::EndFade() {
    if (FadeOver_)
        return;
    FadeOver_ = true;
    Timer_.stop();
    hide();
    Opacity_ = 255;
    ApplyOpacity();
}

void AboutDialog::ShowModal() {
    if (isVisible())
        return;
    EndFade();
    exec();
}

void AboutDialog::closeEvent(QCloseEvent* event) {
    EndFade();
    done(QDialog::Accepted);
    event->accept();
}

} // namespace kavel::ui
