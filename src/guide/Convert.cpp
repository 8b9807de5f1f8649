#include "guide/Convert.h"

#include "base/Settings.h"
#include "guide/XMLToEPG.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

int runConvert(const QString &xmltvFile, const QString &outputFolder, bool xml, QTextStream &out,
    QTextStream &err)
{
    Settings::registerDefaults();
    auto refuse = [&err](const QString &reason) {
        err << "pallaro: " << reason << "\n";
        err.flush();
        return 1;
    };
    const QFileInfo info(xmltvFile);
    if (!info.exists())
        return refuse(QStringLiteral("no such file: %1").arg(xmltvFile));
    if (!info.isFile())
        return refuse(QStringLiteral("not a file: %1").arg(xmltvFile));
    QFile probe(xmltvFile);
    if (!probe.open(QIODevice::ReadOnly))
        return refuse(QStringLiteral("cannot read %1: %2").arg(xmltvFile, probe.errorString()));
    probe.close();
    if (info.size() == 0)
        return refuse(QStringLiteral("%1 is empty").arg(xmltvFile));

    XMLToEPG epg;
    QString error;
    bool foundGuide = false;
    auto refuseDocument = [&]() {
        if (!error.isEmpty())
            return refuse(QStringLiteral("%1 is not well-formed XML (%2)").arg(xmltvFile, error));
        return refuse(QStringLiteral("%1 is not an XMLTV guide: no tv element").arg(xmltvFile));
    };
    XMLTVProgrammeList programmes;
    ExportResult tgd;
    if (xml) {
        // The day XMLTV files need the whole programme list.
        programmes = epg.importXML(xmltvFile, &error, &foundGuide);
        if (!error.isEmpty() || !foundGuide)
            return refuseDocument();
        epg.fixData(programmes);
        if (!QDir().mkpath(outputFolder))
            return refuse(QStringLiteral("cannot create the folder %1").arg(outputFolder));
        tgd = epg.exportTGD(programmes, outputFolder);
    } else {
        tgd = epg.convertToTGD(xmltvFile, outputFolder, &error, &foundGuide);
        if (!error.isEmpty() || !foundGuide)
            return refuseDocument();
        if (tgd.noFolder)
            return refuse(QStringLiteral("cannot create the folder %1").arg(outputFolder));
    }
    if (!tgd.error.isEmpty())
        return refuse(QStringLiteral("cannot write %1").arg(tgd.error));
    out << tgd.programmes << " programmes written to " << tgd.files << " day files in "
        << outputFolder << "\n";
    if (tgd.skipped)
        out << tgd.skipped << " programmes left out: no start time in a known format\n";
    if (xml) {
        const ExportResult days = epg.exportXML(programmes, outputFolder);
        if (!days.error.isEmpty())
            return refuse(QStringLiteral("cannot write %1").arg(days.error));
        out << days.files << " day XMLTV files written\n";
    }
    out.flush();
    return 0;
}
