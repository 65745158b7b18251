/*
 * unwrap_test.cpp: recognition of plain MPEG audio and unwrapping of RIFF
 * files, on byte layouts built by riff_builder. Runs natively under the
 * sanitizers and, cross-compiled, under Wine.
 */
#include <gtest/gtest.h>

#include "riff_builder.h"

namespace
{

Bytes WaveWithData(const Bytes &payload)
{
    return Riff("WAVE", Join({Mp3FormatChunk(), Chunk("data", payload)}));
}

/* ---- Recognising files that are already plain MPEG audio ---- */

TEST(NeedsConversion, PlainFramesNeedNothing)
{
    EXPECT_FALSE(RunNeedsConversion(Frame(100)));
    EXPECT_FALSE(RunNeedsConversion(Join({Id3Tag(40), Zeros(7), Frame(50)})));
    EXPECT_FALSE(RunNeedsConversion(Join({Id3Tag(0), Frame(2)})));
    /* Every sync byte 0xF0 to 0xFF counts. */
    EXPECT_FALSE(RunNeedsConversion({0xFF, 0xF0}));
    /* MPEG 2.5 (8 to 12 kHz): an 11-bit sync, version bits 00, and any layer
     * but the reserved 00, behind a tag and zero bytes too. */
    for (unsigned char second = 0xE2; second <= 0xE7; second++) {
        EXPECT_FALSE(RunNeedsConversion({0xFF, second, 0x10, 0x00})) << (int)second;
        EXPECT_FALSE(RunNeedsConversion(Join({Id3Tag(30), Zeros(41), {0xFF, second}})));
    }
}

TEST(NeedsConversion, EverythingElseNeedsConversion)
{
    /* Layer bits reserved (FF E0, FF E1), version bits reserved (FF E8 to
     * FF EF), and the rest of the 11-bit syncs. */
    for (unsigned second : {0xE0u, 0xE1u, 0xE8u, 0xE9u, 0xEAu, 0xEFu, 0x00u, 0xC0u, 0xDFu})
        EXPECT_TRUE(RunNeedsConversion({0xFF, (unsigned char)second, 0x10, 0x00})) << second;
    EXPECT_TRUE(RunNeedsConversion(Bytes()));
    EXPECT_TRUE(RunNeedsConversion(Zeros(64)));
    EXPECT_TRUE(RunNeedsConversion(WaveWithData(Frame(10))));
    /* A lone 0xFF as the last byte meets the guard, not a sync. */
    EXPECT_TRUE(RunNeedsConversion({0x00, 0x00, 0xFF}));
    /* Zero bytes before "ID3" hide the tag, so the frame behind it is not reached. */
    EXPECT_TRUE(RunNeedsConversion(Join({Zeros(2), Id3Tag(4), Frame(10)})));
}

TEST(NeedsConversion, TagsThatDoNotFitTheFile)
{
    EXPECT_TRUE(RunNeedsConversion({'I', 'D', '3'}));
    EXPECT_TRUE(RunNeedsConversion({'I', 'D', '3', 3, 0, 0, 0, 0, 0}));
    /* Tag exactly as long as the file: the scan lands on the guard. */
    EXPECT_TRUE(RunNeedsConversion(Id3Tag(20)));
    Bytes longTag = Join({Id3Tag(20), Frame(10)});
    longTag[9] = 40;
    EXPECT_TRUE(RunNeedsConversion(longTag));
    /* The high bit of each size byte is masked off: 0x80 0x80 0x80 0x8A is 10. */
    Bytes masked = Join({Id3Tag(10), Frame(4)});
    masked[6] = 0x80, masked[7] = 0x80, masked[8] = 0x80, masked[9] = 0x8A;
    EXPECT_FALSE(RunNeedsConversion(masked));
}

/* ---- What an unwrapped file holds ---- */

TEST(UnwrapRiff, KeepsTagZerosAndDataPayloadOnly)
{
    Bytes tag = Id3Tag(30);
    Bytes payload = Pattern(999, 1);
    Bytes file =
        Join({tag, Zeros(3),
              Riff("WAVE", Join({Mp3FormatChunk(), Chunk("fact", Pattern(4, 2)),
                                 Chunk("data", payload), Chunk("LIST", Pattern(26, 3))}))});
    ASSERT_EQ(tag.size() + 3 + 999, RunUnwrap(file));
    EXPECT_EQ(Join({tag, Zeros(3), payload}), file);
}

TEST(UnwrapRiff, DataChunksJoinInFileOrder)
{
    Bytes first = Pattern(17, 1), second = Pattern(64, 2);
    Bytes file = Riff(
        "RMP3", Join({Chunk("data", first), Chunk("junk", Pattern(9, 3)), Chunk("data", second)}));
    ASSERT_EQ(81u, RunUnwrap(file));
    EXPECT_EQ(Join({first, second}), file);
}

/* A 16-byte format chunk naming formatTag, 2 channels at 44100 Hz. */
Bytes FormatChunk(uint16_t formatTag)
{
    return Chunk("fmt ", {(unsigned char)formatTag, (unsigned char)(formatTag >> 8), 2, 0, 0x44,
                          0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0});
}

TEST(UnwrapRiff, FirstFormatChunkMustNameMpegAudio)
{
    Bytes payload = Pattern(400, 4);
    /* MPEG (layer 1 or 2) and MPEG layer 3 are unwrapped. */
    for (uint16_t mpeg : {0x0050, 0x0055}) {
        Bytes file = Riff("WAVE", Join({FormatChunk(mpeg), Chunk("data", payload)}));
        ASSERT_EQ(400u, RunUnwrap(file)) << mpeg;
        EXPECT_EQ(payload, file) << mpeg;
    }
    /* PCM, MS ADPCM, float, A-law, mu-law, IMA ADPCM, GSM, extensible, 0, and
     * a tag whose low byte alone would pass: the samples alone could not be
     * played, so the file is left as it is. */
    for (uint16_t other :
         {0x0001, 0x0002, 0x0003, 0x0006, 0x0007, 0x0011, 0x0031, 0xFFFE, 0x0000, 0x5055}) {
        Bytes file = Riff("WAVE", Join({FormatChunk(other), Chunk("data", payload)}));
        EXPECT_EQ(0u, RunUnwrap(file)) << other;
    }

    struct Case {
        const char *what;
        Bytes file;
        bool converts;
    } cases[] = {
        {"PCM format after the data", Riff("WAVE", Join({Chunk("data", payload), FormatChunk(1)})),
         false},
        {"RMP3 with a PCM format", Riff("RMP3", Join({FormatChunk(1), Chunk("data", payload)})),
         false},
        {"tag, zero bytes, PCM WAVE",
         Join({Id3Tag(20), Zeros(3), Riff("WAVE", Join({FormatChunk(1), Chunk("data", payload)}))}),
         false},
        {"MPEG first, PCM later",
         Riff("WAVE", Join({FormatChunk(0x55), Chunk("data", payload), FormatChunk(1)})), true},
        {"PCM first, MPEG later",
         Riff("WAVE", Join({FormatChunk(1), FormatChunk(0x55), Chunk("data", payload)})), false},
        /* A first format chunk too short for a tag names nothing, and the
         * later ones are not read. Read as a tag, the bytes after each of
         * these would name PCM or something else that is not MPEG. */
        {"empty format", Riff("WAVE", Join({Chunk("fmt ", {}), Chunk("data", payload)})), true},
        {"one-byte format",
         Riff("WAVE", Join({Chunk("fmt ", {0x01}), Chunk("data", payload), FormatChunk(1)})), true},
        {"format cut by the end of the file",
         RiffClaiming("WAVE", 0xFFFFFFFF,
                      Join({Chunk("data", payload), ChunkClaiming("fmt ", 16, {0x55})})),
         true},
        /* At or after the RIFF end, a format chunk is not part of the file. */
        {"PCM format after the RIFF end",
         Join({Riff("WAVE", Chunk("data", payload)), FormatChunk(1)}), true},
        {"no format chunk", Riff("WAVE", Chunk("data", payload)), true},
    };
    for (const Case &c : cases) {
        Bytes file = c.file;
        uint32_t length = RunUnwrap(file);
        if (!c.converts) {
            EXPECT_EQ(0u, length) << c.what;
        } else if (length > 0) {
            EXPECT_EQ(payload, file) << c.what;
        } else {
            ADD_FAILURE() << c.what << " was refused";
        }
    }
}

TEST(UnwrapRiff, NothingAfterTheRiffEndIsKept)
{
    Bytes payload = Pattern(100, 1);
    /* A trailing tag block and a data chunk that both begin at or after the end. */
    Bytes file = Join({WaveWithData(payload), Bytes{'T', 'A', 'G'}, Pattern(125, 7)});
    ASSERT_EQ(100u, RunUnwrap(file));
    EXPECT_EQ(payload, file);

    Bytes late = Join({WaveWithData(payload), Chunk("data", Pattern(8, 9))});
    ASSERT_EQ(100u, RunUnwrap(late));
    EXPECT_EQ(payload, late);
}

TEST(UnwrapRiff, DataChunkBegunBeforeTheEndIsCopiedWhole)
{
    Bytes payload = Pattern(50, 1);
    /* The RIFF size ends the RIFF ten bytes into the payload. */
    Bytes file = RiffClaiming("WAVE", 4 + 8 + 10, Join({Chunk("data", payload), Pattern(6, 2)}));
    ASSERT_EQ(50u, RunUnwrap(file));
    EXPECT_EQ(payload, file);

    /* The end falls inside the second chunk's header: it began before the end. */
    Bytes second = Pattern(30, 3);
    Bytes straddling =
        RiffClaiming("WAVE", 4 + 58 + 4, Join({Chunk("data", payload), Chunk("data", second)}));
    ASSERT_EQ(80u, RunUnwrap(straddling));
    EXPECT_EQ(Join({payload, second}), straddling);
}

TEST(UnwrapRiff, OddPayloadsDropTheirPadByte)
{
    Bytes a = Pattern(3, 1), b = Pattern(5, 2);
    Bytes file = Riff("WAVE", Join({Chunk("data", a), Chunk("data", b)}));
    ASSERT_EQ(8u, RunUnwrap(file));
    EXPECT_EQ(Join({a, b}), file);
}

/* ---- Files that can't be unwrapped ---- */

TEST(UnwrapRiff, RejectsWhatIsNotAWrappedFile)
{
    std::vector<Bytes> files = {
        Bytes(),
        Zeros(40),
        {0xFF, 0xE2, 0x10, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n', 'x'},
        Join({Zeros(2), Id3Tag(4), WaveWithData(Pattern(10, 1))}),
        Join({Id3Tag(4), Id3Tag(4), WaveWithData(Pattern(10, 1))}),
        Riff("AVI ", Chunk("data", Pattern(10, 1))),
        Riff("rmp3", Chunk("data", Pattern(10, 1))),
        Riff("WAVE", Join({Mp3FormatChunk(), Chunk("LIST", Pattern(8, 2))})),
        Riff("WAVE", Bytes()),
        Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V'},
    };
    for (size_t i = 0; i < files.size(); i++) {
        Bytes file = files[i];
        EXPECT_EQ(0u, RunUnwrap(file)) << "file " << i;
    }
}

TEST(UnwrapRiff, TagThatDoesNotFitFails)
{
    Bytes shortTag = {'I', 'D', '3', 3, 0, 0, 0, 0, 0};
    EXPECT_EQ(0u, RunUnwrap(shortTag));
    /* Tag exactly as long as the file: copied, then no RIFF header. */
    Bytes exact = Id3Tag(20);
    EXPECT_EQ(0u, RunUnwrap(exact));
    Bytes longer = Join({Id3Tag(20), WaveWithData(Pattern(10, 1))});
    longer[6] = 0x7F;
    EXPECT_EQ(0u, RunUnwrap(longer));
}

TEST(UnwrapRiff, PrefixWithoutAudioIsNotAResult)
{
    /* The file would shrink to its tag and zero bytes. */
    Bytes noData = Join({Id3Tag(20), Zeros(4), Riff("WAVE", Mp3FormatChunk())});
    EXPECT_EQ(0u, RunUnwrap(noData));
    Bytes emptyData =
        Join({Id3Tag(20), Riff("WAVE", Join({Chunk("data", Bytes()), Chunk("data", Bytes())}))});
    EXPECT_EQ(0u, RunUnwrap(emptyData));
    /* A RIFF size below 4 ends the RIFF before its first chunk. */
    Bytes tiny = Join({Id3Tag(20), RiffClaiming("WAVE", 3, Chunk("data", Pattern(10, 1)))});
    EXPECT_EQ(0u, RunUnwrap(tiny));
}

/* ---- Sizes that point past the end of the file ---- */

TEST(UnwrapRiff, HeadersAndDataRunningPastTheEndFail)
{
    Bytes payload = Pattern(20, 1);
    /* A chunk header that begins inside the data but has only 5 bytes. */
    Bytes cutHeader = Join({Riff("WAVE", Chunk("data", payload)), Bytes{'L', 'I', 'S', 'T', 1}});
    PutLE32(cutHeader, 4, 0xFFFFFFFF);
    EXPECT_EQ(0u, RunUnwrap(cutHeader));
    /* A data payload one byte longer than what is left. */
    Bytes longData = Riff("WAVE", ChunkClaiming("data", 21, payload));
    EXPECT_EQ(0u, RunUnwrap(longData));
    for (uint32_t huge : {0xFFFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFF8u, 0x80000000u}) {
        Bytes hugeData = RiffClaiming("WAVE", 0xFFFFFFFF, ChunkClaiming("data", huge, payload));
        EXPECT_EQ(0u, RunUnwrap(hugeData)) << huge;
    }
}

TEST(UnwrapRiff, WalkThatReachesTheEndOfTheFileKeepsItsOutput)
{
    Bytes payload = Pattern(33, 1);
    std::vector<Bytes> files = {
        /* Writer never patched the RIFF size; chunks end where the file ends. */
        RiffClaiming("WAVE", 0xFFFFFFFF, Join({Mp3FormatChunk(), Chunk("data", payload)})),
        /* Last odd payload without its pad byte. */
        RiffClaiming("WAVE", 0xFFFFFFFF, Chunk("data", payload, false)),
        /* A last non-data chunk cut short by the end of the file. */
        RiffClaiming("WAVE", 0xFFFFFFFF,
                     Join({Chunk("data", payload), ChunkClaiming("LIST", 100, Pattern(10, 2))})),
        /* Chunk sizes near 2^32 must not wrap back into the file. */
        RiffClaiming("RMP3", 0xFFFFFFFF,
                     Join({Chunk("data", payload), ChunkClaiming("junk", 0xFFFFFFFF, Zeros(12))})),
        RiffClaiming("RMP3", 0xFFFFFFF0,
                     Join({Chunk("data", payload), ChunkClaiming("junk", 0xFFFFFFF7, Zeros(12))})),
    };
    for (size_t i = 0; i < files.size(); i++) {
        Bytes file = files[i];
        ASSERT_EQ(33u, RunUnwrap(file)) << "file " << i;
        EXPECT_EQ(payload, file) << "file " << i;
    }
    /* A bare header closing the file gives nothing to keep. */
    Bytes bare = RiffClaiming("WAVE", 0xFFFFFFFF, Bytes());
    EXPECT_EQ(0u, RunUnwrap(bare));
}

TEST(UnwrapRiff, OutputNeverOutgrowsTheInput)
{
    /* Many tiny chunks: the output is always shorter than the file. */
    Bytes chunks;
    for (int i = 0; i < 500; i++)
        chunks = Join({chunks, Chunk("data", Pattern(i % 3, i))});
    Bytes file = Join({Id3Tag(5), Zeros(9), Riff("WAVE", chunks)});
    size_t before = file.size();
    uint32_t length = RunUnwrap(file);
    ASSERT_GT(length, 0u);
    EXPECT_LT(length, before);
    EXPECT_EQ(15u + 9u + 499u, length);
}

} // namespace
