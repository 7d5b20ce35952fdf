#pragma once

#include <QRect>
#include <QString>

class QWidget;

/// Opens the compiled help file fileName (relative names against the current directory) at its
/// default topic in a viewer window transient for owner and placed beside it (where the platform
/// lets the program place windows), and returns at once; the file is read
/// in the background. When it cannot be opened, the viewer's window says why. Asking again for
/// a file that owner already shows brings that viewer forward. The file is read by readerProgram,
/// by default the helper beside the program. Returns the viewer window's id.
quintptr openHelpViewer(QWidget *owner, const QString &fileName, const QString &readerProgram = {});

/// Where a help window's frame of the given size goes so that owner's frame stays in view within
/// the screen's available area: beside it (to its right, else left, else below, else above) at
/// full size, else shrunk to the first of these with at least half the size each way; failing
/// that, over owner below its top keepHeight pixels (title bar, menu bar and buttons).
QRect helpWindowPlace(const QRect &available, const QRect &owner, int keepHeight, QSize size);
