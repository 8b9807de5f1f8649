#include "app/GuideConversion.h"

#include "guide/XMLToEPG.h"

#include <QFile>

struct GuideConversion::Data {
    XMLToEPG converter;
    XMLTVProgrammeList programmes;
};

GuideConversion::GuideConversion()
    : d_(std::make_unique<Data>())
{
}

GuideConversion::~GuideConversion() = default;

void GuideConversion::convertToTGD(const QString &folder)
{
    for (const QString &name : { QStringLiteral("xmltv.xml"), QStringLiteral("-") }) {
        const QString path = folder + QLatin1Char('/') + name;
        if (!QFile::exists(path))
            continue;
        QString error;
        bool guide = false;
        d_->programmes = d_->converter.importXML(path, &error, &guide);
        if (!d_->programmes.empty())
            break;
        if (!guide) {
            QFile::remove(path);
            why_ = QStringLiteral("\"%1\" is no guide%2")
                       .arg(name, error.isEmpty() ? QString() : QStringLiteral(": ") + error);
        } else if (why_.isEmpty()) {
            why_ = QStringLiteral("\"%1\" lists no programmes").arg(name);
        }
    }
    d_->converter.fixData(d_->programmes);
    const ExportResult written = d_->converter.exportTGD(d_->programmes, folder);
    dayFiles_ = written.files;
    writeError_ = written.error;
}

QString GuideConversion::exportXML(const QString &folder)
{
    return d_->converter.exportXML(d_->programmes, folder).error;
}

int GuideConversion::programmes() const
{
    return int(d_->programmes.size());
}
