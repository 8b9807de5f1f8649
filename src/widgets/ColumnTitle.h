#pragma once

#include <QStringList>
#include <QVariant>

// A table model's horizontal header: the title of column `section`, nothing past the ends.
inline QVariant columnTitle(
    const QStringList &titles, int section, Qt::Orientation orientation, int role)
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0
        && section < titles.size())
        return titles.at(section);
    return {};
}
