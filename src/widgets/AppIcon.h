#pragma once

#include <QIcon>

// The application's icon: the installed theme's, else the copy built into the program.
QIcon applicationIcon();
