#pragma once

#include <functional>

// SIGTERM, SIGHUP and SIGINT (a logout, a shutdown, Ctrl-C) call `quit` on the thread
// that installs this, from its event loop, so the program ends as its own Quit does and
// stores what it holds. Install once, on the main thread, with a Qt application running.
void quitOnTerminationSignals(std::function<void()> quit);
