#include "widgets/AppIcon.h"

QIcon applicationIcon()
{
    QIcon bundled;
    for (const int size : { 16, 24, 32, 48, 64, 128, 256 })
        bundled.addFile(
            QStringLiteral(":/icons/%1x%1/org.pallaro.Pallaro.png").arg(size), QSize(size, size));
    return QIcon::fromTheme(QStringLiteral("org.pallaro.Pallaro"), bundled);
}
