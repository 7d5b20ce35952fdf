#pragma once

#include <QString>

class QWidget;

/// Opens the compiled help file fileName (relative names against the current directory) at its
/// default topic in a viewer window owned by owner, and returns at once. Asking again for a file
/// that owner already shows brings that viewer forward. Returns the viewer window's id, or 0 when
/// the file cannot be opened; nothing is shown then.
quintptr openHelpViewer(QWidget *owner, const QString &fileName);
