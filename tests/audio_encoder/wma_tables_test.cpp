// The standard code tables: complete prefix codes of the published sizes,
// and symbols written with them read back by a small independent reader;
// the coefficient syntax (runs, escapes, omitted end of block, stuffing)
// read back the way the decoder reads it.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "audio_encoder/wma_block.h"
#include "audio_encoder/wma_params.h"
#include "audio_encoder/wma9_formats.h"
#include "tables/wma_tables.h"

namespace asfw {
namespace {

class BitReader {
public:
    explicit BitReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    std::uint32_t get(int n)
    {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            const std::size_t byte = pos_ >> 3;
            const int bit = byte < bytes_.size() ? (bytes_[byte] >> (7 - (pos_ & 7))) & 1 : 0;
            v = (v << 1) | static_cast<std::uint32_t>(bit);
            ++pos_;
        }
        return v;
    }
    // Decodes one symbol of a prefix code (-1 if none within 32 bits).
    int vlc(const std::vector<VlcCode>& codes)
    {
        std::map<std::pair<int, std::uint32_t>, int> index;
        for (std::size_t i = 0; i < codes.size(); ++i) index[{codes[i].length, codes[i].code}] = static_cast<int>(i);
        std::uint32_t v = 0;
        for (int len = 1; len <= 32; ++len) {
            v = (v << 1) | get(1);
            auto it = index.find({len, v});
            if (it != index.end()) return it->second;
        }
        return -1;
    }
    std::size_t position() const { return pos_; }

private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t pos_ = 0;
};

bool prefixFree(const std::vector<VlcCode>& c, double* kraft)
{
    *kraft = 0;
    for (std::size_t i = 0; i < c.size(); ++i) {
        *kraft += 1.0 / static_cast<double>(1ull << c[i].length);
        if (c[i].length == 0 || c[i].length > 32 || (c[i].length < 32 && (c[i].code >> c[i].length) != 0)) return false;
        for (std::size_t j = 0; j < c.size(); ++j) {
            if (i == j || c[j].length < c[i].length) continue;
            if ((c[j].code >> (c[j].length - c[i].length)) == c[i].code) return false;
        }
    }
    return true;
}

struct TableCase {
    const char* name;
    int index;  // -1 scale factors, -2 noise gains, else coefficient table
    std::size_t symbols;
    int levels;
};

class WmaCodeTable : public ::testing::TestWithParam<TableCase> {};

const std::vector<VlcCode>& codesOf(const TableCase& t)
{
    if (t.index == -1) return wmaScaleCodes();
    if (t.index == -2) return wmaHgainCodes();
    return wmaCoefTable(t.index).codes;
}

TEST_P(WmaCodeTable, IsACompletePrefixCodeOfItsPublishedSize)
{
    const TableCase& t = GetParam();
    const std::vector<VlcCode>& codes = codesOf(t);
    ASSERT_EQ(codes.size(), t.symbols);
    double kraft = 0;
    EXPECT_TRUE(prefixFree(codes, &kraft));
    EXPECT_DOUBLE_EQ(kraft, 1.0);
    if (t.index >= 0) {
        const WmaCoefTable& ct = wmaCoefTable(t.index);
        EXPECT_EQ(ct.maxLevel(), t.levels);
        // Every (run, level) symbol maps back to itself.
        for (std::size_t s = 2; s < ct.codes.size(); ++s)
            EXPECT_EQ(ct.symbolOf(ct.run[s], ct.level[s]), static_cast<int>(s));
        EXPECT_EQ(ct.symbolOf(0, 1), 2);
    }
}

TEST_P(WmaCodeTable, SymbolsWrittenReadBack)
{
    const std::vector<VlcCode>& codes = codesOf(GetParam());
    std::mt19937 rng(5);
    std::vector<int> symbols;
    for (int i = 0; i < 3000; ++i) symbols.push_back(static_cast<int>(rng() % codes.size()));
    BitWriter w;
    for (int s : symbols) w.put(codes[static_cast<std::size_t>(s)]);
    const std::vector<std::uint8_t> bytes = w.take();
    BitReader r(bytes);
    for (int s : symbols) ASSERT_EQ(r.vlc(codes), s);
}

INSTANTIATE_TEST_SUITE_P(Tables, WmaCodeTable,
                         ::testing::Values(TableCase{"scale", -1, 121, 0}, TableCase{"hgain", -2, 37, 0},
                                           TableCase{"coef0", 0, 666, 60}, TableCase{"coef1", 1, 555, 40},
                                           TableCase{"coef2", 2, 1336, 340}, TableCase{"coef3", 3, 1072, 180},
                                           TableCase{"coef4", 4, 476, 70}, TableCase{"coef5", 5, 435, 40}),
                         [](const auto& info) { return std::string(info.param.name); });

// Reads a coefficient run the way the decoder does.
std::vector<int> readCoefs(BitReader& r, const WmaCoefTable& t, int n, int escBits, int frameLenBits)
{
    std::vector<int> q(static_cast<std::size_t>(n), 0);
    for (int offset = 0; offset < n; ++offset) {
        const int sym = r.vlc(t.codes);
        if (sym == 1) break;
        int level;
        if (sym == 0) {
            level = static_cast<int>(r.get(escBits));
            offset += static_cast<int>(r.get(frameLenBits));
        } else {
            offset += t.run[static_cast<std::size_t>(sym)];
            level = t.level[static_cast<std::size_t>(sym)];
        }
        const bool negative = r.get(1) == 1;  // this encoder's convention
        if (offset >= n) {
            ADD_FAILURE() << "run past the end";
            break;
        }
        q[static_cast<std::size_t>(offset)] = negative ? -level : level;
    }
    return q;
}

struct CoefCase {
    const char* name;
    int table;
    int n;
    int stuffing;
    bool fillLast;  // a value in the last position: no end-of-block code
    int maxLevel;
    unsigned sparse = 4;  // one value in `sparse` positions is non-zero
};

class WmaCoefSyntax : public ::testing::TestWithParam<CoefCase> {};

TEST_P(WmaCoefSyntax, ValuesReadBackWithTheNextFieldInPlace)
{
    const CoefCase& c = GetParam();
    const WmaCoefTable& t = wmaCoefTable(c.table);
    std::mt19937 rng(static_cast<unsigned>(c.n * 7 + c.table));
    std::vector<int> q(static_cast<std::size_t>(c.n), 0);
    for (int i = 0; i < c.n; ++i) {
        if (rng() % c.sparse == 0) {
            const int level = 1 + static_cast<int>(rng() % static_cast<unsigned>(c.maxLevel));
            q[static_cast<std::size_t>(i)] = (rng() & 1) ? level : -level;
        }
    }
    if (c.fillLast) q.back() = 3;
    else q.back() = 0;
    if (c.stuffing) std::fill(q.end() - c.stuffing - 2, q.end(), 0);
    const int escBits = 9, frameLenBits = 11;
    BitWriter w;
    wmaWriteCoefs(w, t, q, c.n, escBits, frameLenBits, c.stuffing);
    // The rate search's counter prices exactly what was written, and stops
    // early past its limit.
    const std::int64_t written = static_cast<std::int64_t>(w.bitCount());
    EXPECT_EQ(wmaCoefBits(t, q.data(), c.n, escBits, frameLenBits, c.stuffing, std::int64_t{1} << 40), written);
    EXPECT_GT(wmaCoefBits(t, q.data(), c.n, escBits, frameLenBits, c.stuffing, written / 2), written / 2);
    w.put(0x2A5, 10);  // whatever follows must be found intact
    const std::vector<std::uint8_t> bytes = w.take();
    BitReader r(bytes);
    EXPECT_EQ(readCoefs(r, t, c.n, escBits, frameLenBits), q);
    EXPECT_EQ(r.get(10), 0x2A5u);
}

INSTANTIATE_TEST_SUITE_P(Syntax, WmaCoefSyntax,
                         ::testing::Values(CoefCase{"small_levels", 4, 1864, 0, false, 3},
                                           CoefCase{"escapes", 4, 1864, 0, false, 400},
                                           CoefCase{"full_block", 2, 116, 0, true, 20},
                                           CoefCase{"stuffed", 0, 466, 5, false, 6},
                                           CoefCase{"side_table", 5, 233, 0, false, 50},
                                           CoefCase{"mid_rate", 3, 932, 0, true, 100},
                                           CoefCase{"long_runs", 1, 1864, 3, false, 40, 90}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WmaParams, BandLayoutsCoverEveryBlockLengthOfEveryFormat)
{
    for (const Wma9Format& f : wma9CbrFormats()) {
        const WmaParams p = wmaParams(f.sampleRate, f.channels, f.avgBytesPerSec * 8, kWmaEncodeOptions);
        EXPECT_GE(p.blockSizes, 3) << f.sampleRate;
        for (int k = 0; k < p.blockSizes; ++k) {
            int sum = 0;
            for (int w : p.bandWidths[k]) sum += w;
            EXPECT_EQ(sum, p.blockLen(k)) << f.sampleRate << " k=" << k;
            EXPECT_LT(p.coefsEnd[k], p.blockLen(k));
        }
    }
}

}  // namespace
}  // namespace asfw
