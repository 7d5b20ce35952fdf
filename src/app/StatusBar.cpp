#include "StatusBar.h"

StatusBar::StatusBar(QWidget *parent)
    : QWidget(parent)
{
}

void StatusBar::follow(DesktopServices &desktop)
{
    Q_UNUSED(desktop);
}
