#pragma once

#include "widgets/TransparentWindow.h"

// The intro shown while the application starts: a transparent window holding a rounded
// view with the program's name, centred on the screen.
class IntroWindow : public TransparentWindow
{
    Q_OBJECT
public:
    explicit IntroWindow(QWidget *parent = nullptr);
};
