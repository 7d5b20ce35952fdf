#pragma once

#include <QByteArrayView>

#include <array>

/// Retraces chmlib's LZX decoder frame by frame without producing output. It keeps the same bit
/// stream, Huffman tables, window position and repeated offsets, and says whether chmlib, given
/// the same frames in the same order, would fail, or read or write outside its buffers. Window
/// contents are not kept: they never steer the decoder, only positions do.
class ChmLzxMirror
{
public:
    /// windowBits as chmlib passes it to LZXinit: 15 to 21.
    explicit ChmLzxMirror(int windowBits);

    /// The state LZXreset leaves.
    void reset();

    /// One LZXdecompress call on input (the bytes chmlib fetched for the frame) inside chmlib's
    /// frame buffer of bufferSize bytes, producing outputLength bytes. Returns false when chmlib
    /// would fail or overrun; the mirror is then spent.
    bool decompress(QByteArrayView input, qsizetype bufferSize, int outputLength);

    template<int TableBits, int MaxSymbols> struct HuffmanTable
    {
        // Sizes as chmlib declares them, so that every index it may use can be checked.
        std::array<quint16, (1 << TableBits) + (MaxSymbols << 1)> symbols {};
        std::array<quint8, MaxSymbols + 64> lengths {};
    };

private:
    class BitStream;

    template<int TableBits, int MaxSymbols> void buildTable(HuffmanTable<TableBits, MaxSymbols> &table);
    template<int TableBits, int MaxSymbols>
    int readSymbol(BitStream &bits, const HuffmanTable<TableBits, MaxSymbols> &table);
    template<int MaxSymbols>
    void readLengths(BitStream &bits, std::array<quint8, MaxSymbols + 64> &lengths, quint32 first, quint32 last);
    void decodeFrame(BitStream &bits, int outputLength);

    quint32 windowSize;
    quint32 mainElements;
    quint32 windowPosition = 0;
    quint32 r0 = 1, r1 = 1, r2 = 1;
    bool headerRead = false;
    quint32 blockType = 0;
    quint32 blockLength = 0;
    quint32 blockRemaining = 0;

    HuffmanTable<6, 20> pretree;
    HuffmanTable<12, 256 + 50 * 8> mainTree;
    HuffmanTable<12, 249 + 1> lengthTree;
    HuffmanTable<7, 8> alignedTree;
};
