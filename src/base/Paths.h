#pragma once

#include <QString>

// Where Pallaro keeps its data and finds its shipped files.
namespace Paths {

// "$XDG_DATA_HOME/Pallaro" (default ~/.local/share/Pallaro); no final "/".
QString applicationSupportFolder();
// The output folder: applicationSupportFolder() + "/output"; no final "/".
QString outputFolder();

// The program folder: external scripts and start-up resources; ends in "/".
// share/pallaro/ beside the executable's bin/, unless PALLARO_PROGRAM_FOLDER or
// setProgramFolder() names another.
QString programFolder();
// The resources folder: "header.xml" and the scheduler templates; ends in "/".
QString resourcesFolder();

// For tests and demos; an empty path restores the default.
void setProgramFolder(const QString &folder);

} // namespace Paths
