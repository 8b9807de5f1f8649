#include "app/CommandLine.h"
#include "guide/Convert.h"

#include <QCoreApplication>
#include <QDate>
#include <QTextStream>

#ifdef PALLARO_HAS_GUI
#include "app/EPGController.h"
#include "widgets/MainWindow.h"

#include <QApplication>
#endif

#include <cstdio>
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
            return runSearchCommand(*options.search, QDate::currentDate(), out, err);
        if (options.nowOn)
            return runNowOnCommand(options.at, out, err);
        if (options.convert)
            return runConvert(options.convert->at(0), options.convert->at(1), options.convertXml,
                              out, err);
        return runHeadless(options);
    }

#ifdef PALLARO_HAS_GUI
    // The web view's sandbox refuses to run as root; switch it off then, and only then.
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    MainWindow window;
    window.show();
    window.awakeFromNib();
    QObject::connect(&app, &QCoreApplication::aboutToQuit,
                     [&window] { window.controller()->applicationWillTerminate(); });
    return app.exec();
#else
    err << "pallaro: built without the window; use --headless\n";
    return 2;
#endif
}
