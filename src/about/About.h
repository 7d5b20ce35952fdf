#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

/// The About window. The object lives for the run; its window is built on every show and
/// destroyed on close. While it is shown the main window is disabled.
class About : public QObject
{
    Q_OBJECT

public:
    explicit About(QWidget &mainWindow, QObject *parent = nullptr);
    ~About() override;

    /// Loads the window if it is not loaded (disabling the main window) and shows it.
    void show();
    /// The loaded window, or null while unloaded.
    QWidget *window() const { return form; }

Q_SIGNALS:
    /// A new window was built and is about to be shown for the first time.
    void windowBuilt(QWidget *window);

private:
    void load();
    void closeWindow();

    QWidget &mainWindow;
    QPointer<QWidget> form;
    QPointer<QWidget> mainFocus;
};
