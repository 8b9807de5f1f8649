#include "base/Paths.h"
#include "base/SystemLog.h"
#include "guide/DayFiles.h"
#include "guide/TGDFile.h"
#include "guide/XMLToEPG.h"

#include <QFile>
#include <QSet>

// The day XMLTV files for the grid generator.

namespace
{

// Header used when the resources folder has no readable "header.xml".
const char kDefaultHeader[] = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                              "<!DOCTYPE tv SYSTEM \"xmltv.dtd\">\n"
                              "<tv generator-info-name=\"Pallaro\">\n";

// Element text and attribute values for a day XMLTV file: markup characters as entities,
// everything outside 7-bit ASCII as a numeric character reference.
void appendEscaped(QByteArray &out, const QString &text, bool attribute)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < n && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(char16_t(c), text.at(i + 1).unicode());
            ++i;
        }
        switch (c) {
        case '&':
            out += "&amp;";
            continue;
        case '<':
            out += "&lt;";
            continue;
        case '>':
            out += "&gt;";
            continue;
        case '"':
            out += attribute ? "&quot;" : "\"";
            continue;
        default:
            break;
        }
        // Attribute values would lose TAB and line breaks to normalisation on reading.
        if (c >= 0x80 || (attribute && (c == '\t' || c == '\n' || c == '\r'))) {
            out += "&#";
            out += QByteArray::number(uint(c));
            out += ';';
        } else if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            out += '?'; // not allowed in XML 1.0 at all
        } else {
            out += char(c);
        }
    }
}

} // namespace

ExportResult XMLToEPG::exportXML(const XMLTVProgrammeList &programmes, const QString &folder) const
{
    ExportResult result;
    if (programmes.empty())
        return result;

    // Each channel under the name the programme table shows for it.
    QStringList channels;
    QHash<QString, QString> shownNames;
    for (const XMLTVProgramme &p : programmes)
        if (p.rawChannel && !shownNames.contains(*p.rawChannel)) {
            shownNames.insert(*p.rawChannel,
                TGDFile::displayName(p.chanName.isEmpty() ? *p.rawChannel : p.chanName));
            channels << *p.rawChannel;
        }
    systemLog(QStringLiteral("XMLTV day files list %1 channels: %2")
                  .arg(channels.size())
                  .arg(channels.join(QStringLiteral(", "))));

    QByteArray header;
    QFile headerFile(Paths::resourcesFolder() + QStringLiteral("header.xml"));
    if (headerFile.open(QIODevice::ReadOnly))
        header = headerFile.readAll();
    if (header.isEmpty()) {
        systemLog(QStringLiteral("header.xml missing or empty; using the built-in header"));
        header = kDefaultHeader;
    }
    QByteArray channelBlock;
    for (const QString &c : channels) {
        channelBlock += "<channel id=\"";
        appendEscaped(channelBlock, c, true);
        channelBlock += "\">\n<display-name lang=\"en\">";
        appendEscaped(channelBlock, shownNames.value(c), false);
        channelBlock += "</display-name>\n</channel>\n";
    }

    DayFiles files(folder, ".xml", result, "</tv>\n");
    for (const XMLTVProgramme &p : programmes) {
        if (!p.startDate) {
            ++result.skipped; // no day to put it in; exportTGD has logged it
            continue;
        }
        if (files.beginDay(dayKey(p.startDate->date())))
            files.content() = header + channelBlock;
        QByteArray &content = files.content();
        content += "<programme start=\"";
        appendEscaped(content, p.rawStart.value_or(QString()), true);
        content += "\" stop=\"";
        appendEscaped(content, p.rawStop.value_or(QString()), true);
        content += "\" channel=\"";
        appendEscaped(content, p.rawChannel.value_or(QString()), true);
        content += "\">\n<title lang=\"en\">";
        appendEscaped(content, p.title, false);
        content += "</title>\n<sub-title lang=\"en\">";
        appendEscaped(content, p.subTitle, false);
        content += "</sub-title>\n<desc lang=\"en\">";
        appendEscaped(content, p.description, false);
        content += "</desc>\n<category lang=\"en\">";
        appendEscaped(content, p.category, false);
        content += "</category>\n<rating system=\"CTVA\">\n<value>";
        appendEscaped(content, p.rating, false);
        content += "</value>\n</rating>\n</programme>\n";
        files.countProgramme();
    }
    files.commit();
    return result;
}
