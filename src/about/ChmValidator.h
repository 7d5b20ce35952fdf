#pragma once

#include <QByteArrayView>
#include <QString>

/// Checks a compiled help archive before chmlib reads it. chmlib trusts every offset, length,
/// directory link and compressed frame of the file, so this walks the same structures the same
/// way: the headers, every directory chunk it can reach, every entry, the reset table and every
/// LZX frame (decoded the way chmlib decodes it). Returns an empty string when chmlib can open
/// and read every object of data without leaving its buffers or looping, else the reason why not.
QString chmArchiveProblem(QByteArrayView data);
