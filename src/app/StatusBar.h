#pragma once

#include <QWidget>

class DesktopServices;

/// The status bar: a fixed text panel and the NUM, CAPS and INS key-state panels. Nothing but
/// the keyboard writes to it.
class StatusBar : public QWidget
{
    Q_OBJECT

public:
    explicit StatusBar(QWidget *parent = nullptr);

    /// Follows the desktop's key-lock indicators from now on.
    void follow(DesktopServices &desktop);
};
