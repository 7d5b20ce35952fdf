#include "ChmLzx.h"

#include <cstddef>

namespace {

// Thrown wherever chmlib would return an error or step outside a buffer.
struct Rejected
{
};

constexpr quint32 NumChars = 256;
constexpr quint32 MinMatch = 2;
constexpr quint32 NumPrimaryLengths = 7;
constexpr quint32 NumSecondaryLengths = 249;
constexpr quint32 BlockVerbatim = 1;
constexpr quint32 BlockAligned = 2;
constexpr quint32 BlockUncompressed = 3;

constexpr std::array<quint8, 51> ExtraBits = { 0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10,
    11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17 };

constexpr std::array<quint32, 51> PositionBase
    = { 0, 1, 2, 3, 4, 6, 8, 12, 16, 24, 32, 48, 64, 96, 128, 192, 256, 384, 512, 768, 1024, 1536, 2048, 3072, 4096,
          6144, 8192, 12288, 16384, 24576, 32768, 49152, 65536, 98304, 131072, 196608, 262144, 393216, 524288, 655360,
          786432, 917504, 1048576, 1179648, 1310720, 1441792, 1572864, 1703936, 1835008, 1966080, 2097152 };

template<typename T, std::size_t N> T &at(std::array<T, N> &array, quint64 index)
{
    if (index >= N)
        throw Rejected();
    return array[index];
}

template<typename T, std::size_t N> const T &at(const std::array<T, N> &array, quint64 index)
{
    if (index >= N)
        throw Rejected();
    return array[index];
}

} // namespace

// chmlib's bit buffer: 32 bits filled 16 at a time from the input, most significant bit first.
// Bytes past what was fetched sit in chmlib's buffer uninitialised; peeking at them is harmless
// (a complete prefix code never lets unconsumed bits choose a symbol), consuming them is not.
class ChmLzxMirror::BitStream
{
public:
    BitStream(QByteArrayView input, qsizetype bufferSize)
        : input(input)
        , bufferSize(bufferSize)
    {
    }

    void restart()
    {
        buffer = 0;
        bitsLeft = 0;
    }
    void ensure(int count)
    {
        while (bitsLeft < count) {
            const quint32 word = (quint32(byteAt(position + 1)) << 8) | byteAt(position);
            buffer |= word << (32 - 16 - bitsLeft);
            bitsLeft += 16;
            position += 2;
        }
    }
    quint32 peek(int count) const { return buffer >> (32 - count); }
    void remove(int count)
    {
        if (count > bitsLeft)
            throw Rejected();
        buffer = count >= 32 ? 0 : buffer << count;
        bitsLeft -= count;
        if (position * 8 - bitsLeft > input.size() * 8)
            throw Rejected();
    }
    quint32 read(int count)
    {
        ensure(count);
        const quint32 value = peek(count);
        remove(count);
        return value;
    }
    // Little-endian word read straight from the input, as an uncompressed block's header is.
    quint32 directWord()
    {
        if (position < 0 || position + 4 > input.size())
            throw Rejected();
        const auto *bytes = reinterpret_cast<const uchar *>(input.data()) + position;
        position += 4;
        return quint32(bytes[0]) | quint32(bytes[1]) << 8 | quint32(bytes[2]) << 16 | quint32(bytes[3]) << 24;
    }

    QByteArrayView input;
    qsizetype bufferSize;
    qsizetype position = 0;
    quint32 buffer = 0;
    int bitsLeft = 0;

private:
    uchar byteAt(qsizetype index) const
    {
        if (index < 0 || index >= bufferSize)
            throw Rejected();
        return index < input.size() ? uchar(input[index]) : 0;
    }
};

ChmLzxMirror::ChmLzxMirror(int windowBits)
    : windowSize(1u << windowBits)
    , mainElements(NumChars
          + ((windowBits == 20          ? 42
                     : windowBits == 21 ? 50
                                        : windowBits << 1)
              << 3))
{
}

void ChmLzxMirror::reset()
{
    r0 = r1 = r2 = 1;
    headerRead = false;
    blockRemaining = 0;
    blockType = 0;
    windowPosition = 0;
    mainTree.lengths.fill(0);
    lengthTree.lengths.fill(0);
}

bool ChmLzxMirror::decompress(QByteArrayView input, qsizetype bufferSize, int outputLength)
{
    if (input.size() > bufferSize || outputLength <= 0)
        return false;
    BitStream bits(input, bufferSize);
    try {
        decodeFrame(bits, outputLength);
    } catch (const Rejected &) {
        return false;
    }
    return true;
}

// make_decode_table, with every table index checked against chmlib's array sizes.
template<int TableBits, int MaxSymbols> void ChmLzxMirror::buildTable(HuffmanTable<TableBits, MaxSymbols> &table)
{
    auto &symbols = table.symbols;
    const auto &lengths = table.lengths;
    quint32 position = 0;
    quint32 tableMask = 1u << TableBits;
    quint32 bitMask = tableMask >> 1;
    quint32 nextSymbol = bitMask;
    quint32 bitNumber = 1;

    for (; bitNumber <= quint32(TableBits); ++bitNumber, bitMask >>= 1) {
        for (quint32 symbol = 0; symbol < quint32(MaxSymbols); ++symbol) {
            if (lengths[symbol] != bitNumber)
                continue;
            quint32 leaf = position;
            if ((position += bitMask) > tableMask)
                throw Rejected();
            for (quint32 fill = bitMask; fill > 0; --fill)
                at(symbols, leaf++) = quint16(symbol);
        }
    }

    if (position != tableMask) {
        for (quint32 symbol = position; symbol < tableMask; ++symbol)
            at(symbols, symbol) = 0;
        position <<= 16;
        tableMask <<= 16;
        bitMask = 1u << 15;
        for (; bitNumber <= 16; ++bitNumber, bitMask >>= 1) {
            for (quint32 symbol = 0; symbol < quint32(MaxSymbols); ++symbol) {
                if (lengths[symbol] != bitNumber)
                    continue;
                quint32 leaf = position >> 16;
                for (quint32 fill = 0; fill < bitNumber - TableBits; ++fill) {
                    if (at(symbols, leaf) == 0) {
                        at(symbols, quint64(nextSymbol) << 1) = 0;
                        at(symbols, (quint64(nextSymbol) << 1) + 1) = 0;
                        at(symbols, leaf) = quint16(nextSymbol++);
                    }
                    leaf = quint32(at(symbols, leaf)) << 1;
                    if ((position >> (15 - fill)) & 1)
                        ++leaf;
                }
                at(symbols, leaf) = quint16(symbol);
                if ((position += bitMask) > tableMask)
                    throw Rejected();
            }
        }
    }

    if (position == tableMask)
        return;
    // An empty tree is allowed; a partial one is not.
    for (quint32 symbol = 0; symbol < quint32(MaxSymbols); ++symbol) {
        if (lengths[symbol])
            throw Rejected();
    }
}

template<int TableBits, int MaxSymbols>
int ChmLzxMirror::readSymbol(BitStream &bits, const HuffmanTable<TableBits, MaxSymbols> &table)
{
    bits.ensure(16);
    quint32 symbol = at(table.symbols, bits.peek(TableBits));
    if (symbol >= quint32(MaxSymbols)) {
        quint32 mask = 1u << (32 - TableBits);
        do {
            mask >>= 1;
            symbol = (symbol << 1) | ((bits.buffer & mask) ? 1 : 0);
            if (!mask)
                throw Rejected();
        } while ((symbol = at(table.symbols, symbol)) >= quint32(MaxSymbols));
    }
    bits.remove(at(table.lengths, symbol));
    return int(symbol);
}

// lzx_read_lens: code lengths as deltas through the pretree; runs may overshoot last into the
// table's safety margin, exactly as in chmlib.
template<int MaxSymbols>
void ChmLzxMirror::readLengths(
    BitStream &bits, std::array<quint8, MaxSymbols + 64> &lengths, quint32 first, quint32 last)
{
    for (int index = 0; index < 20; ++index)
        pretree.lengths[index] = quint8(bits.read(4));
    buildTable(pretree);

    for (quint32 index = first; index < last;) {
        int code = readSymbol(bits, pretree);
        if (code == 17 || code == 18) {
            quint32 run = code == 17 ? bits.read(4) + 4 : bits.read(5) + 20;
            while (run--)
                at(lengths, index++) = 0;
        } else if (code == 19) {
            quint32 run = bits.read(1) + 4;
            code = readSymbol(bits, pretree);
            int value = int(at(lengths, index)) - code;
            if (value < 0)
                value += 17;
            while (run--)
                at(lengths, index++) = quint8(value);
        } else {
            int value = int(at(lengths, index)) - code;
            if (value < 0)
                value += 17;
            at(lengths, index++) = quint8(value);
        }
    }
}

void ChmLzxMirror::decodeFrame(BitStream &bits, int outputLength)
{
    const qsizetype inputEnd = bits.input.size();
    quint32 position = windowPosition;
    quint32 rep0 = r0, rep1 = r1, rep2 = r2;
    int remaining = outputLength;

    if (!headerRead) {
        if (bits.read(1)) {
            bits.read(16);
            bits.read(16);
        }
        headerRead = true;
    }

    while (remaining > 0) {
        if (blockRemaining == 0) {
            if (blockType == BlockUncompressed) {
                if (blockLength & 1)
                    ++bits.position;
                bits.restart();
            }
            blockType = bits.read(3);
            const quint32 high = bits.read(16);
            const quint32 low = bits.read(8);
            blockRemaining = blockLength = (high << 8) | low;

            switch (blockType) {
            case BlockAligned:
                for (int index = 0; index < 8; ++index)
                    alignedTree.lengths[index] = quint8(bits.read(3));
                buildTable(alignedTree);
                [[fallthrough]];
            case BlockVerbatim:
                readLengths<256 + 50 * 8>(bits, mainTree.lengths, 0, NumChars);
                readLengths<256 + 50 * 8>(bits, mainTree.lengths, NumChars, mainElements);
                buildTable(mainTree);
                readLengths<249 + 1>(bits, lengthTree.lengths, 0, NumSecondaryLengths);
                buildTable(lengthTree);
                break;
            case BlockUncompressed:
                bits.ensure(16);
                if (bits.bitsLeft > 16)
                    bits.position -= 2;
                rep0 = bits.directWord();
                rep1 = bits.directWord();
                rep2 = bits.directWord();
                break;
            default:
                throw Rejected();
            }
        }

        if (bits.position > inputEnd && (bits.position > inputEnd + 2 || bits.bitsLeft < 16))
            throw Rejected();

        int run;
        while ((run = int(blockRemaining)) > 0 && remaining > 0) {
            if (run > remaining)
                run = remaining;
            remaining -= run;
            blockRemaining -= quint32(run);
            position &= windowSize - 1;
            if (position + quint32(run) > windowSize)
                throw Rejected();

            if (blockType == BlockUncompressed) {
                if (bits.position + run > inputEnd)
                    throw Rejected();
                bits.position += run;
                position += quint32(run);
                continue;
            }

            while (run > 0) {
                int element = readSymbol(bits, mainTree);
                if (element < int(NumChars)) {
                    if (position >= windowSize)
                        throw Rejected();
                    ++position;
                    --run;
                    continue;
                }
                element -= NumChars;
                int matchLength = element & NumPrimaryLengths;
                if (matchLength == int(NumPrimaryLengths))
                    matchLength += readSymbol(bits, lengthTree);
                matchLength += MinMatch;

                quint32 offset = quint32(element) >> 3;
                if (offset > 2) {
                    const int extra = at(ExtraBits, offset);
                    if (blockType == BlockVerbatim) {
                        offset = offset != 3 ? at(PositionBase, offset) - 2 + bits.read(extra) : 1;
                    } else {
                        offset = at(PositionBase, offset) - 2;
                        if (extra > 3) {
                            offset += bits.read(extra - 3) << 3;
                            offset += quint32(readSymbol(bits, alignedTree));
                        } else if (extra == 3) {
                            offset += quint32(readSymbol(bits, alignedTree));
                        } else if (extra > 0) {
                            offset += bits.read(extra);
                        } else {
                            offset = 1;
                        }
                    }
                    rep2 = rep1;
                    rep1 = rep0;
                    rep0 = offset;
                } else if (offset == 0) {
                    offset = rep0;
                } else if (offset == 1) {
                    offset = rep1;
                    rep1 = rep0;
                    rep0 = offset;
                } else {
                    offset = rep2;
                    rep2 = rep0;
                    rep0 = offset;
                }

                // A source before the window's start wraps to its end, once; chmlib does not check
                // that once is enough (an offset from an uncompressed header can be anything).
                const qint64 source = qint64(position) - qint64(offset);
                position += quint32(matchLength);
                if (position > windowSize)
                    throw Rejected();
                if (source < 0 && source + qint64(windowSize) < 0)
                    throw Rejected();
                run -= matchLength;
            }
        }
    }

    // The frame is copied out of the window ending at the current position.
    if ((position == 0 ? windowSize : position) < quint32(outputLength))
        throw Rejected();
    windowPosition = position;
    r0 = rep0;
    r1 = rep1;
    r2 = rep2;
}
