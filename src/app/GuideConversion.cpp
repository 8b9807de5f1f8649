#include "app/GuideConversion.h"

// FIXME(lead): interim body until XMLToEPG lands from the guide branch; converts nothing.
struct GuideConversion::Data {
};

GuideConversion::GuideConversion()
    : d_(std::make_unique<Data>())
{
}

GuideConversion::~GuideConversion() = default;

void GuideConversion::convertToTGD(const QString &) { }

void GuideConversion::exportXML(const QString &) { }

int GuideConversion::programmes() const
{
    return 0;
}
