#include "app/GuideConversion.h"

#include "guide/XMLToEPG.h"

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
    d_->programmes = d_->converter.importXML(folder + QStringLiteral("/xmltv.xml"));
    if (d_->programmes.empty())
        d_->programmes = d_->converter.importXML(folder + QStringLiteral("/-"));
    d_->converter.fixData(d_->programmes);
    dayFiles_ = d_->converter.exportTGD(d_->programmes, folder).files;
}

void GuideConversion::exportXML(const QString &folder)
{
    d_->converter.exportXML(d_->programmes, folder);
}

int GuideConversion::programmes() const
{
    return int(d_->programmes.size());
}
