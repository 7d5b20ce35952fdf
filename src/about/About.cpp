#include "About.h"

#include <QWidget>

About::About(QWidget &mainWindow, QObject *parent)
    : QObject(parent)
    , mainWindow(mainWindow)
{
}

void About::show()
{
}
