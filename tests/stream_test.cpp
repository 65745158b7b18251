/*
 * stream_test.cpp: the streamed conversion against the loaded-buffer
 * routines. Over the fuzz seeds and random wrapped files, StreamConversion
 * must write byte for byte what UnwrapRiff makes of the loaded file, led by
 * the tag FindRiffTags finds in it and ended by its ID3v1 block, or refuse
 * with the status those routines give. Reads come in short counts and fail
 * on request, as do writes; a failing read or write must never pass for
 * success. Runs natively under the sanitizers.
 */
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>

#include "core/stream.h"
#include "core/unwrap.h"
#include "riff_builder.h"

namespace
{

Bytes Slice(const Bytes &bytes, size_t from, size_t to)
{
    return Bytes(bytes.begin() + from, bytes.begin() + to);
}

/* Bytes of text as Latin-1: a decoder that gives every byte a unit. */
uint32_t DecodeLatin1(const unsigned char *text, uint32_t bytes, uint16_t *out, uint32_t outUnits)
{
    for (uint32_t i = 0; i < bytes && i < outUnits; i++)
        out[i] = text[i];
    return bytes < outUnits ? bytes : outUnits;
}

/* What the loaded-buffer routines make of the file, and their status. */
int Expected(const Bytes &file, int keepRiffTags, Bytes *out)
{
    out->clear();
    if (!RunNeedsConversion(file))
        return STATUS_NOT_NEEDED;
    RiffTags tags;
    memset(&tags, 0, sizeof tags);
    if (keepRiffTags) {
        Bytes loaded = file;
        loaded.push_back(LOADED_BUFFER_GUARD);
        if (!FindRiffTags(loaded.data(), (uint32_t)file.size(), DecodeLatin1, &tags))
            return STATUS_NO_MEMORY;
    }
    Bytes unwrapped = file;
    uint32_t length = RunUnwrap(unwrapped);
    int status = STATUS_BAD_FORMAT;
    if (length != 0) {
        unwrapped.resize(length);
        out->assign(tags.leading, tags.leading + tags.leadingBytes);
        out->insert(out->end(), unwrapped.begin(), unwrapped.end());
        bool endsWithBlock = length >= 128 && memcmp(&unwrapped[length - 128], "TAG", 3) == 0;
        if (tags.hasTrailing && !endsWithBlock)
            out->insert(out->end(), tags.trailing, tags.trailing + 128);
        status = STATUS_CONVERTED;
    }
    FreeRiffTags(&tags);
    return status;
}

/* A file in memory whose bytes past data read as zeros (a hole), read in
 * counts that a seeded generator cuts short; the read numbered failAt
 * fails. Every read is checked to stay inside the file. */
struct Reader {
    const Bytes *data;
    uint64_t size;
    std::mt19937 random;
    int reads;
    int failAt;
    bool outside;
};

uint32_t ReadShort(void *context, uint64_t offset, unsigned char *out, uint32_t count)
{
    Reader *reader = (Reader *)context;
    if (++reader->reads == reader->failAt)
        return 0;
    if (count == 0 || offset > reader->size || count > reader->size - offset) {
        reader->outside = true;
        return 0;
    }
    uint32_t step = reader->random() % 3 ? count : 1 + reader->random() % count;
    uint64_t have = offset < reader->data->size() ? reader->data->size() - offset : 0;
    uint32_t copied = have < step ? (uint32_t)have : step;
    if (copied > 0)
        memcpy(out, reader->data->data() + offset, copied);
    memset(out + copied, 0, step - copied);
    return step;
}

struct Sink {
    Bytes bytes;
    uint64_t length;
    bool keep;
    int writes;
    int failAt;
};

bool WriteSink(void *context, const unsigned char *bytes, uint32_t count)
{
    Sink *sink = (Sink *)context;
    if (++sink->writes == sink->failAt)
        return false;
    if (sink->keep)
        sink->bytes.insert(sink->bytes.end(), bytes, bytes + count);
    sink->length += count;
    return true;
}

struct Outcome {
    int status;
    int reads, writes;
    bool outside;
    Bytes out;
};

Outcome Stream(const Bytes &file, uint64_t size, int keepRiffTags, uint32_t blockBytes,
               unsigned seed, int failRead, int failWrite)
{
    Reader reader = {&file, size, std::mt19937(seed), 0, failRead, false};
    Sink sink = {Bytes(), 0, true, 0, failWrite};
    ByteSource source = {ReadShort, &reader, size};
    ByteSink out = {WriteSink, &sink};
    Bytes block(blockBytes);
    int status =
        StreamConversion(&source, &out, block.data(), blockBytes, keepRiffTags, DecodeLatin1);
    Outcome run = {status, reader.reads, sink.writes, reader.outside, sink.bytes};
    return run;
}

/* The clean run agrees with the loaded-buffer routines; then each read and
 * each write (all of them, or a spread of them in a long run) fails once. */
void ExpectSameAsLoaded(const Bytes &file, const std::string &what)
{
    for (int keep = 0; keep <= 1; keep++) {
        Bytes expected;
        int status = Expected(file, keep, &expected);
        for (uint32_t blockBytes : {16u, 17u, 4096u}) {
            SCOPED_TRACE(what + (keep ? ", keeping tags" : "") + ", blocks of " +
                         std::to_string(blockBytes));
            unsigned seed = (unsigned)file.size() + blockBytes;
            Outcome clean = Stream(file, file.size(), keep, blockBytes, seed, 0, 0);
            ASSERT_EQ(clean.status, status);
            EXPECT_FALSE(clean.outside);
            if (status != STATUS_CONVERTED) {
                EXPECT_EQ(clean.writes, 0) << "bytes written for a file that does not convert";
                continue;
            }
            ASSERT_EQ(clean.out, expected);
            int step = clean.reads > 60 ? clean.reads / 30 : 1;
            for (int nth = 1; nth <= clean.reads; nth += step)
                EXPECT_EQ(Stream(file, file.size(), keep, blockBytes, seed, nth, 0).status,
                          STATUS_READ_FAILED)
                    << "read " << nth;
            step = clean.writes > 60 ? clean.writes / 30 : 1;
            for (int nth = 1; nth <= clean.writes; nth += step)
                EXPECT_EQ(Stream(file, file.size(), keep, blockBytes, seed, 0, nth).status,
                          STATUS_WRITE_FAILED)
                    << "write " << nth;
        }
    }
}

void CheckSeeds(const char *variable, int least)
{
    const char *dir = getenv(variable);
    ASSERT_TRUE(dir != NULL) << variable << " is not set";
    DIR *seeds = opendir(dir);
    ASSERT_TRUE(seeds != NULL) << dir;
    int count = 0;
    while (struct dirent *entry = readdir(seeds)) {
        if (entry->d_name[0] == '.')
            continue;
        std::string path = std::string(dir) + "/" + entry->d_name;
        FILE *f = fopen(path.c_str(), "rb");
        ASSERT_TRUE(f != NULL) << path;
        Bytes bytes;
        int c;
        while ((c = fgetc(f)) != EOF)
            bytes.push_back((unsigned char)c);
        fclose(f);
        ExpectSameAsLoaded(bytes, entry->d_name);
        count++;
    }
    closedir(seeds);
    EXPECT_GE(count, least);
}

TEST(StreamConversion, AgreesWithTheLoadedBufferOnTheFuzzSeeds)
{
    CheckSeeds("KORVANE_FUZZ_SEEDS", 10);
    CheckSeeds("KORVANE_FUZZ_SEEDS_TAGS", 5);
}

Bytes Text(std::mt19937 &random)
{
    static const char *const kTexts[] = {"Title",        "An artist  ",      "1999-01-02",
                                         "\xE6\x97\xA5", "\x93\xFA\x96\x7B", ""};
    const char *text = kTexts[random() % 6];
    Bytes bytes(text, text + strlen(text));
    if (random() % 2)
        bytes.push_back(0);
    return bytes;
}

/* A LIST/INFO of a few entries; the last may lack its pad byte, which
 * leaves the LIST itself odd. */
Bytes RandomInfo(std::mt19937 &random)
{
    static const char *const kEntries[] = {"INAM", "IART", "IPRD", "ICRD", "ICMT", "IXYZ", "IID3"};
    Bytes entries = {'I', 'N', 'F', 'O'};
    for (int n = random() % 4; n > 0; n--) {
        const char *id = kEntries[random() % 7];
        Bytes value = Text(random);
        if (strcmp(id, "IID3") == 0)
            value = random() % 2 ? Id3Tag(20) : Join({{'T', 'A', 'G'}, Zeros(125)});
        entries = Join({entries, Chunk(id, value, n > 1 || random() % 2)});
    }
    return Chunk("LIST", entries);
}

/* An ID3v2 tag chunk, odd or even; one in three is not a usable tag, so
 * that the search goes on to the next. */
Bytes RandomTagChunk(std::mt19937 &random)
{
    Bytes tag = Join({Id3Tag(random() % 40), Zeros(random() % 3)});
    if (random() % 3 == 0)
        tag[3] = 9;
    return Chunk(random() % 2 ? "id3 " : "ID3 ", tag);
}

Bytes RandomChunk(std::mt19937 &random)
{
    switch (random() % 9) {
    case 0:
        return Mp3FormatChunk();
    case 1: {
        Bytes pcm = Mp3FormatChunk();
        pcm[8] = 1;
        return pcm;
    }
    case 2:
    case 3:
        return Chunk("data", random() % 5 ? Frame(2 + random() % 3000) : Bytes());
    case 4:
        return RandomInfo(random);
    case 5:
        return RandomTagChunk(random);
    case 6: {
        Bytes cart = Zeros(random() % 2 ? 140 : 60);
        memcpy(cart.data() + 4, "Cart title", 10);
        return Chunk("cart", cart);
    }
    case 7:
        return Chunk("LIST", Join({{'a', 'd', 't', 'l'}, Pattern(random() % 9, 3)}));
    default:
        return Chunk("junk", Pattern(random() % 7, 2));
    }
}

/* A wrapped file with the chunks that matter in random order, and the
 * edges: a leading tag, zero bytes, a RIFF size that lies, a cut end, an
 * ID3v1 block or other bytes after the RIFF. */
Bytes RandomWrapped(std::mt19937 &random)
{
    Bytes chunks = random() % 4 ? Mp3FormatChunk() : Bytes();
    for (int n = random() % 6; n > 0; n--)
        chunks = Join({chunks, RandomChunk(random)});
    if (random() % 3)
        chunks = Join({chunks, Chunk("data", Frame(2 + random() % 5000))});
    const char *form = random() % 2 ? "WAVE" : "RMP3";
    Bytes riff;
    switch (random() % 4) {
    case 0:
        riff = RiffClaiming(form, 0xFFFFFFFF, chunks);
        break;
    case 1:
        riff = RiffClaiming(form, 4 + (uint32_t)(random() % (chunks.size() + 1)), chunks);
        break;
    default:
        riff = Riff(form, chunks);
    }
    if (random() % 6 == 0)
        riff.resize(riff.size() - random() % (riff.size() / 2));
    Bytes lead = random() % 4 == 0 ? Id3Tag(random() % 100) : Bytes();
    Bytes zeros = Zeros(random() % 3 ? 0 : random() % 50);
    Bytes after;
    if (random() % 3 == 0) {
        after = Zeros(128);
        memcpy(after.data(), "TAG", 3);
        after[3] = (unsigned char)random();
    } else if (random() % 4 == 0) {
        after = Pattern(random() % 200, 5);
    }
    return Join({lead, zeros, riff, after});
}

TEST(StreamConversion, AgreesWithTheLoadedBufferOnRandomFiles)
{
    std::mt19937 random(20261210);
    for (int i = 0; i < 600; i++)
        ExpectSameAsLoaded(RandomWrapped(random), "random file " + std::to_string(i));
}

/* The audio already ends with an ID3v1 block, whose "TAG" spans two data
 * payloads: no second block is appended. */
TEST(StreamConversion, AudioThatEndsWithABlockGetsNoSecond)
{
    Bytes v1 = Join({{'T', 'A', 'G'}, Pattern(125, 4)});
    Bytes audio = Join({Frame(500), v1});
    Bytes file = Join(
        {Riff("WAVE", Join({Mp3FormatChunk(), Chunk("data", Slice(audio, 0, 501)),
                            Chunk("data", Slice(audio, 501, audio.size())),
                            Chunk("LIST", Join({{'I', 'N', 'F', 'O'}, Chunk("INAM", {'x', 0})}))})),
         Join({{'T', 'A', 'G'}, Zeros(125)})});
    Outcome run = Stream(file, file.size(), 1, 4096, 1, 0, 0);
    ASSERT_EQ(run.status, STATUS_CONVERTED);
    ASSERT_GT(run.out.size(), audio.size());
    EXPECT_EQ(Bytes(run.out.end() - audio.size(), run.out.end()), audio);
    ExpectSameAsLoaded(file, "block across payloads");
}

/* A RIFF of almost 4 GiB behind an ID3v2 tag: the output passes 4 GiB,
 * every offset is kept in 64 bits, and nothing but the block is used for
 * the audio. */
TEST(StreamConversion, ARiffOfFourGigabytesBehindATag)
{
    Bytes tag = Id3Tag(1000);
    uint32_t payloadBytes = 0xFFFFFF00u;
    Bytes chunks = Join({Mp3FormatChunk(), ChunkClaiming("data", payloadBytes, Frame(64))});
    Bytes head =
        Join({tag, RiffClaiming("RMP3", 4 + (uint32_t)chunks.size() - 64 + payloadBytes, chunks)});
    uint64_t payloadAt = head.size() - 64;
    uint64_t size = payloadAt + payloadBytes;
    Reader reader = {&head, size, std::mt19937(3), 0, 0, false};
    Sink sink = {Bytes(), 0, false, 0, 0};
    ByteSource source = {ReadShort, &reader, size};
    ByteSink out = {WriteSink, &sink};
    Bytes block(STREAM_BLOCK_MAX);
    EXPECT_EQ(StreamConversion(&source, &out, block.data(), STREAM_BLOCK_MAX, 1, DecodeLatin1),
              STATUS_CONVERTED);
    EXPECT_FALSE(reader.outside);
    EXPECT_EQ(sink.length, (uint64_t)tag.size() + payloadBytes);
    EXPECT_GT(sink.length, 0xFFFFFFFFull);
}

} // namespace
