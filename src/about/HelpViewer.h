#pragma once

#include <QString>

class QWidget;

/// Opens the compiled help file fileName at its default topic in a viewer window owned by owner
/// and returns at once. Returns the viewer window's id, or 0 when the file cannot be opened.
quintptr openHelpViewer(QWidget *owner, const QString &fileName);
