// The start-up benchmark's baseline: a bare Qt main window with a menu bar, a list view and a
// status bar, linked against Qt Widgets alone.

#include <QApplication>
#include <QListView>
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QStringListModel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.menuBar()->addMenu(QStringLiteral("&File"))->addAction(QStringLiteral("E&xit"), &app, &QApplication::quit);
    auto *list = new QListView(&window);
    list->setModel(new QStringListModel({ QStringLiteral("one"), QStringLiteral("two") }, list));
    window.setCentralWidget(list);
    window.statusBar()->showMessage(QStringLiteral("Ready"));
    window.show();
    return app.exec();
}
