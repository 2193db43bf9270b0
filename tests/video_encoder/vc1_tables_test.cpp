// The VC-1 tables proved by decoding: every VLC table must be a prefix
// code with the standard's completeness, the escape deltas derived from the
// AC sets must equal the standard's delta tables, and everything the
// writers emit must come back through an independent little reader.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tables/vc1_tables.h"
#include "video_encoder/vc1_encoder.h"
#include "video_encoder/vc1_syntax.h"
#include "video_encoder/wmv9_encoder.h"

namespace asfw::vc1 {
namespace {

class BitReader {
public:
    explicit BitReader(const std::vector<std::uint8_t>& b) : bytes_(b) {}
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
    // Index of the code of `table` at the read position (linear search by
    // growing prefix), -1 when none matches within 32 bits.
    template <class Code>
    int vlc(const Code* table, int size)
    {
        std::uint32_t v = 0;
        for (int len = 1; len <= 32; ++len) {
            v = (v << 1) | get(1);
            for (int i = 0; i < size; ++i)
                if (table[i].length == len && table[i].code == v) return i;
        }
        return -1;
    }
    std::size_t position() const { return pos_; }

private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t pos_ = 0;
};

// Sum of 2^-length as a fraction over 2^32, and prefix-freeness.
template <class Code>
void expectPrefixCode(const Code* table, int size, std::uint64_t expectedKraft, const std::string& name)
{
    std::uint64_t kraft = 0;
    for (int i = 0; i < size; ++i) {
        ASSERT_GE(table[i].length, 1) << name;
        ASSERT_LE(table[i].length, 32) << name;
        ASSERT_LT(static_cast<std::uint64_t>(table[i].code), std::uint64_t{1} << table[i].length) << name << " " << i;
        kraft += std::uint64_t{1} << (32 - table[i].length);
        for (int j = 0; j < size; ++j) {
            if (i == j || table[j].length < table[i].length) continue;
            const std::uint32_t prefix = static_cast<std::uint32_t>(table[j].code >> (table[j].length - table[i].length));
            EXPECT_FALSE(prefix == table[i].code) << name << ": code " << i << " is a prefix of code " << j;
        }
    }
    EXPECT_EQ(kraft, expectedKraft) << name;
}

constexpr std::uint64_t kWhole = std::uint64_t{1} << 32;

TEST(Vc1Tables, AcSetsArePrefixCodesOfTheStandardsCompleteness)
{
    const int sizes[8] = {186, 169, 133, 149, 103, 103, 163, 175};
    for (int s = 0; s < kAcCodingSets; ++s) {
        int size = 0;
        const AcCode* t = acCodeTable(s, &size);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(size, sizes[s]);
        // The two MPEG-4-derived sets leave one 9-bit code unused.
        expectPrefixCode(t, size, s == 4 || s == 5 ? kWhole - kWhole / 512 : kWhole, "AC set " + std::to_string(s));
    }
    EXPECT_EQ(acCodeTable(8, nullptr), nullptr);
}

TEST(Vc1Tables, DcAndCbpcyTablesArePrefixCodes)
{
    for (int t = 0; t < 2; ++t)
        for (bool chroma : {false, true})
            expectPrefixCode(dcDiffTable(t, chroma), 120, kWhole, "DC " + std::to_string(t) + (chroma ? " chroma" : " luma"));
    expectPrefixCode(kCbpcyIntra, 64, kWhole, "CBPCY-I");
}

// The escape-mode deltas of the standard (largest level per run for
// not-last events; largest run per level for last events), for each set.
TEST(Vc1Tables, DerivedEscapeDeltasMatchTheStandard)
{
    const std::vector<std::vector<int>> deltaLevel = {
        {19, 15, 12, 11, 6, 5, 4, 4, 4, 4, 3, 3, 3, 3, 3, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
        {23, 11, 8, 7, 5, 5, 4, 4, 3, 3, 3, 3, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
        {16, 11, 8, 7, 5, 4, 4, 3, 3, 3, 3, 3, 3, 3, 2, 2, 1, 1, 1, 1, 1},
        {14, 9, 5, 4, 4, 4, 3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
        {27, 10, 5, 4, 3, 3, 3, 3, 2, 2, 1, 1, 1, 1, 1},
        {12, 6, 4, 3, 3, 3, 3, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
        {56, 20, 10, 7, 6, 5, 4, 3, 3, 3, 2, 2, 2, 2, 1},
        {32, 13, 8, 6, 5, 4, 4, 3, 3, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 1, 1},
    };
    const std::vector<std::vector<int>> lastDeltaRun = {
        {37, 15, 4, 3, 1, 0}, {36, 14, 6, 3, 1, 0}, {26, 13, 3, 1}, {43, 15, 3, 1, 0},
        {20, 6, 1, 0},         {40, 1, 0},            {16, 14, 2, 0}, {30, 28, 3, 0},
    };
    for (int s = 0; s < kAcCodingSets; ++s) {
        const AcSetInfo& info = AcSetInfo::get(s);
        for (std::size_t run = 0; run < deltaLevel[s].size(); ++run)
            EXPECT_EQ(info.maxLevel(false, static_cast<int>(run)), deltaLevel[s][run]) << "set " << s << " run " << run;
        EXPECT_EQ(info.maxLevel(false, static_cast<int>(deltaLevel[s].size())), 0) << "set " << s;
        for (std::size_t level = 1; level <= lastDeltaRun[s].size(); ++level)
            EXPECT_EQ(info.maxRun(true, static_cast<int>(level)), lastDeltaRun[s][level - 1]) << "set " << s;
    }
}

// An AC event decoder written from the block-layer description: escape
// code, then "1" (level delta), "01" (run delta) or "00" (fixed length).
struct Decoded {
    int run, level;
    bool last;
};
Decoded readAcEvent(BitReader& r, int set, Escape3& esc3, int pquant)
{
    int size = 0;
    const AcCode* t = acCodeTable(set, &size);
    const AcSetInfo& info = AcSetInfo::get(set);
    int index = r.vlc(t, size);
    EXPECT_GE(index, 0);
    if (index < 0) return {0, 0, false};
    if (index != size - 1) {
        const int sign = static_cast<int>(r.get(1));
        return {t[index].run, sign ? -t[index].level : t[index].level, t[index].last != 0};
    }
    if (r.get(1) == 1) {
        index = r.vlc(t, size - 1);
        const int level = t[index].level + info.maxLevel(t[index].last != 0, t[index].run);
        return {t[index].run, r.get(1) ? -level : level, t[index].last != 0};
    }
    if (r.get(1) == 1) {
        index = r.vlc(t, size - 1);
        const int run = t[index].run + info.maxRun(t[index].last != 0, t[index].level) + 1;
        return {run, r.get(1) ? -t[index].level : t[index].level, t[index].last != 0};
    }
    const bool last = r.get(1) != 0;
    if (!esc3.sent) {
        if (pquant < 8) {
            esc3.levelBits = static_cast<int>(r.get(3));
            if (esc3.levelBits == 0) esc3.levelBits = 8 + static_cast<int>(r.get(2));
        } else {
            int zeros = 0;
            while (zeros < 6 && r.get(1) == 0) ++zeros;
            esc3.levelBits = zeros + 2;
        }
        esc3.runBits = 3 + static_cast<int>(r.get(2));
        esc3.sent = true;
    }
    const int run = static_cast<int>(r.get(esc3.runBits));
    const bool negative = r.get(1) != 0;
    const int level = static_cast<int>(r.get(esc3.levelBits));
    return {run, negative ? -level : level, last};
}

TEST(Vc1Tables, AcEventsRoundTripThroughEveryEscapeMode)
{
    std::mt19937 rng(7);
    for (int set = 0; set < kAcCodingSets; ++set) {
        for (int pquant : {3, 12}) {
            const int maxLevel = maxAcLevel(pquant);
            Escape3 esc3;
            esc3.levelBits = maxEscape3LevelBits(pquant);
            esc3.runBits = 6;
            std::vector<AcEvent> events;
            for (int run = 0; run < 63; ++run)
                for (int level = 1; level <= 70; ++level)
                    for (int last = 0; last < 2; ++last) {
                        AcEvent e;
                        e.run = static_cast<std::uint8_t>(run);
                        e.level = static_cast<std::int16_t>((level + run) % 3 == 0 ? -level : level);
                        e.last = last != 0;
                        events.push_back(e);
                    }
            for (int i = 0; i < 2000; ++i) {
                AcEvent e;
                e.run = static_cast<std::uint8_t>(rng() % 63);
                e.level = static_cast<std::int16_t>(1 + static_cast<int>(rng() % static_cast<unsigned>(maxLevel)));
                if (rng() & 1) e.level = static_cast<std::int16_t>(-e.level);
                e.last = (rng() & 1) != 0;
                events.push_back(e);
            }
            BitWriter w;
            Escape3 writerEsc = esc3;
            std::map<AcMode, int> modes;
            for (const AcEvent& e : events) {
                const AcChoice c = chooseAcCoding(AcSetInfo::get(set), e.run, std::abs(e.level), e.last, writerEsc);
                ASSERT_NE(c.mode, AcMode::Impossible);
                ++modes[c.mode];
                const std::uint64_t before = w.bitCount();
                writeAcEvent(w, AcSetInfo::get(set), e, c, writerEsc, pquant);
                BitCounter counter;
                Escape3 sentEsc = writerEsc;  // sizes already sent: the choice's own bits
                writeAcEvent(counter, AcSetInfo::get(set), e, c, sentEsc, pquant);
                EXPECT_EQ(counter.bitCount(), static_cast<std::uint64_t>(c.bits));
                EXPECT_GE(w.bitCount() - before, static_cast<std::uint64_t>(c.bits));
            }
            EXPECT_GT(modes[AcMode::Direct], 0);
            EXPECT_GT(modes[AcMode::Escape1], 0);
            EXPECT_GT(modes[AcMode::Escape2], 0);
            EXPECT_GT(modes[AcMode::Escape3], 0);
            const std::vector<std::uint8_t> bytes = w.take();
            BitReader r(bytes);
            Escape3 readerEsc;
            for (std::size_t i = 0; i < events.size(); ++i) {
                const Decoded d = readAcEvent(r, set, readerEsc, pquant);
                ASSERT_EQ(d.run, events[i].run) << "set " << set << " event " << i;
                ASSERT_EQ(d.level, events[i].level) << "set " << set << " event " << i;
                ASSERT_EQ(d.last, events[i].last) << "set " << set << " event " << i;
            }
            EXPECT_EQ(readerEsc.levelBits, esc3.levelBits);
            EXPECT_EQ(readerEsc.runBits, esc3.runBits);
        }
    }
}

TEST(Vc1Tables, DcDifferentialsRoundTrip)
{
    for (int pquant : {1, 2, 3, 9, 31}) {
        for (int table = 0; table < 2; ++table) {
            for (bool chroma : {false, true}) {
                BitWriter w;
                const int maxDiff = maxDcDiff(pquant);
                for (int d = -maxDiff; d <= maxDiff; ++d) writeDcDiff(w, d, pquant, chroma, table);
                const std::vector<std::uint8_t> bytes = w.take();
                BitReader r(bytes);
                const int extra = pquant == 1 ? 2 : (pquant == 2 ? 1 : 0);
                for (int d = -maxDiff; d <= maxDiff; ++d) {
                    int v = r.vlc(dcDiffTable(table, chroma), 120);
                    ASSERT_GE(v, 0);
                    if (v == kDcDiffEscape)
                        v = static_cast<int>(r.get(8 + extra));
                    else if (v != 0 && extra != 0)
                        v = (v << extra) + static_cast<int>(r.get(extra)) - ((1 << extra) - 1);
                    if (v != 0 && r.get(1) != 0) v = -v;
                    ASSERT_EQ(v, d) << "pquant " << pquant << " table " << table << " chroma " << chroma;
                }
            }
        }
    }
}

TEST(Vc1Tables, CodingSetIndexSelectsTheStandardsSets)
{
    EXPECT_EQ(acCodingSet(0, 8, true), kHighRateIntra);
    EXPECT_EQ(acCodingSet(0, 9, true), kLowMotionIntra);
    EXPECT_EQ(acCodingSet(0, 8, false), kHighRateInter);
    EXPECT_EQ(acCodingSet(0, 9, false), kLowMotionInter);
    EXPECT_EQ(acCodingSet(1, 3, true), kHighMotionIntra);
    EXPECT_EQ(acCodingSet(1, 30, false), kHighMotionInter);
    EXPECT_EQ(acCodingSet(2, 3, true), kMidRateIntra);
    EXPECT_EQ(acCodingSet(2, 30, false), kMidRateInter);
}

TEST(Vc1Tables, QuantiserMappings)
{
    // Implicit mode: 1..8 uniform as is; 9..28 non-uniform, index - 3; top three spread.
    const PictureQuant a = makePictureQuant(QuantizerMode::Implicit, 9, true, true);
    EXPECT_EQ(a.pquant, 6);
    EXPECT_FALSE(a.uniform);
    EXPECT_FALSE(a.halfQp);  // cannot be sent above 8
    EXPECT_EQ(makePictureQuant(QuantizerMode::Implicit, 29, false, true).pquant, 27);
    EXPECT_EQ(makePictureQuant(QuantizerMode::Implicit, 30, false, true).pquant, 29);
    EXPECT_EQ(makePictureQuant(QuantizerMode::Implicit, 31, false, true).pquant, 31);
    const PictureQuant b = makePictureQuant(QuantizerMode::Implicit, 8, true, false);
    EXPECT_EQ(b.pquant, 8);
    EXPECT_TRUE(b.uniform);
    EXPECT_TRUE(b.halfQp);
    EXPECT_EQ(b.step().acStep(), 17);
    EXPECT_EQ(b.dcStep, 10);
    const PictureQuant c = makePictureQuant(QuantizerMode::Explicit, 20, false, false);
    EXPECT_EQ(c.pquant, 20);
    EXPECT_FALSE(c.uniform);
    EXPECT_EQ(c.step().dequantAc(-2), -2 * 40 - 20);
    EXPECT_EQ(makePictureQuant(QuantizerMode::Uniform, 20, false, false).uniform, true);
    EXPECT_EQ(makePictureQuant(QuantizerMode::NonUniform, 2, false, true).uniform, false);
    EXPECT_EQ(makePictureQuant(QuantizerMode::Explicit, 1, false, true).dcStep, 2);
    EXPECT_EQ(makePictureQuant(QuantizerMode::Explicit, 2, false, true).dcStep, 4);
}

TEST(Vc1Tables, SequenceHeaderBits)
{
    VideoSettings s;
    s.width = 320;
    s.height = 240;
    s.frameDuration = 333333;  // 30 fps
    s.bitrate = 2500000;
    // Main profile, FRMRTQ 7, BITRTQ 31, RES_FASTTX, explicit quantiser, RES_RTM_FLAG.
    EXPECT_EQ(asfw::wmv9SequenceHeader(s), (std::vector<std::uint8_t>{0x4F, 0xF1, 0x00, 0x05}));
    Wmv9EncoderOptions o;
    o.fastUvMc = true;
    o.loopFilter = true;
    o.quantizer = QuantizerMode::Implicit;
    s.frameDuration = 400000;  // 25 fps -> 5
    s.bitrate = 300000;        // -> 4
    EXPECT_EQ(sequenceHeaderBytes(sequenceHeaderFor(s, o)), (std::vector<std::uint8_t>{0x4A, 0x49, 0x80, 0x01}));
}

}  // namespace
}  // namespace asfw::vc1
