#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>

class QLabel;
class QPushButton;

namespace kavel::ui {

// "1.0.1.5" shows as "1.0.1 (Build No. 5)"; a version without a point stays as it is.
QString VersionLine(const QString& fileVersion);

// FormAbout: product, description, version and rights from the version information. At
// program start it fades in and out once as the start-up picture; afterwards the Info action
// shows it modally at full opacity.
class AboutDialog final : public QDialog {
public:
    static constexpr int FadeIntervalMs = 30;

    explicit AboutDialog(QWidget* parent = nullptr);

    // The start-up picture: visible and fully transparent, the fade timer running.
    void StartFade();
    // One step of the fade, run by the fade timer.
    void FadeStep();
    // The end of the fade: hidden, fully opaque from now on, the timer off for good.
    void EndFade();
    // ActionMenuHelpInfo: modal at full opacity, unless the box is visible already.
    void ShowModal();

    int Opacity() const { return Opacity_; }
    int Step() const { return Step_; }
    bool Fading() const { return Timer_.isActive(); }
    QTimer& FadeTimer() { return Timer_; }
    QLabel* Link() const { return Link_; }
    QPushButton* OkButton() const { return Ok_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ApplyOpacity();

    QTimer Timer_;
    int Opacity_ = 0;
    int Step_ = 2;
    bool FadeOver_ = false;
    QLabel* Link_ = nullptr;
    QPushButton* Ok_ = nullptr;
};

} // namespace kavel::ui
