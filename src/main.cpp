#include "app/Main.h"
#include "app/QtDesktopServices.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(OMBRIX_APP_ID));
    // The program ends when Main is unloaded, not when its last visible window closes: Main
    // hides into the tray while the help viewer may stay open.
    QApplication::setQuitOnLastWindowClosed(false);

    QtDesktopServices desktop;
    Main main(desktop);
    QObject::connect(&main, &Main::unloaded, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    main.load();
    main.show();
    return app.exec();
}
