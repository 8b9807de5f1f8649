#include "app/ScriptCommands.h"

#include "app/CommandLine.h"
#include "app/EPGController.h"
#include "base/SystemLog.h"
#include "guide/TGDFormat.h"
#include "ui/KeywordController.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QEventLoop>
#include <QTextStream>

const QString ScriptCommands::service = QStringLiteral("org.pallaro.Pallaro");
const QString ScriptCommands::path = QStringLiteral("/org/pallaro/Pallaro");

namespace
{
// The error of a command refused because a fetch or an upload runs.
const QString kBusy = QStringLiteral("org.pallaro.Pallaro.Error.Busy");
} // namespace

ScriptCommands::ScriptCommands(EPGController *controller, QObject *parent)
    : QObject(parent), controller_(controller)
{
    connect(controller_, &EPGController::fetchFinished, this, &ScriptCommands::FetchFinished);
}

QString ScriptCommands::registerOn(QDBusConnection bus)
{
    if (!bus.isConnected()) {
        systemLog(QStringLiteral("No session bus: the download and upload commands are not "
                                 "offered."));
        return QString();
    }
    if (!bus.registerService(service))
        return QStringLiteral("Another Pallaro window answers the download and upload "
                              "commands; this one does not.");
    if (!bus.registerObject(path, this, QDBusConnection::ExportScriptableContents)) {
        bus.unregisterService(service);
        systemLog(QStringLiteral("The download and upload commands could not be offered: ")
                  + bus.lastError().message());
    }
    return QString();
}

bool ScriptCommands::fetching() const
{
    return controller_->isFetching();
}

bool ScriptCommands::DownloadGuide()
{
    systemLog(QStringLiteral("applescript epg dl"));
    if (controller_->fetchEPG())
        return true;
    if (calledFromDBus())
        sendErrorReply(kBusy, controller_->lastRefusal());
    return false;
}

bool ScriptCommands::UploadGuide()
{
    systemLog(QStringLiteral("applescript epg ul"));
    if (!controller_->uploadEPG()) {
        if (calledFromDBus())
            sendErrorReply(kBusy, controller_->lastRefusal());
        return false;
    }
    if (!calledFromDBus())
        return true;
    // The answer goes out when the upload has ended, with its result; the window goes on
    // answering everything else meanwhile.
    setDelayedReply(true);
    QDBusMessage request = message();
    QDBusConnection bus = connection();
    connect(
        controller_, &EPGController::uploadFinished, this,
        [request, bus](bool ok) mutable { bus.send(request.createReply(ok)); },
        Qt::SingleShotConnection);
    return false;
}

QStringList ScriptCommands::MarkProgramme(
    const QString &start, const QString &channel, bool record, int before, int after)
{
    if (!kwc_) {
        if (calledFromDBus())
            sendErrorReply(QDBusError::NotSupported, QStringLiteral("this window keeps no marks"));
        return {};
    }
    QStringList lines;
    for (const TGDEntryPtr &e : kwc_->markProgrammes(start, channel, record, before, after))
        lines << markLine(*e);
    // The day file shows it when the command ends.
    kwc_->flushWrites();
    return lines;
}

QString markLine(const TGDEntry &e)
{
    return e.rawStart + QLatin1Char('\t') + e.channel + QLatin1Char('\t') + e.title
        + QLatin1Char('\t')
        + (e.record ? tgd::formatRecordStringForListing(e.extStart, e.extStop)
                    : QStringLiteral("N"));
}

namespace {

// Long enough for a week of day files to reach a slow recorder.
constexpr int kUploadTimeoutMs = 60 * 60 * 1000;

class FetchWaiter : public QObject
{
    Q_OBJECT
public:
    QEventLoop loop;
public Q_SLOTS:
    void finished(bool ok) { loop.exit(ok ? 0 : 1); }
};

// The session bus, with Qt's own D-Bus types registered on this thread first. Left to the
// bus's thread, their registration can race the reading of a reply, which then prints
// "Trying to construct an instance of an invalid type" into the command's error output.
QDBusConnection sessionBus()
{
    static const bool registered = [] {
        qRegisterMetaType<QDBusArgument>();
        qRegisterMetaType<QDBusMessage>();
        qRegisterMetaType<QDBusObjectPath>();
        qRegisterMetaType<QDBusSignature>();
        qRegisterMetaType<QDBusUnixFileDescriptor>();
        qRegisterMetaType<QDBusVariant>();
        qRegisterMetaType<QList<QDBusObjectPath>>();
        qRegisterMetaType<QList<QDBusSignature>>();
        qRegisterMetaType<QList<QDBusUnixFileDescriptor>>();
        qRegisterMetaType<QDBusConnectionInterface::RegisterServiceReply>();
        qRegisterMetaType<QDBusConnectionInterface::ServiceQueueOptions>();
        qRegisterMetaType<QDBusConnectionInterface::ServiceReplacementOptions>();
        return true;
    }();
    (void)registered;
    return QDBusConnection::sessionBus();
}

// Calls a command; answers its boolean answer, or the error's message.
bool call(QDBusConnection &bus, const QString &method, int timeoutMs, QString *why)
{
    const QDBusMessage reply = bus.call(
        QDBusMessage::createMethodCall(ScriptCommands::service, ScriptCommands::path,
                                       ScriptCommands::service, method),
        QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        *why = reply.errorMessage();
        return false;
    }
    return reply.arguments().constFirst().toBool();
}

} // namespace

std::optional<int> forwardToWindow(bool download, bool upload, QTextStream &out, QTextStream &err)
{
    QDBusConnection bus = sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(ScriptCommands::service))
        return std::nullopt;
    int status = 0;
    QString why;
    if (download) {
        FetchWaiter waiter;
        // Listening before asking, so that a quick fetch's end is not missed.
        bus.connect(ScriptCommands::service, ScriptCommands::path, ScriptCommands::service,
                    QStringLiteral("FetchFinished"), &waiter, SLOT(finished(bool)));
        QDBusServiceWatcher gone(ScriptCommands::service, bus,
                                 QDBusServiceWatcher::WatchForUnregistration);
        QObject::connect(&gone, &QDBusServiceWatcher::serviceUnregistered, &waiter.loop,
                         [&waiter] { waiter.loop.exit(2); });
        if (!call(bus, QStringLiteral("DownloadGuide"), -1, &why)) {
            err << "pallaro: the window did not take the download: " << why << "\n";
            return 2;
        }
        out << "Fetching in the running window...\n";
        out.flush();
        const int fetched = waiter.loop.exec();
        if (fetched == 2) {
            err << "pallaro: the window closed before the fetch ended\n";
            return 2;
        }
        out << (fetched == 0 ? "Fetch finished.\n" : "Fetch failed: see the window's log.\n");
        if (fetched != 0)
            status = 1;
    }
    if (upload) {
        out << "Uploading from the running window...\n";
        out.flush();
        const bool uploaded = call(bus, QStringLiteral("UploadGuide"), kUploadTimeoutMs, &why);
        if (!why.isEmpty()) {
            err << "pallaro: the window did not take the upload: " << why << "\n";
            return 2;
        }
        out << (uploaded ? "Upload finished.\n" : "Upload failed: see the window's log.\n");
        if (!uploaded)
            status = 1;
    }
    return status;
}

std::optional<int> forwardMarkToWindow(const MarkRequest &r, QTextStream &out, QTextStream &err)
{
    QDBusConnection bus = sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(ScriptCommands::service))
        return std::nullopt;
    QDBusMessage call = QDBusMessage::createMethodCall(ScriptCommands::service,
        ScriptCommands::path, ScriptCommands::service, QStringLiteral("MarkProgramme"));
    call << r.start << r.channel << r.record << r.before << r.after;
    const QDBusMessage reply = bus.call(call, QDBus::Block, 120000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        err << "pallaro: the window did not take the mark: " << reply.errorMessage() << "\n";
        return 2;
    }
    const QStringList lines = reply.arguments().constFirst().toStringList();
    for (const QString &line : lines)
        out << line << "\n";
    out.flush();
    if (lines.isEmpty()) {
        err << "pallaro: no programme starts at " << r.start << " on " << r.channel << "\n";
        return 1;
    }
    return 0;
}

#include "ScriptCommands.moc"
