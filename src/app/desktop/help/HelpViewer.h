#pragma once

#include <QString>

class QWidget;

/// Opens the compiled help file fileName (relative names against the current directory) at its
/// default topic in a viewer window transient for owner, and returns at once; the file is read
/// in the background. When it cannot be opened, the viewer's window says why. Asking again for
/// a file that owner already shows brings that viewer forward. The file is read by readerProgram,
/// by default the helper beside the program. Returns the viewer window's id.
quintptr openHelpViewer(QWidget *owner, const QString &fileName, const QString &readerProgram = {});
