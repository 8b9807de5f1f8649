#pragma once

#include <QImage>
#include <QString>
#include <QStringList>
#include <QVariant>

// Small pictures for the "Now on" list: one badge per channel key that the channel mapping
// gives, drawn once on first use (UI thread only: text drawing needs the application's fonts).
namespace channelbadges
{

inline constexpr QSize badgeSize { 36, 20 };
inline constexpr QSize blankSize { 5, 5 };

// The keys that have a badge.
QStringList keys();

// The badge for a channel key, or a transparent 5x5 picture for any other key.
QImage badge(const QString &key);

} // namespace channelbadges

// The "Now on" list's picture lookup: a QImage in a QVariant.
QVariant channelPicture(const QString &key);
