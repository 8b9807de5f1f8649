#include "app/CommandLine.h"
#include "base/Clock.h"
#include "base/TerminationSignals.h"

#include <QCoreApplication>
#include <QDate>
#include <QTextStream>

#ifdef PALLARO_HAS_GUI
#include "app/EPGController.h"
#include "widgets/AppIcon.h"
#include "widgets/MainWindow.h"

#include <QApplication>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLineOptions options = parseCommandLine(arguments);

    QTextStream out(stdout);
    QTextStream err(stderr);
    if (!options.error.isEmpty()) {
        err << "pallaro: " << options.error << " (see pallaro --help)\n";
        return 2;
    }
    if (options.help) {
        out << commandLineHelp();
        return 0;
    }

    QCoreApplication::setOrganizationName(QStringLiteral("Pallaro"));
    QCoreApplication::setApplicationName(QStringLiteral("Pallaro"));

    if (!wantsWindow(options)) {
        QCoreApplication app(argc, argv);
        if (options.getKey || options.setAssignment)
            return runSettingsCommand(options, out, err);
        if (options.search)
            return runSearchCommand(*options.search, Clock::today(), out, err);
        if (options.nowOn)
            return runNowOnCommand(options.at, out, err);
        if (options.rules)
            return runRulesCommand(Clock::today(), out, err);
        if (options.convert)
            return runConvertCommand(options, out, err);
        if (options.mark || options.unmark)
            return runMarkCommand(options, out, err);
        if (options.status)
            return runStatusCommand(out, err);
        return runHeadless(options);
    }

#ifdef PALLARO_HAS_GUI
    // The web view's sandbox refuses to run as root; switch it off then, and only then.
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    // The desktop entry's id ties the window to its menu entry and icon (on Wayland too).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.pallaro.Pallaro"));
    QApplication::setWindowIcon(applicationIcon());
    // Ended by the session (a logout, a shutdown) as by Quit: the marks reach the disk. Set
    // before the window starts, and queued, so that a signal during start-up is not lost.
    quitOnTerminationSignals([] {
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    MainWindow window;
    window.show();
    window.awakeFromNib();
    QObject::connect(&app, &QCoreApplication::aboutToQuit,
                     [&window] { window.controller()->applicationWillTerminate(); });
    return app.exec();
#elif defined(PALLARO_WINDOW_PROGRAM)
    // The window is a program of its own beside this one, so that command-line runs load
    // none of the widget and web-engine libraries. It learns which command the user runs
    // (for the scheduled-run units) from PALLARO_COMMAND.
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string window = length > 0 ? std::string(self, size_t(length)) : std::string(argv[0]);
    setenv("PALLARO_COMMAND", window.c_str(), 1);
    window = window.substr(0, window.rfind('/') + 1) + PALLARO_WINDOW_PROGRAM;
    execv(window.c_str(), argv);
    err << "pallaro: cannot start " << QString::fromStdString(window) << ": "
        << QString::fromLocal8Bit(std::strerror(errno)) << "\n";
    return 2;
#else
    err << "pallaro: built without the window; use --headless\n";
    return 2;
#endif
}
