#include "ui/UseMeter.h"

#include "platform/DateTime.h"

#include <QVBoxLayout>

namespace kavel::ui {

UseMeter::UseMeter(QWidget* parent)
    : QFrame(parent) {
    setObjectName(QStringLiteral("PanelUseMeter"));
    setFixedHeight(41);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(2, 2, 2, 2);
    auto* bevel = new QFrame(this);
    bevel->setObjectName(QStringLiteral("PanelUseMeterBevel"));
    bevel->setFrameShape(QFrame::Panel);
    bevel->setFrameShadow(QFrame::Sunken);
    outer->addWidget(bevel);
    auto* inner = new QVBoxLayout(bevel);
    inner->setContentsMargins(1, 1, 1, 1);
    Surface_ = new QWidget(bevel);
    Surface_->setObjectName(QStringLiteral("ImageUseMeter"));
    Surface_->setAutoFillBackground(true);
    QPalette palette = Surface_->palette();
    palette.setColor(QPalette::Window, Qt::white);
    Surface_->setPalette(palette);
    inner->addWidget(Surface_);
}

void UseMeter::Clear() {
    Marks_ = 0;
    Surface_->update();
}

void UseMeter::DrawScale() {
    Surface_->update();
}

void UseMeter::Mark(DateTime, bool) {
    ++Marks_;
}

void UseMeter::Shift(int) {
    Surface_->update();
}

} // namespace kavel::ui
