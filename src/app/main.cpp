// kavel: the desktop program. Starts and ends in a fixed order: the
// workspace's objects, the single-instance question before any window, the main window (the
// two configuration stores), the definitions at the window's first idle moment, the readers
// stopped and the layout stored when the window closes, and the files written back after the
// message loop in the reverse order of creation.

#include "acquisition/ProgramLifecycle.h"
#include "acquisition/Workspace.h"
#include "base/SingleInstance.h"
#include "base/VersionInfo.h"
#include "cli/DemoTraffic.h"
#include "platform/Dispatcher.h"
#include "platform/LocaleFormat.h"
#include "platform/Paths.h"
#include "platform/Tone.h"
#include "platform/qt/QtDispatcher.h"
#include "platform/qt/QtTone.h"
#include "ui/AboutDialog.h"
#include "ui/AccessListModels.h"
#include "ui/DisplayText.h"
#include "ui/IconSet.h"
#include "ui/MainWindow.h"
#include "ui/MessageBox.h"
#include "ui/QtTranslations.h"

#include <QApplication>
#include <QMetaObject>
#include <QTimer>
#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <pthread.h>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr const char* Usage =
    R"(Usage: kavel [--home DIR] [--styles FILE] [--demo] [--demo-errors] [--demo-pause]
             [--version]

Watches the access logs of the web servers defined in the home folder (kavel.servers) live.

Options:
  --home DIR      the workspace: kavel.servers, kavel.config and the definition lists
                  (also KAVEL_HOME; default: the program's folder)
  --styles FILE   the per-user view settings and window layout (also KAVEL_STYLES_FILE)
  --demo          create a demo workspace (a temporary folder unless --home is given) with
                  two servers, and write live traffic into their logs
  --demo-errors   with --demo: www.demo.example answers a few requests with 500 and 503
                  every minute (the demo's alert "Serverfehler" fires)
  --demo-pause    with --demo: www.demo.example falls silent 30 s after the start for three
                  minutes (the demo's alert "Stille" fires)
  --version       print the version and exit
  --help          this text

Test hook: KAVEL_EXIT_AFTER_ROWS=N closes the window by itself once the accesses list holds
N rows.
)";

std::filesystem::path MakeTemporaryHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kavel-demo-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder for the demo");
    return pattern;
}

std::optional<int> ExitAfterRows() {
    const char* value = std::getenv("KAVEL_EXIT_AFTER_ROWS");
    if (value == nullptr || *value == '\0')
        return std::nullopt;
    char* end = nullptr;
    const long rows = std::strtol(value, &end, 10);
    if (end == value || *end != '\0' || rows < 1 || rows > 1000000)
        return std::nullopt;
    return static_cast<int>(rows);
}

} // namespace

int main(int argc, char** argv) {
    using namespace kavel;
    platform::Paths::Init(argc, argv);

    bool demo = false;
    cli::DemoIncidents incidents;
    std::vector<char*> qtArguments{argv[0]};
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--demo") {
            demo = true;
        } else if (arg == "--demo-errors") {
            incidents.Errors = true;
        } else if (arg == "--demo-pause") {
            incidents.Pause = true;
        } else if (arg == "--version") {
            std::printf("kavel %s\n", VersionInfoValue("", "FileVersion").c_str());
            return 0;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        } else {
            // Qt's own options (-platform, -style, ...) go on to the application object.
            qtArguments.push_back(argv[i]);
        }
    }
    int qtArgc = static_cast<int>(qtArguments.size());
    qtArguments.push_back(nullptr);

    // Ctrl+C and SIGTERM close the window as the user would, so the files are written back.
    // Blocked before any thread starts; one thread takes them with sigwait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QApplication app(qtArgc, qtArguments.data());
    QApplication::setApplicationName(QStringLiteral("Kavel"));
    QApplication::setOrganizationName(QStringLiteral("Quarnet"));
    QApplication::setWindowIcon(ui::ApplicationIcon());
    // Qt's standard buttons, dialogs and key names speak German like the rest of the program.
    ui::InstallQtTranslations(app);
    // Qt took the user's locale for everything; numbers in files stay in the C form.
    std::setlocale(LC_NUMERIC, "C");
    platform::SystemLocaleFormat localeFormat;
    platform::SetCurrentLocaleFormat(&localeFormat);

    std::optional<cli::DemoHome> demoHome;
    if (demo) {
        try {
            std::filesystem::path home = platform::Paths::HomeDir();
            if (!std::filesystem::exists(home / "kavel.servers") && !std::getenv("KAVEL_HOME") &&
                home == platform::Paths::ExecutableDir())
                home = MakeTemporaryHome();
            platform::Paths::SetHomeDir(home);
            demoHome = cli::CreateDemoHome(home);
            std::fprintf(stderr, "Demo-Arbeitsbereich: %s\n", home.string().c_str());
        } catch (const std::exception& error) {
            std::fprintf(stderr, "kavel: %s\n", error.what());
            return 1;
        }
    }

    ui::MainWindow* shownWindow = nullptr;
    // Errors found before the window shows (an unreadable list or options file) wait for it,
    // so the user sees them and not only the terminal.
    std::vector<std::string> earlyErrors;
    const auto reportError = [&shownWindow, &earlyErrors](const std::string& message) {
        std::fprintf(stderr, "Fehler: %s\n", message.c_str());
        if (shownWindow != nullptr && !shownWindow->Closed() && shownWindow->isVisible())
            ui::MessageBox::Error(shownWindow, ui::DisplayText(message));
        else if (shownWindow == nullptr)
            earlyErrors.push_back(message);
    };

    // From here on a stop signal ends the program whatever it is doing: a question or dialog
    // that is open is cancelled first (a declined question writes nothing), then the window
    // closes as the user would close it. The thread only hands the signal to the main thread.
    std::atomic<bool> finished{false};
    bool stopRequested = false;
    ui::MainWindow* runningWindow = nullptr;
    const auto stop = [&stopRequested, &runningWindow] {
        stopRequested = true;
        ui::CancelModalDialogs();
        if (runningWindow != nullptr) {
            QMetaObject::invokeMethod(
                runningWindow, [window = runningWindow] { window->EndProgram(); }, Qt::QueuedConnection);
        }
    };
    std::thread signalWaiter([&finished, &app, &stop, stopSignals] {
        for (;;) {
            int signal = 0;
            sigwait(&stopSignals, &signal);
            if (finished.load())
                return; // the program's own wake-up at its end
            QMetaObject::invokeMethod(&app, stop, Qt::QueuedConnection);
        }
    });

    // Everything the window watches and shows, on the home folder's definitions.
    Workspace space(platform::Paths::HomeDir());
    ProgramLifecycle lifecycle(space, reportError);
    lifecycle.CreateObjects();

    platform::QtDispatcher dispatcher;
    platform::ScopedDispatcher installedDispatcher(dispatcher);
    platform::QtTone tone;
    platform::ScopedTone installedTone(tone);

    // The lock guards the workspace's definition files: a second instance is asked about only
    // when it would share them (a demo in its own temporary folder never is). A declined (or
    // cancelled) second instance ends without a window: nothing is loaded and no file is
    // written.
    const std::filesystem::path workspace = platform::Paths::HomeDir();
    const auto askAnotherInstance = [&workspace](const std::string& question, const std::string& caption) {
        std::fprintf(stderr, "kavel: Der Arbeitsbereich %s wird bereits von Kavel verwendet.\n",
                     workspace.string().c_str());
        return ui::MessageBox::Confirm(nullptr, ui::DisplayText(question), ui::DisplayText(caption));
    };
    InstanceLock instanceLock;
    const bool mayContinue = instanceLock.Check(askAnotherInstance, WorkspaceLockName(workspace));

    int result = 0;
    if (mayContinue && !stopRequested) {
        ui::MainWindow::Setup setup;
        setup.Lifecycle = &lifecycle;
        ui::MainWindow window(space, std::move(setup));
        if (const std::optional<int> rows = ExitAfterRows()) {
            const auto check = [&window, limit = *rows] {
                static bool done = false;
                if (done || window.Lists().Log().rowCount() < limit)
                    return;
                done = true;
                std::printf("kavel: %d Zugriffe angezeigt\n", window.Lists().Log().rowCount());
                std::fflush(stdout);
                QMetaObject::invokeMethod(
                    &window, [&window] { window.close(); }, Qt::QueuedConnection);
            };
            QObject::connect(&window.Lists().Log(), &QAbstractItemModel::rowsInserted, &window, check);
            QObject::connect(&window.Lists().Log(), &QAbstractItemModel::modelReset, &window, check);
        }

        runningWindow = &window;
        shownWindow = &window;
        window.show();
        if (!earlyErrors.empty()) {
            QTimer::singleShot(0, &window, [&window, &earlyErrors] {
                for (const std::string& message : earlyErrors)
                    ui::MessageBox::Error(&window, ui::DisplayText(message));
                earlyErrors.clear();
            });
        }
        // The start-up picture fades in and out over the window.
        window.AboutBox().StartFade();
        std::unique_ptr<cli::DemoTraffic> traffic;
        if (demoHome) {
            traffic = std::make_unique<cli::DemoTraffic>(*demoHome);
            traffic->SetIncidents(incidents);
            traffic->Start();
        }
        result = QApplication::exec();
        if (traffic)
            traffic->Stop();
        // The loop may also end without the window's closing (the session ends).
        if (!window.Closed())
            window.close();
        runningWindow = nullptr;
        shownWindow = nullptr;
        window.ReleaseListsAndTree();
        lifecycle.Finish(window.OptionsStore(), window.StylesStore());
    }
    finished.store(true);
    pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    instanceLock.Release();
    return result;
}
