#include "ui/DesktopOpener.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <cstdlib>
#include <optional>
#include <utility>

namespace kavel::ui {
namespace {

DesktopOpener::Handler& InstalledHandler() {
    static DesktopOpener::Handler handler;
    return handler;
}

std::optional<QString>& OpenCommand() {
    static std::optional<QString> command;
    return command;
}

// xdg-open, unless the program runs in a sandbox (where only the portal behind Qt's own way
// reaches the desktop) or there is none.
QString OpenProgram() {
    if (OpenCommand())
        return *OpenCommand();
    if (std::getenv("FLATPAK_ID") != nullptr || std::getenv("SNAP") != nullptr)
        return {};
    return QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
}

} // namespace

bool DesktopOpener::Open(const QUrl& url, std::function<void()> failed) {
    const Handler& handler = InstalledHandler();
    if (handler) {
        return handler(url);
    }
    const QString program = OpenProgram();
    if (program.isEmpty())
        return QDesktopServices::openUrl(url);
    // The process may live as long as the browser it started; it belongs to the application.
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProgram(program);
    process->setArguments({url.toString(QUrl::FullyEncoded)});
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    QObject::connect(process, &QProcess::finished, process,
                     [process, failed](int exitCode, QProcess::ExitStatus status) {
                         process->deleteLater();
                         if ((status != QProcess::NormalExit || exitCode != 0) && failed)
                             failed();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, failed](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return;
                         process->deleteLater();
                         if (failed)
                             failed();
                     });
    process->start();
    return true;
}

void DesktopOpener::SetHandler(Handler handler) {
    InstalledHandler() = std::move(handler);
}

void DesktopOpener::SetOpenCommand(std::optional<QString> program) {
    OpenCommand() = std::move(program);
}

} // namespace kavel::ui
