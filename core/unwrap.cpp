/*
 * unwrap.cpp: recognising plain MPEG audio and unwrapping RIFF/WAVE and
 * RIFF/RMP3 files back into it.
 *
 * Every size in the file is hostile: the chunks are walked with the walk of
 * riff_walk.h, and offsets are compared in the form "need <= size - pos" or
 * computed in 64 bits, so a chunk size near 0xFFFFFFFF can neither wrap an
 * offset nor move a copy outside the buffer. The walk over the chunks reads
 * through a byte source, so that a loaded buffer and a file on disk are
 * refused at the same places. The output of a loaded buffer is built in a
 * work buffer of the file's size (it can never be longer, since the RIFF
 * header and every chunk header are dropped) and then copied over the loaded
 * buffer in one block.
 */
#include "unwrap.h"

#include <stdlib.h>
#include <string.h>

#include "riff_walk.h"

#ifdef KORVANE_TEST_SEAMS
/* The conversion tests refuse the work buffer through the seam for malloc. */
#include "tests/convert_seams.h"
#endif

#define ID3_HEADER_BYTES 10

/* Format tags of the WAVE format chunk that mean MPEG audio. */
#define WAVE_FORMAT_MPEG       0x0050
#define WAVE_FORMAT_MPEGLAYER3 0x0055

/* A check reads the zero bytes after the tag in blocks that start at this
 * size and double up to the caller's block: most files need one small read. */
#define FIRST_HEAD_READ 4096u

enum { TAG_NONE, TAG_PRESENT, TAG_TOO_LONG };

/* The tag's length from its header: the 28-bit synchsafe size in bytes 6 to
 * 9 plus the 10-byte header; a footer does not lengthen it. */
static uint32_t TagLength(const unsigned char *header)
{
    uint32_t synchsafe = (uint32_t)(header[6] & 0x7F) << 21 | (uint32_t)(header[7] & 0x7F) << 14 |
                         (uint32_t)(header[8] & 0x7F) << 7 | (uint32_t)(header[9] & 0x7F);
    return synchsafe + ID3_HEADER_BYTES;
}

/* Looks for an ID3v2 tag at offset 0, in a file of size bytes of which the
 * first min(size, 10) are in buffer. */
static int FindTag(const unsigned char *buffer, uint64_t size, uint32_t *tagLength)
{
    *tagLength = 0;
    if (size < 3 || memcmp(buffer, "ID3", 3) != 0)
        return TAG_NONE;
    if (size < ID3_HEADER_BYTES)
        return TAG_TOO_LONG;
    *tagLength = TagLength(buffer);
    return *tagLength > size ? TAG_TOO_LONG : TAG_PRESENT;
}

/* The second byte of a frame header: the 12-bit sync FFF of MPEG 1 and 2,
 * or the 11-bit sync with version bits 00 (MPEG 2.5, written by encoders for
 * 8 to 12 kHz) and a layer that is not the reserved 00. */
static bool CompletesFrameSync(unsigned char second)
{
    return (second & 0xF0) == 0xF0 || ((second & 0xF8) == 0xE0 && (second & 0x06) != 0);
}

static uint32_t SkipZeroBytes(const unsigned char *buffer, uint32_t size, uint32_t pos)
{
    while (pos < size && buffer[pos] == 0x00)
        pos++;
    return pos;
}

bool NeedsConversion(unsigned char *buffer, uint32_t size)
{
    uint32_t pos;
    if (FindTag(buffer, size, &pos) == TAG_TOO_LONG)
        return true;
    pos = SkipZeroBytes(buffer, size, pos);
    /* pos may be size: the guard byte is then read, and it is never 0xFF.
     * When pos is below size, pos + 1 is at most the guard, which never
     * completes a sync. */
    if (pos < size && buffer[pos] == 0xFF && CompletesFrameSync(buffer[pos + 1]))
        return false;
    return true;
}

/* The verdict at the first byte after the zero bytes, at pos < size, with
 * the byte at hand in first; the byte after it is read when needed. */
static int VerdictAt(HeadReader read, void *context, uint64_t size, uint64_t pos,
                     unsigned char first, const unsigned char *after, unsigned char *block,
                     unsigned char *syncSecond)
{
    if (first != 0xFF || size - pos < 2)
        return HEAD_NOT_PLAIN;
    unsigned char second;
    if (after != NULL) {
        second = *after;
    } else {
        if (read(context, pos + 1, block, 1) != 1)
            return HEAD_UNREAD;
        second = block[0];
    }
    if (!CompletesFrameSync(second))
        return HEAD_NOT_PLAIN;
    if (syncSecond != NULL)
        *syncSecond = second;
    return HEAD_PLAIN;
}

int CheckHead(HeadReader read, void *context, uint64_t size, unsigned char *block,
              uint32_t blockBytes, unsigned char *syncSecond)
{
    uint64_t pos = 0;
    uint32_t tagLength, want = FIRST_HEAD_READ < blockBytes ? FIRST_HEAD_READ : blockBytes;
    uint32_t count = size < want ? (uint32_t)size : want;
    bool blockAtPos = true; /* block holds count bytes from pos */
    if (read(context, 0, block, count) != count)
        return HEAD_UNREAD;
    int tag = FindTag(block, size, &tagLength);
    if (tag == TAG_TOO_LONG)
        return HEAD_NOT_PLAIN;
    if (tag == TAG_PRESENT) {
        pos = tagLength;
        blockAtPos = false;
    }
    for (;;) {
        if (!blockAtPos) {
            if (pos >= size)
                return HEAD_NOT_PLAIN; /* the guard: no sync */
            count = size - pos < want ? (uint32_t)(size - pos) : want;
            if (read(context, pos, block, count) != count)
                return HEAD_UNREAD;
        }
        uint32_t i = 0;
        while (i < count && block[i] == 0x00)
            i++;
        if (i < count)
            return VerdictAt(read, context, size, pos + i, block[i],
                             count - i >= 2 ? &block[i + 1] : NULL, block, syncSecond);
        pos += count;
        blockAtPos = false;
        if (want <= blockBytes / 2)
            want *= 2;
        else
            want = blockBytes;
    }
}

/* A RIFF header of form type WAVE or RMP3 at riffPos, with riffEnd. */
static bool IsWrappingHeader(const unsigned char *header, RiffPlace *place)
{
    if (!IdEquals(header, "RIFF"))
        return false;
    place->riffEnd = place->riffPos + 8 + ReadLE32(header + 4);
    return IdEquals(header + 8, "WAVE") || IdEquals(header + 8, "RMP3");
}

bool LocateRiff(const unsigned char *buffer, uint32_t size, RiffPlace *place)
{
    int tag = FindTag(buffer, size, &place->tagLength);
    if (tag == TAG_TOO_LONG)
        return false;
    uint32_t riffPos = SkipZeroBytes(buffer, size, place->tagLength);
    place->riffPos = riffPos;
    if (size - riffPos < RIFF_HEADER_BYTES)
        return false;
    return IsWrappingHeader(buffer + riffPos, place);
}

/* The offset of the first byte at or after pos that is not zero, or size,
 * in reads that grow from FIRST_HEAD_READ to the block: most files have
 * few zero bytes, if any. */
static int SkipZerosIn(const ByteSource *source, unsigned char *block, uint32_t blockBytes,
                       uint64_t *pos)
{
    uint32_t want = FIRST_HEAD_READ < blockBytes ? FIRST_HEAD_READ : blockBytes;
    while (*pos < source->size) {
        uint64_t left = source->size - *pos;
        uint32_t count = left < want ? (uint32_t)left : want;
        want = want <= blockBytes / 2 ? want * 2 : blockBytes;
        if (!ReadWhole(source, *pos, block, count))
            return LOCATE_UNREAD;
        uint32_t i = 0;
        while (i < count && block[i] == 0x00)
            i++;
        *pos += i;
        if (i < count)
            break;
    }
    return LOCATE_FOUND;
}

int LocateRiffIn(const ByteSource *source, unsigned char *block, uint32_t blockBytes,
                 RiffPlace *place)
{
    uint32_t count = source->size < ID3_HEADER_BYTES ? (uint32_t)source->size : ID3_HEADER_BYTES;
    if (!ReadWhole(source, 0, block, count))
        return LOCATE_UNREAD;
    if (FindTag(block, source->size, &place->tagLength) == TAG_TOO_LONG)
        return LOCATE_NONE;
    uint64_t pos = place->tagLength;
    if (SkipZerosIn(source, block, blockBytes, &pos) != LOCATE_FOUND)
        return LOCATE_UNREAD;
    place->riffPos = pos;
    if (source->size - pos < RIFF_HEADER_BYTES)
        return LOCATE_NONE;
    if (!ReadWhole(source, pos, block, RIFF_HEADER_BYTES))
        return LOCATE_UNREAD;
    return IsWrappingHeader(block, place) ? LOCATE_FOUND : LOCATE_NONE;
}

/* Only the first format chunk counts. Cutting a PCM, ADPCM or any other
 * non-MPEG WAVE down to its data would leave bare samples that nothing can
 * play, so such a file is refused wherever its format chunk stands. A chunk
 * too short to hold the tag names nothing. */
static int FormatOfChunk(const ChunkWalk *walk, const RiffChunk *chunk)
{
    unsigned char p[2];
    if (chunk->payloadSize < 2 || PayloadInFile(walk, chunk) < 2)
        return COLLECT_DONE;
    if (!ReadWhole(walk->source, chunk->payload, p, 2))
        return COLLECT_UNREAD;
    unsigned formatTag = p[0] | (unsigned)p[1] << 8;
    if (formatTag != WAVE_FORMAT_MPEG && formatTag != WAVE_FORMAT_MPEGLAYER3)
        return COLLECT_REFUSED;
    return COLLECT_DONE;
}

/* A walk that reaches the end of the data while the declared RIFF end lies
 * further on ends there with what it has. */
int CollectDataChunks(const ByteSource *source, const RiffPlace *place, PayloadVisitor visit,
                      void *context, uint64_t *audioBytes)
{
    ChunkWalk walk;
    RiffChunk chunk;
    bool formatSeen = false, appended = false;
    int step, format;
    *audioBytes = 0;
    BeginChunkWalk(&walk, source, source->size, place->riffPos + RIFF_HEADER_BYTES, place->riffEnd);
    while ((step = NextChunk(&walk, &chunk)) == WALK_CHUNK) {
        if (!formatSeen && IdEquals(chunk.id, "fmt ")) {
            formatSeen = true;
            if ((format = FormatOfChunk(&walk, &chunk)) != COLLECT_DONE)
                return format;
        }
        if (!IdEquals(chunk.id, "data"))
            continue;
        if (chunk.payloadSize > source->size - chunk.payload)
            return COLLECT_REFUSED;
        appended = appended || chunk.payloadSize > 0;
        *audioBytes += chunk.payloadSize;
        if (visit != NULL && !visit(context, chunk.payload, chunk.payloadSize))
            return COLLECT_STOPPED;
    }
    if (step == WALK_UNREAD)
        return COLLECT_UNREAD;
    /* Tag and zero bytes alone are not a result: the file would be cut down
     * to them and its audio lost. */
    return step == WALK_END && appended ? COLLECT_DONE : COLLECT_REFUSED;
}

/* Appends a payload of the loaded buffer to the work buffer. */
struct WorkCopy {
    const unsigned char *buffer;
    unsigned char *work;
    uint32_t length;
};

static bool CopyPayload(void *context, uint64_t offset, uint32_t bytes)
{
    WorkCopy *copy = (WorkCopy *)context;
    memcpy(copy->work + copy->length, copy->buffer + offset, bytes);
    copy->length += bytes;
    return true;
}

uint32_t UnwrapRiff(unsigned char *buffer, uint32_t size, bool *noMemory)
{
    uint32_t result = 0;
    uint64_t audioBytes;
    RiffPlace place;
    ByteSource source;
    MemorySource memory;
    WorkCopy copy = {buffer, (unsigned char *)malloc(size > 0 ? size : 1), 0};
    if (noMemory != NULL)
        *noMemory = copy.work == NULL;
    if (copy.work == NULL)
        return 0;

    if (!LocateRiff(buffer, size, &place))
        goto cleanup;
    memcpy(copy.work, buffer, place.tagLength);
    memset(copy.work + place.tagLength, 0x00, (size_t)(place.riffPos - place.tagLength));
    copy.length = (uint32_t)place.riffPos;
    BeginMemorySource(&source, &memory, buffer, size);
    if (CollectDataChunks(&source, &place, CopyPayload, &copy, &audioBytes) != COLLECT_DONE)
        goto cleanup;

    memcpy(buffer, copy.work, copy.length);
    result = copy.length;
cleanup:
    free(copy.work);
    return result;
}
