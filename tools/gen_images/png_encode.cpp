// PNG writer for the picture generator: checksums, an LZ77 + Huffman deflate and chunk layout.
#include "png_encode.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>
#include <queue>
#include <utility>

namespace png {

namespace {

constexpr size_t windowBytes = 32768;
constexpr int minMatchBytes = 3;
constexpr int maxMatchBytes = 258;
constexpr int hashBits = 15;
// Longer chains find slightly better matches but the generator runs inside a test, so stay quick.
constexpr int maxChainSteps = 96;
constexpr size_t tokensPerBlock = 16384;
constexpr size_t storedBlockMaxBytes = 65535;

constexpr int literalCodeCount = 286;
constexpr int distanceCodeCount = 30;
constexpr int endOfBlock = 256;

constexpr std::array<uint16_t, 29> lengthBase = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                 15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<uint8_t, 29> lengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<uint16_t, 30> distanceBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<uint8_t, 30> distanceExtra = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                   4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                   9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block lists its code-length code lengths.
constexpr std::array<uint8_t, 19> codeLengthOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                     11, 4,  12, 3, 13, 2, 14, 1, 15};

std::array<uint32_t, 256> makeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

// A match (distance > 0) or a literal byte (distance 0, value in lengthOrLiteral).
struct Token {
    uint16_t lengthOrLiteral;
    uint16_t distance;
};

int lengthSymbol(int length) {
    int index = 28;
    while (lengthBase[static_cast<size_t>(index)] > length) --index;
    return index;
}

int distanceSymbol(int distance) {
    int index = 29;
    while (distanceBase[static_cast<size_t>(index)] > distance) --index;
    return index;
}

class BitWriter {
  public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}

    void put(uint32_t bits, int count) {
        accumulator_ |= static_cast<uint64_t>(bits) << bitCount_;
        bitCount_ += count;
        while (bitCount_ >= 8) {
            out_.push_back(static_cast<uint8_t>(accumulator_ & 0xFFu));
            accumulator_ >>= 8;
            bitCount_ -= 8;
        }
    }

    // Huffman codes are defined most significant bit first, the stream packs from the bottom.
    void putCode(uint32_t code, int length) {
        uint32_t reversed = 0;
        for (int i = 0; i < length; ++i) reversed |= ((code >> i) & 1u) << (length - 1 - i);
        put(reversed, length);
    }

    void alignToByte() {
        if (bitCount_ > 0) put(0, 8 - bitCount_);
    }

    void putByte(uint8_t value) { put(value, 8); }

  private:
    std::vector<uint8_t>& out_;
    uint64_t accumulator_ = 0;
    int bitCount_ = 0;
};

// Code lengths of a Huffman code for the given frequencies, none longer than limitBits.
// Too-deep trees are flattened by halving the weights and building again, which keeps
// the code usable at a tiny cost in size.
std::vector<uint8_t> huffmanLengths(const std::vector<uint32_t>& frequencies, int limitBits) {
    const size_t count = frequencies.size();
    std::vector<uint8_t> lengths(count, 0);
    std::vector<uint64_t> weights(frequencies.begin(), frequencies.end());
    std::vector<size_t> used;
    for (size_t i = 0; i < count; ++i)
        if (weights[i] > 0) used.push_back(i);
    if (used.empty()) return lengths;
    if (used.size() == 1) {
        lengths[used[0]] = 1;
        return lengths;
    }
    for (;;) {
        using Entry = std::pair<uint64_t, size_t>; // weight, node; ties go to the lower node
        std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue;
        std::vector<size_t> parent(used.size() * 2, 0);
        for (size_t i = 0; i < used.size(); ++i) queue.push({weights[used[i]], i});
        size_t nextNode = used.size();
        while (queue.size() > 1) {
            const Entry a = queue.top();
            queue.pop();
            const Entry b = queue.top();
            queue.pop();
            parent[a.second] = nextNode;
            parent[b.second] = nextNode;
            queue.push({a.first + b.first, nextNode});
            ++nextNode;
        }
        const size_t root = nextNode - 1;
        int deepest = 0;
        for (size_t i = 0; i < used.size(); ++i) {
            int depth = 0;
            for (size_t node = i; node != root; node = parent[node]) ++depth;
            lengths[used[i]] = static_cast<uint8_t>(depth);
            deepest = std::max(deepest, depth);
        }
        if (deepest <= limitBits) return lengths;
        for (size_t symbol : used) weights[symbol] = (weights[symbol] >> 1) | 1u;
    }
}

// Canonical codes from code lengths, as every inflater rebuilds them.
std::vector<uint32_t> canonicalCodes(const std::vector<uint8_t>& lengths) {
    std::array<uint32_t, 16> lengthCount{};
    for (uint8_t length : lengths) ++lengthCount[length];
    lengthCount[0] = 0;
    std::array<uint32_t, 16> nextCode{};
    uint32_t code = 0;
    for (size_t bits = 1; bits < 16; ++bits) {
        code = (code + lengthCount[bits - 1]) << 1;
        nextCode[bits] = code;
    }
    std::vector<uint32_t> codes(lengths.size(), 0);
    for (size_t i = 0; i < lengths.size(); ++i)
        if (lengths[i] != 0) codes[i] = nextCode[lengths[i]]++;
    return codes;
}

std::vector<Token> findMatches(const uint8_t* data, size_t size) {
    std::vector<Token> tokens;
    tokens.reserve(size / 2 + 16);
    std::vector<int32_t> head(size_t{1} << hashBits, -1);
    std::vector<int32_t> previous(size, -1);
    auto hashAt = [&](size_t i) {
        const uint32_t key = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
        return (key * 2654435761u) >> (32 - hashBits);
    };
    size_t inserted = 0;
    auto insertUpTo = [&](size_t position) {
        for (; inserted < position; ++inserted) {
            if (inserted + 2 >= size) continue;
            const uint32_t h = hashAt(inserted);
            previous[inserted] = head[h];
            head[h] = static_cast<int32_t>(inserted);
        }
    };
    auto longestMatch = [&](size_t i, int& bestDistance) {
        if (i + minMatchBytes > size) return 0;
        const int limit = static_cast<int>(std::min<size_t>(maxMatchBytes, size - i));
        int best = 0;
        int steps = maxChainSteps;
        for (int32_t candidate = head[hashAt(i)];
             candidate >= 0 && i - static_cast<size_t>(candidate) <= windowBytes && steps-- > 0;
             candidate = previous[static_cast<size_t>(candidate)]) {
            const uint8_t* a = data + candidate;
            const uint8_t* b = data + i;
            if (a[best] != b[best]) continue;
            int length = 0;
            while (length < limit && a[length] == b[length]) ++length;
            if (length > best) {
                best = length;
                bestDistance = static_cast<int>(i - static_cast<size_t>(candidate));
                if (best == limit) break;
            }
        }
        return best >= minMatchBytes ? best : 0;
    };

    size_t i = 0;
    while (i < size) {
        insertUpTo(i);
        int distance = 0;
        const int length = longestMatch(i, distance);
        if (length == 0) {
            tokens.push_back({data[i], 0});
            ++i;
            continue;
        }
        // One step of lazy matching: a literal now can buy a longer match one byte later.
        if (length < maxMatchBytes && i + 1 < size) {
            insertUpTo(i + 1);
            int laterDistance = 0;
            if (longestMatch(i + 1, laterDistance) > length) {
                tokens.push_back({data[i], 0});
                ++i;
                continue;
            }
        }
        tokens.push_back({static_cast<uint16_t>(length), static_cast<uint16_t>(distance)});
        i += static_cast<size_t>(length);
    }
    return tokens;
}

struct CodeSet {
    std::vector<uint8_t> literalLengths;
    std::vector<uint8_t> distanceLengths;
};

CodeSet fixedCodes() {
    CodeSet codes;
    codes.literalLengths.assign(288, 8);
    std::fill(codes.literalLengths.begin() + 144, codes.literalLengths.begin() + 256, 9);
    std::fill(codes.literalLengths.begin() + 256, codes.literalLengths.begin() + 280, 7);
    codes.distanceLengths.assign(32, 5);
    return codes;
}

// Run-length form of the concatenated code lengths: symbols 0-15, 16 (repeat), 17 and 18 (zeros),
// each paired with its extra-bit value.
std::vector<std::pair<uint8_t, uint8_t>> runLengthCodeLengths(const std::vector<uint8_t>& all) {
    std::vector<std::pair<uint8_t, uint8_t>> out;
    size_t i = 0;
    while (i < all.size()) {
        const uint8_t value = all[i];
        size_t run = 1;
        while (i + run < all.size() && all[i + run] == value) ++run;
        if (value == 0) {
            size_t left = run;
            while (left >= 11) {
                const size_t take = std::min<size_t>(left, 138);
                out.push_back({18, static_cast<uint8_t>(take - 11)});
                left -= take;
            }
            if (left >= 3) {
                out.push_back({17, static_cast<uint8_t>(left - 3)});
                left = 0;
            }
            for (; left > 0; --left) out.push_back({0, 0});
        } else {
            out.push_back({value, 0});
            size_t left = run - 1;
            while (left >= 3) {
                const size_t take = std::min<size_t>(left, 6);
                out.push_back({16, static_cast<uint8_t>(take - 3)});
                left -= take;
            }
            for (; left > 0; --left) out.push_back({value, 0});
        }
        i += run;
    }
    return out;
}

struct DynamicHeader {
    CodeSet codes;
    std::vector<std::pair<uint8_t, uint8_t>> runs;
    std::vector<uint8_t> codeLengthLengths;
    int literalCount = 0;
    int distanceCount = 0;
    int codeLengthCount = 0;
    uint64_t headerBits = 0;
};

// An inflater needs at least two distance codes only in spirit; giving two keeps every decoder
// happy, including ones that reject a one-code tree.
void ensureTwoCodes(std::vector<uint32_t>& frequencies) {
    size_t used = 0;
    for (uint32_t f : frequencies) used += f > 0 ? 1 : 0;
    for (size_t i = 0; i < frequencies.size() && used < 2; ++i)
        if (frequencies[i] == 0) {
            frequencies[i] = 1;
            ++used;
        }
}

DynamicHeader dynamicCodes(std::vector<uint32_t> literalFrequencies,
                           std::vector<uint32_t> distanceFrequencies) {
    DynamicHeader header;
    ensureTwoCodes(literalFrequencies);
    ensureTwoCodes(distanceFrequencies);
    header.codes.literalLengths = huffmanLengths(literalFrequencies, 15);
    header.codes.distanceLengths = huffmanLengths(distanceFrequencies, 15);
    header.literalCount = literalCodeCount;
    while (header.literalCount > 257 &&
           header.codes.literalLengths[static_cast<size_t>(header.literalCount - 1)] == 0)
        --header.literalCount;
    header.distanceCount = distanceCodeCount;
    while (header.distanceCount > 1 &&
           header.codes.distanceLengths[static_cast<size_t>(header.distanceCount - 1)] == 0)
        --header.distanceCount;
    std::vector<uint8_t> all(header.codes.literalLengths.begin(),
                             header.codes.literalLengths.begin() + header.literalCount);
    all.insert(all.end(), header.codes.distanceLengths.begin(),
               header.codes.distanceLengths.begin() + header.distanceCount);
    header.runs = runLengthCodeLengths(all);
    std::vector<uint32_t> runFrequencies(19, 0);
    for (const auto& run : header.runs) ++runFrequencies[run.first];
    ensureTwoCodes(runFrequencies);
    header.codeLengthLengths = huffmanLengths(runFrequencies, 7);
    header.codeLengthCount = 19;
    while (header.codeLengthCount > 4 &&
           header.codeLengthLengths[codeLengthOrder[static_cast<size_t>(header.codeLengthCount -
                                                                        1)]] == 0)
        --header.codeLengthCount;
    header.headerBits = 5 + 5 + 4 + 3 * static_cast<uint64_t>(header.codeLengthCount);
    for (const auto& run : header.runs) {
        header.headerBits += header.codeLengthLengths[run.first];
        header.headerBits += run.first == 16 ? 2 : run.first == 17 ? 3 : run.first == 18 ? 7 : 0;
    }
    return header;
}

uint64_t tokenBits(const std::vector<uint32_t>& literalFrequencies,
                   const std::vector<uint32_t>& distanceFrequencies, const CodeSet& codes) {
    uint64_t bits = 0;
    for (size_t s = 0; s < literalFrequencies.size(); ++s) {
        const uint64_t extra = s > 256 ? lengthExtra[s - 257] : 0;
        bits += literalFrequencies[s] * (codes.literalLengths[s] + extra);
    }
    for (size_t s = 0; s < distanceFrequencies.size(); ++s)
        bits += distanceFrequencies[s] * (codes.distanceLengths[s] + uint64_t{distanceExtra[s]});
    return bits;
}

void writeTokens(BitWriter& writer, const Token* tokens, size_t count, const CodeSet& codes) {
    const std::vector<uint32_t> literalCodes = canonicalCodes(codes.literalLengths);
    const std::vector<uint32_t> distanceCodes = canonicalCodes(codes.distanceLengths);
    for (size_t t = 0; t < count; ++t) {
        const Token& token = tokens[t];
        if (token.distance == 0) {
            writer.putCode(literalCodes[token.lengthOrLiteral],
                           codes.literalLengths[token.lengthOrLiteral]);
            continue;
        }
        const int ls = lengthSymbol(token.lengthOrLiteral);
        const size_t lsym = static_cast<size_t>(257 + ls);
        writer.putCode(literalCodes[lsym], codes.literalLengths[lsym]);
        writer.put(
            static_cast<uint32_t>(token.lengthOrLiteral - lengthBase[static_cast<size_t>(ls)]),
            lengthExtra[static_cast<size_t>(ls)]);
        const size_t ds = static_cast<size_t>(distanceSymbol(token.distance));
        writer.putCode(distanceCodes[ds], codes.distanceLengths[ds]);
        writer.put(static_cast<uint32_t>(token.distance - distanceBase[ds]), distanceExtra[ds]);
    }
    writer.putCode(literalCodes[endOfBlock], codes.literalLengths[endOfBlock]);
}

void writeStored(BitWriter& writer, const uint8_t* data, size_t size, bool lastBlock) {
    size_t offset = 0;
    do {
        const size_t take = std::min(size - offset, storedBlockMaxBytes);
        const bool final = lastBlock && offset + take == size;
        writer.put(final ? 1u : 0u, 1);
        writer.put(0, 2);
        writer.alignToByte();
        const auto length = static_cast<uint16_t>(take);
        const auto inverted = static_cast<uint16_t>(~length);
        writer.putByte(static_cast<uint8_t>(length & 0xFFu));
        writer.putByte(static_cast<uint8_t>(length >> 8));
        writer.putByte(static_cast<uint8_t>(inverted & 0xFFu));
        writer.putByte(static_cast<uint8_t>(inverted >> 8));
        for (size_t i = 0; i < take; ++i) writer.putByte(data[offset + i]);
        offset += take;
    } while (offset < size);
}

void writeChunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& body) {
    const auto length = static_cast<uint32_t>(body.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(length >> shift));
    const size_t typeStart = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    const uint32_t crc = crc32(out.data() + typeStart, body.size() + 4);
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(crc >> shift));
}

void putBigEndian32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

int paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a);
    const int pb = std::abs(p - b);
    const int pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

// Scanlines with a filter byte each. adaptive picks, per row, the filter whose output has the
// smallest sum of magnitudes; otherwise every row is unfiltered.
std::vector<uint8_t> filterRows(const std::vector<uint8_t>& packed, size_t rowBytes, size_t rows,
                                size_t pixelBytes, bool adaptive) {
    std::vector<uint8_t> out;
    out.reserve(rows * (rowBytes + 1));
    std::vector<uint8_t> zeroRow(rowBytes, 0);
    std::vector<uint8_t> candidate(rowBytes);
    std::vector<uint8_t> best(rowBytes);
    for (size_t y = 0; y < rows; ++y) {
        const uint8_t* row = packed.data() + y * rowBytes;
        const uint8_t* above = y > 0 ? packed.data() + (y - 1) * rowBytes : zeroRow.data();
        if (!adaptive) {
            out.push_back(0);
            out.insert(out.end(), row, row + rowBytes);
            continue;
        }
        uint64_t bestScore = UINT64_MAX;
        uint8_t bestFilter = 0;
        for (uint8_t filter = 0; filter < 5; ++filter) {
            uint64_t score = 0;
            for (size_t i = 0; i < rowBytes; ++i) {
                const int left = i >= pixelBytes ? row[i - pixelBytes] : 0;
                const int up = above[i];
                const int upLeft = i >= pixelBytes ? above[i - pixelBytes] : 0;
                int predicted = 0;
                switch (filter) {
                case 1: predicted = left; break;
                case 2: predicted = up; break;
                case 3: predicted = (left + up) / 2; break;
                case 4: predicted = paeth(left, up, upLeft); break;
                default: break;
                }
                const auto value = static_cast<uint8_t>(row[i] - predicted);
                candidate[i] = value;
                score += value < 128 ? value : 256u - value;
            }
            if (score < bestScore) {
                bestScore = score;
                bestFilter = filter;
                best.swap(candidate);
            }
        }
        out.push_back(bestFilter);
        out.insert(out.end(), best.begin(), best.end());
    }
    return out;
}

} // namespace

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc) {
    static const std::array<uint32_t, 256> table = makeCrcTable();
    uint32_t c = crc ^ 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) c = table[(c ^ data[i]) & 0xFFu] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

uint32_t adler32(const uint8_t* data, size_t size, uint32_t adler) {
    constexpr uint32_t modulus = 65521;
    uint32_t a = adler & 0xFFFFu;
    uint32_t b = adler >> 16;
    for (size_t i = 0; i < size; ++i) {
        a = (a + data[i]) % modulus;
        b = (b + a) % modulus;
    }
    return (b << 16) | a;
}

std::vector<uint8_t> deflate(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    BitWriter writer(out);
    const std::vector<Token> tokens = findMatches(data, size);
    const CodeSet fixed = fixedCodes();
    if (tokens.empty()) {
        writer.put(1, 1);
        writer.put(1, 2);
        writeTokens(writer, nullptr, 0, fixed);
        writer.alignToByte();
        return out;
    }
    size_t byteStart = 0;
    for (size_t first = 0; first < tokens.size(); first += tokensPerBlock) {
        const size_t count = std::min(tokensPerBlock, tokens.size() - first);
        const bool last = first + count == tokens.size();
        std::vector<uint32_t> literalFrequencies(literalCodeCount, 0);
        std::vector<uint32_t> distanceFrequencies(distanceCodeCount, 0);
        size_t blockBytes = 0;
        for (size_t t = first; t < first + count; ++t) {
            const Token& token = tokens[t];
            if (token.distance == 0) {
                ++literalFrequencies[token.lengthOrLiteral];
                ++blockBytes;
            } else {
                ++literalFrequencies[static_cast<size_t>(257 +
                                                         lengthSymbol(token.lengthOrLiteral))];
                ++distanceFrequencies[static_cast<size_t>(distanceSymbol(token.distance))];
                blockBytes += token.lengthOrLiteral;
            }
        }
        ++literalFrequencies[endOfBlock];
        const DynamicHeader dynamic = dynamicCodes(literalFrequencies, distanceFrequencies);
        const uint64_t fixedBits = 3 + tokenBits(literalFrequencies, distanceFrequencies, fixed);
        const uint64_t dynamicBits =
            3 + dynamic.headerBits +
            tokenBits(literalFrequencies, distanceFrequencies, dynamic.codes);
        const uint64_t storedBits =
            (blockBytes + 5 * (blockBytes / storedBlockMaxBytes + 1)) * 8 + 8;
        if (storedBits < fixedBits && storedBits < dynamicBits) {
            writeStored(writer, data + byteStart, blockBytes, last);
        } else if (fixedBits <= dynamicBits) {
            writer.put(last ? 1u : 0u, 1);
            writer.put(1, 2);
            writeTokens(writer, tokens.data() + first, count, fixed);
        } else {
            writer.put(last ? 1u : 0u, 1);
            writer.put(2, 2);
            writer.put(static_cast<uint32_t>(dynamic.literalCount - 257), 5);
            writer.put(static_cast<uint32_t>(dynamic.distanceCount - 1), 5);
            writer.put(static_cast<uint32_t>(dynamic.codeLengthCount - 4), 4);
            for (int i = 0; i < dynamic.codeLengthCount; ++i)
                writer.put(dynamic.codeLengthLengths[codeLengthOrder[static_cast<size_t>(i)]], 3);
            const std::vector<uint32_t> runCodes = canonicalCodes(dynamic.codeLengthLengths);
            for (const auto& run : dynamic.runs) {
                writer.putCode(runCodes[run.first], dynamic.codeLengthLengths[run.first]);
                if (run.first == 16) writer.put(run.second, 2);
                if (run.first == 17) writer.put(run.second, 3);
                if (run.first == 18) writer.put(run.second, 7);
            }
            writeTokens(writer, tokens.data() + first, count, dynamic.codes);
        }
        byteStart += blockBytes;
    }
    writer.alignToByte();
    return out;
}

std::vector<uint8_t> zlibCompress(const uint8_t* data, size_t size) {
    // CMF 0x78: deflate with a 32 KiB window; FLG 0x01 makes the header a multiple of 31.
    std::vector<uint8_t> out = {0x78, 0x01};
    const std::vector<uint8_t> body = deflate(data, size);
    out.insert(out.end(), body.begin(), body.end());
    putBigEndian32(out, adler32(data, size));
    return out;
}

std::vector<uint8_t> encode(const Image& image) {
    const uint8_t depth = image.bitDepth;
    const bool depthValid = image.colourType == ColourType::Rgb ? depth == 8
                            : image.colourType == ColourType::Palette
                                ? (depth == 1 || depth == 2 || depth == 4 || depth == 8)
                                : (depth == 1 || depth == 2 || depth == 4 || depth == 8);
    const size_t channels = image.colourType == ColourType::Rgb ? 3 : 1;
    const size_t sampleCount = size_t{image.width} * image.height * channels;
    if (!depthValid || image.width == 0 || image.height == 0 || image.samples.size() != sampleCount)
        return {};
    const size_t paletteEntries = image.palette.size() / 3;
    if (image.colourType == ColourType::Palette &&
        (image.palette.size() % 3 != 0 || paletteEntries == 0 ||
         paletteEntries > (size_t{1} << depth)))
        return {};
    const uint32_t maxSample = (1u << depth) - 1u;
    for (uint8_t sample : image.samples) {
        if (sample > maxSample) return {};
        if (image.colourType == ColourType::Palette && sample >= paletteEntries) return {};
    }

    const size_t rowBits = size_t{image.width} * channels * depth;
    const size_t rowBytes = (rowBits + 7) / 8;
    std::vector<uint8_t> packed(rowBytes * image.height, 0);
    for (size_t y = 0; y < image.height; ++y) {
        const uint8_t* in = image.samples.data() + y * image.width * channels;
        uint8_t* row = packed.data() + y * rowBytes;
        for (size_t i = 0; i < image.width * channels; ++i) {
            const size_t bit = i * depth;
            row[bit / 8] |= static_cast<uint8_t>(in[i] << (8 - depth - bit % 8));
        }
    }
    const size_t pixelBytes = std::max<size_t>(1, channels * depth / 8);
    // Both layouts are tried: filters pay off on smooth true-colour work, plain rows on
    // palette art with flat areas.
    std::vector<uint8_t> compressed;
    for (bool adaptive : {false, true}) {
        const std::vector<uint8_t> rows =
            filterRows(packed, rowBytes, image.height, pixelBytes, adaptive);
        std::vector<uint8_t> attempt = zlibCompress(rows.data(), rows.size());
        if (compressed.empty() || attempt.size() < compressed.size()) compressed.swap(attempt);
    }

    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<uint8_t> header;
    putBigEndian32(header, image.width);
    putBigEndian32(header, image.height);
    header.push_back(depth);
    header.push_back(static_cast<uint8_t>(image.colourType));
    header.push_back(0); // deflate
    header.push_back(0); // adaptive filtering
    header.push_back(0); // no interlace
    writeChunk(out, "IHDR", header);
    if (image.colourType == ColourType::Palette) writeChunk(out, "PLTE", image.palette);
    writeChunk(out, "IDAT", compressed);
    writeChunk(out, "IEND", {});
    return out;
}

} // namespace png
