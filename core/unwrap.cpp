/*
 * unwrap.cpp: recognising plain MPEG audio and unwrapping RIFF/WAVE and
 * RIFF/RMP3 files back into it.
 *
 * Every size in the file is hostile: the chunks are walked with the walk of
 * riff_walk.h, and offsets are compared in the form "need <= size - pos" or
 * computed in 64 bits, so a chunk size near 0xFFFFFFFF can neither wrap an
 * offset nor move a copy outside the buffer. The output is built in a work
 * buffer of the file's size (it can never be longer, since the RIFF header
 * and every chunk header are dropped) and then copied over the loaded buffer
 * in one block.
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

bool LocateRiff(const unsigned char *buffer, uint32_t size, RiffPlace *place)
{
    int tag = FindTag(buffer, size, &place->tagLength);
    if (tag == TAG_TOO_LONG)
        return false;
    place->riffPos = SkipZeroBytes(buffer, size, place->tagLength);
    uint32_t riffPos = place->riffPos;
    if (size - riffPos < RIFF_HEADER_BYTES || !IdEquals(buffer + riffPos, "RIFF"))
        return false;
    place->riffEnd = (uint64_t)riffPos + 8 + ReadLE32(buffer + riffPos + 4);
    return IdEquals(buffer + riffPos + 8, "WAVE") || IdEquals(buffer + riffPos + 8, "RMP3");
}

/* Only the first format chunk counts. Cutting a PCM, ADPCM or any other
 * non-MPEG WAVE down to its data would leave bare samples that nothing can
 * play, so such a file is refused wherever its format chunk stands. A chunk
 * too short to hold the tag names nothing. */
static bool NamesOtherAudio(const ChunkWalk *walk, const RiffChunk *chunk)
{
    if (chunk->payloadSize < 2 || PayloadInFile(walk, chunk) < 2)
        return false;
    const unsigned char *p = walk->buffer + chunk->payload;
    unsigned formatTag = p[0] | (unsigned)p[1] << 8;
    return formatTag != WAVE_FORMAT_MPEG && formatTag != WAVE_FORMAT_MPEGLAYER3;
}

/* Walks the chunks of the RIFF at place and appends every data payload to
 * work at *outLength. Returns false when a header or a data payload that
 * begins inside the file runs past its end, or when the format chunk names
 * audio other than MPEG. A walk that reaches the end of the data while the
 * declared RIFF end lies further on ends there with what it has. */
static bool CollectDataChunks(const unsigned char *buffer, uint32_t size, const RiffPlace *place,
                              unsigned char *work, uint32_t *outLength, UnwrapLayout *layout)
{
    ChunkWalk walk;
    RiffChunk chunk;
    bool formatSeen = false, appended = false;
    int step;
    BeginChunkWalk(&walk, buffer, size, (uint64_t)place->riffPos + RIFF_HEADER_BYTES,
                   place->riffEnd);
    while ((step = NextChunk(&walk, &chunk)) == WALK_CHUNK) {
        if (!formatSeen && IdEquals(buffer + chunk.offset, "fmt ")) {
            formatSeen = true;
            if (NamesOtherAudio(&walk, &chunk))
                return false;
        }
        if (!IdEquals(buffer + chunk.offset, "data"))
            continue;
        if (chunk.payloadSize > size - chunk.payload)
            return false;
        if (chunk.payloadSize > 0) {
            uint32_t drop = chunk.payload - *outLength;
            if (!appended)
                layout->leastDrop = drop;
            layout->mostDrop = drop;
            appended = true;
        }
        memcpy(work + *outLength, buffer + chunk.payload, chunk.payloadSize);
        *outLength += chunk.payloadSize;
    }
    /* Tag and zero bytes alone are not a result: the file would be cut down
     * to them and its audio lost. */
    return step == WALK_END && appended;
}

uint32_t UnwrapRiff(unsigned char *buffer, uint32_t size, bool *noMemory, UnwrapLayout *layout)
{
    uint32_t result = 0;
    uint32_t outLength = 0;
    RiffPlace place;
    UnwrapLayout unused;
    unsigned char *work = (unsigned char *)malloc(size > 0 ? size : 1);
    if (noMemory != NULL)
        *noMemory = work == NULL;
    if (work == NULL)
        return 0;
    if (layout == NULL)
        layout = &unused;

    if (!LocateRiff(buffer, size, &place))
        goto cleanup;
    memcpy(work, buffer, place.tagLength);
    memset(work + place.tagLength, 0x00, place.riffPos - place.tagLength);
    outLength = place.riffPos;
    if (!CollectDataChunks(buffer, size, &place, work, &outLength, layout))
        goto cleanup;

    memcpy(buffer, work, outLength);
    result = outLength;
cleanup:
    free(work);
    return result;
}
