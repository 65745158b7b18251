/*
 * head_check_test.cpp: the check that reads only a file's head must give
 * the verdict NeedsConversion gives on the whole loaded file, for the fuzz
 * seeds and for random files shaped like the cases that matter (tags whose
 * size lies, zero runs across block boundaries, the bytes of a frame sync
 * and the patterns next to it), and with blocks of several sizes. Runs
 * natively under the sanitizers.
 */
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>

#include "core/unwrap.h"
#include "riff_builder.h"

namespace
{

/* A file in memory, read as the conversion reads a file on disk: size
 * bytes, of which those beyond bytes read as zeros (a hole). Reads that
 * begin at or past refuseFrom fail; every read is checked to stay inside
 * the file and the block. */
struct MemoryFile {
    const Bytes *bytes;
    uint64_t size;
    uint32_t blockBytes;
    uint64_t refuseFrom;
    int reads;
    bool outside;
};

MemoryFile Reader(const Bytes *bytes, uint64_t size, uint32_t blockBytes, uint64_t refuseFrom)
{
    MemoryFile file = {bytes, size, blockBytes, refuseFrom, 0, false};
    return file;
}

uint32_t ReadMemory(void *context, uint64_t offset, unsigned char *out, uint32_t count)
{
    MemoryFile *file = (MemoryFile *)context;
    file->reads++;
    if (count > file->blockBytes || offset > file->size || count > file->size - offset)
        file->outside = true;
    if (offset >= file->refuseFrom || file->outside)
        return 0;
    for (uint32_t i = 0; i < count; i++)
        out[i] = offset + i < file->bytes->size() ? (*file->bytes)[offset + i] : 0;
    return count;
}

/* How many bytes NeedsConversion looks at: up to and including the byte
 * after the first one past the tag and the zero bytes. */
uint64_t BytesLookedAt(const Bytes &file)
{
    size_t pos = 0;
    if (file.size() >= 10 && memcmp(file.data(), "ID3", 3) == 0) {
        pos = 10 + ((file[6] & 0x7F) << 21 | (file[7] & 0x7F) << 14 | (file[8] & 0x7F) << 7 |
                    (file[9] & 0x7F));
        if (pos > file.size())
            return 10;
    }
    while (pos < file.size() && file[pos] == 0)
        pos++;
    return pos + 2;
}

void ExpectSameVerdict(const Bytes &file, const std::string &what)
{
    bool needs = RunNeedsConversion(file);
    for (uint32_t blockBytes : {16u, 17u, 4096u, 65536u}) {
        SCOPED_TRACE(what + ", blocks of " + std::to_string(blockBytes));
        Bytes block(blockBytes);
        MemoryFile reader = Reader(&file, file.size(), blockBytes, (uint64_t)-1);
        int verdict = CheckHead(ReadMemory, &reader, file.size(), block.data(), blockBytes);
        EXPECT_EQ(verdict, needs ? HEAD_NOT_PLAIN : HEAD_PLAIN);
        EXPECT_FALSE(reader.outside);
        /* A plain file's later bytes are never needed: no read begins past
         * what the decision looks at. */
        if (!needs) {
            MemoryFile partial = Reader(&file, file.size(), blockBytes, BytesLookedAt(file));
            EXPECT_EQ(CheckHead(ReadMemory, &partial, file.size(), block.data(), blockBytes),
                      HEAD_PLAIN);
        }
        /* A failing first read decides nothing. */
        if (!file.empty()) {
            MemoryFile refusing = Reader(&file, file.size(), blockBytes, 0);
            EXPECT_EQ(CheckHead(ReadMemory, &refusing, file.size(), block.data(), blockBytes),
                      HEAD_UNREAD);
        }
    }
}

TEST(CheckHead, AgreesWithNeedsConversionOnTheFuzzSeeds)
{
    const char *dir = getenv("KORVANE_FUZZ_SEEDS");
    ASSERT_TRUE(dir != NULL) << "KORVANE_FUZZ_SEEDS is not set";
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
        ExpectSameVerdict(bytes, entry->d_name);
        count++;
    }
    closedir(seeds);
    EXPECT_GE(count, 10);
}

Bytes RandomBytes(std::mt19937 &random, size_t count)
{
    Bytes bytes(count);
    for (unsigned char &b : bytes)
        b = (unsigned char)random();
    return bytes;
}

/* A head as wrapped and plain files have them, with the sizes and bytes
 * that sit on the edges of the decision. */
Bytes RandomHead(std::mt19937 &random)
{
    static const size_t kZeroRuns[] = {0, 1, 2, 15, 16, 4094, 4095, 4096, 12287, 65535, 70000};
    static const unsigned char kSeconds[] = {0xE0, 0xE1, 0xE2, 0xE7, 0xE8, 0xEF,
                                             0xF0, 0xFB, 0xFF, 0x00, 0xCC, 0x7F};
    Bytes file;
    if (random() % 2) {
        uint32_t body = random() % 3 ? random() % 300 : random() % 80000;
        file = Id3Tag(body);
        if (random() % 4 == 0)
            file[6 + random() % 4] = (unsigned char)random(); /* a size that lies */
        if (random() % 5 == 0)
            file.resize(random() % (file.size() + 1));
    }
    Bytes zeros = Zeros(kZeroRuns[random() % (sizeof kZeroRuns / sizeof kZeroRuns[0])]);
    Bytes sync;
    if (random() % 4)
        sync.push_back(random() % 3 ? 0xFF : (unsigned char)random());
    if (random() % 4)
        sync.push_back(kSeconds[random() % sizeof kSeconds]);
    return Join({file, zeros, sync, RandomBytes(random, random() % 3 ? random() % 40 : 0)});
}

TEST(CheckHead, AgreesWithNeedsConversionOnRandomHeads)
{
    std::mt19937 random(20261209);
    for (int i = 0; i < 600; i++)
        ExpectSameVerdict(RandomHead(random), "random head " + std::to_string(i));
}

/* Sizes beyond 32 bits: only the head is there to be read. */
TEST(CheckHead, FilesOfFourGigabytesAndMore)
{
    Bytes head = Join({Id3Tag(100), Zeros(5), Frame(64)});
    Bytes block(65536);
    for (uint64_t size : {0x100000000ull, 0x140000000ull}) {
        MemoryFile reader = Reader(&head, size, 65536, (uint64_t)-1);
        EXPECT_EQ(CheckHead(ReadMemory, &reader, size, block.data(), 65536), HEAD_PLAIN);
        EXPECT_FALSE(reader.outside);
        EXPECT_EQ(reader.reads, 2); /* the tag's header, then what follows the tag */
    }
}

} // namespace
