/*
 * unwrap.cpp: recognising plain MPEG audio and unwrapping RIFF/WAVE and
 * RIFF/RMP3 files back into it.
 *
 * Every size in the file is hostile: offsets are compared in the form
 * "need <= size - pos" or computed in 64 bits, so a chunk size near
 * 0xFFFFFFFF can neither wrap an offset nor move a copy outside the buffer.
 * The output is built in a work buffer of the file's size (it can never be
 * longer, since the RIFF header and every chunk header are dropped) and then
 * copied over the loaded buffer in one block.
 */
#include "unwrap.h"

#include <stdlib.h>
#include <string.h>

#ifdef KORVANE_TEST_SEAMS
/* The conversion tests refuse the work buffer through the seam for malloc. */
#include "tests/convert_seams.h"
#endif

#define ID3_HEADER_BYTES   10
#define RIFF_HEADER_BYTES  12
#define CHUNK_HEADER_BYTES 8

/* Format tags of the WAVE format chunk that mean MPEG audio. */
#define WAVE_FORMAT_MPEG       0x0050
#define WAVE_FORMAT_MPEGLAYER3 0x0055

enum { TAG_NONE, TAG_PRESENT, TAG_TOO_LONG };

static uint32_t ReadLE32(const unsigned char *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static bool IdEquals(const unsigned char *p, const char *id)
{
    return memcmp(p, id, 4) == 0;
}

/* Looks for an ID3v2 tag at offset 0. Its length is the 28-bit synchsafe size
 * in bytes 6 to 9 plus the 10-byte header; a footer does not lengthen it. */
static int FindTag(const unsigned char *buffer, uint32_t size, uint32_t *tagLength)
{
    *tagLength = 0;
    if (size < 3 || memcmp(buffer, "ID3", 3) != 0)
        return TAG_NONE;
    if (size < ID3_HEADER_BYTES)
        return TAG_TOO_LONG;
    uint32_t synchsafe = (uint32_t)(buffer[6] & 0x7F) << 21 | (uint32_t)(buffer[7] & 0x7F) << 14 |
                         (uint32_t)(buffer[8] & 0x7F) << 7 | (uint32_t)(buffer[9] & 0x7F);
    *tagLength = synchsafe + ID3_HEADER_BYTES;
    return *tagLength > size ? TAG_TOO_LONG : TAG_PRESENT;
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
     * When pos is below size, pos + 1 is at most the guard. */
    if (pos < size && buffer[pos] == 0xFF && (buffer[pos + 1] & 0xF0) == 0xF0)
        return false;
    return true;
}

/* Walks the chunks of the RIFF whose "RIFF" id stands at riffPos and appends
 * every data payload to work at *outLength. Returns false when a header or a
 * data payload that begins inside the file runs past its end, or when the
 * format chunk names audio other than MPEG. *appended tells whether any
 * payload byte was added. */
static bool CollectDataChunks(const unsigned char *buffer, uint32_t size, uint32_t riffPos,
                              unsigned char *work, uint32_t *outLength, bool *appended)
{
    uint64_t riffEnd = (uint64_t)riffPos + 8 + ReadLE32(buffer + riffPos + 4);
    uint64_t chunk = (uint64_t)riffPos + RIFF_HEADER_BYTES;
    bool formatSeen = false;
    *appended = false;
    while (chunk < riffEnd) {
        /* A walk that reaches the end of the data while the declared RIFF
         * end lies further on ends here: writers that never patched the
         * RIFF size (0xFFFFFFFF) leave exactly this. */
        if (chunk >= size)
            break;
        uint32_t pos = (uint32_t)chunk;
        if (size - pos < CHUNK_HEADER_BYTES)
            return false;
        uint32_t payloadSize = ReadLE32(buffer + pos + 4);
        uint32_t payload = pos + CHUNK_HEADER_BYTES;
        /* Only the first format chunk counts. Cutting a PCM, ADPCM or any
         * other non-MPEG WAVE down to its data would leave bare samples that
         * nothing can play, so such a file is refused wherever its format
         * chunk stands. A chunk too short to hold the tag names nothing. */
        if (!formatSeen && IdEquals(buffer + pos, "fmt ")) {
            formatSeen = true;
            if (payloadSize >= 2 && size - payload >= 2) {
                unsigned formatTag = buffer[payload] | (unsigned)buffer[payload + 1] << 8;
                if (formatTag != WAVE_FORMAT_MPEG && formatTag != WAVE_FORMAT_MPEGLAYER3)
                    return false;
            }
        }
        if (IdEquals(buffer + pos, "data")) {
            if (payloadSize > size - payload)
                return false;
            memcpy(work + *outLength, buffer + payload, payloadSize);
            *outLength += payloadSize;
            if (payloadSize > 0)
                *appended = true;
        }
        chunk = (uint64_t)payload + (((uint64_t)payloadSize + 1) & ~(uint64_t)1);
    }
    return true;
}

uint32_t UnwrapRiff(unsigned char *buffer, uint32_t size, bool *noMemory)
{
    uint32_t result = 0;
    uint32_t outLength = 0;
    uint32_t pos, riffPos;
    bool appended = false;
    unsigned char *work = (unsigned char *)malloc(size > 0 ? size : 1);
    if (noMemory != NULL)
        *noMemory = work == NULL;
    if (work == NULL)
        return 0;

    int tag = FindTag(buffer, size, &pos);
    if (tag == TAG_TOO_LONG)
        goto cleanup;
    if (tag == TAG_PRESENT)
        memcpy(work, buffer, pos);
    riffPos = SkipZeroBytes(buffer, size, pos);
    memset(work + pos, 0x00, riffPos - pos);
    outLength = riffPos;

    if (size - riffPos < RIFF_HEADER_BYTES || !IdEquals(buffer + riffPos, "RIFF"))
        goto cleanup;
    if (!IdEquals(buffer + riffPos + 8, "WAVE") && !IdEquals(buffer + riffPos + 8, "RMP3"))
        goto cleanup;
    if (!CollectDataChunks(buffer, size, riffPos, work, &outLength, &appended))
        goto cleanup;
    /* Tag and zero bytes alone are not a result: the file would be cut down
     * to them and its audio lost. */
    if (!appended)
        goto cleanup;

    memcpy(buffer, work, outLength);
    result = outLength;
cleanup:
    free(work);
    return result;
}
