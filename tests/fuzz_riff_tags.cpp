/*
 * fuzz_riff_tags.cpp: libFuzzer target for the search for the tags a RIFF
 * keeps.
 *
 * The first input byte picks the mode: even, the rest is the file as it
 * stands; odd, the rest is the chunks of a RIFF whose header is put before
 * them (bit 1: RMP3 rather than WAVE, bit 2: a size of 0xFFFFFFFF), so that
 * no time goes into finding a RIFF header. The loaded buffer is exactly
 * size + 1 bytes with the guard. A tag built from text must parse back as
 * ID3v2.3 frame by frame; a copied tag and an ID3v1 block must be bytes of
 * the file; the buffer stays as it was, and LeakSanitizer sees anything
 * FreeRiffTags leaves behind.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "core/riff_tags.h"
#include "core/unwrap.h"

/* A deterministic stand-in for the system's decoder: some texts fail, some
 * come out all ASCII, and bytes from F0 up take two units, the whole room. */
static uint32_t FakeDecode(const unsigned char *text, uint32_t bytes, uint16_t *out,
                           uint32_t outUnits)
{
    uint32_t units = 0;
    if (bytes == 0 || outUnits != 2 * bytes)
        abort();
    if (text[0] % 5 == 0)
        return 0;
    for (uint32_t i = 0; i < bytes; i++) {
        if (text[i] >= 0xF0) {
            out[units++] = (uint16_t)(0xD800 | text[i]);
            out[units++] = (uint16_t)(0xDC00 | text[i]);
        } else {
            out[units++] =
                (text[0] & 1) ? (uint16_t)(text[i] & 0x7F) : (uint16_t)(0x3000 + text[i]);
        }
    }
    return units;
}

static uint32_t ReadBE32(const unsigned char *p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

static uint32_t Synchsafe(const unsigned char *p)
{
    if ((p[0] | p[1] | p[2] | p[3]) & 0x80)
        abort();
    return (uint32_t)p[0] << 21 | (uint32_t)p[1] << 14 | (uint32_t)p[2] << 7 | p[3];
}

static bool Contains(const unsigned char *file, size_t size, const unsigned char *piece, size_t n)
{
    return memmem(file, size, piece, n) != NULL;
}

/* Checks the strings of a frame body: encoding 0 holds ASCII only, and in
 * encoding 1 every string starts with FF FE and the value holds a unit that
 * is not ASCII. */
static void CheckText(const unsigned char *text, uint32_t bytes, int encoding)
{
    bool wide = false;
    if (encoding == 0) {
        for (uint32_t i = 0; i < bytes; i++)
            if (text[i] >= 0x80)
                abort();
        return;
    }
    if (bytes < 2 || text[0] != 0xFF || text[1] != 0xFE || bytes % 2 != 0)
        abort();
    for (uint32_t i = 2; i < bytes; i += 2)
        wide = wide || text[i] >= 0x80 || text[i + 1] != 0;
    if (!wide)
        abort();
}

/* The bytes before the value, of left in the body after its encoding byte:
 * "und" and an empty description in COMM, the entry's id in TXXX. */
static uint32_t PrefixBytes(const unsigned char *id, const unsigned char *body, uint32_t left,
                            int encoding)
{
    bool comment = memcmp(id, "COMM", 4) == 0, user = memcmp(id, "TXXX", 4) == 0;
    uint32_t prefix = comment ? (encoding == 0 ? 4 : 7) : user ? (encoding == 0 ? 5 : 12) : 0;
    if (prefix > left)
        abort();
    if (comment && (memcmp(body, "und", 3) != 0 ||
                    memcmp(body + 3, encoding == 0 ? "\0" : "\xFF\xFE\0\0", prefix - 3) != 0))
        abort();
    if (user && (body[prefix - 1] != 0 || body[prefix - (encoding == 0 ? 1 : 2)] != 0))
        abort();
    if (user && encoding == 1 && (body[0] != 0xFF || body[1] != 0xFE))
        abort();
    return prefix;
}

static void CheckBuiltTag(const unsigned char *tag, uint32_t bytes)
{
    static const char kIds[] = "TIT2TPE1TALBTRCKTYERTCONCOMMTCOPTSSETENCTLANTCOM";
    bool seen[sizeof kIds / 4] = {false};
    int userFrames = 0;
    if (bytes < 10 || memcmp(tag, "ID3\x03\x00\x00", 6) != 0)
        abort();
    if (Synchsafe(tag + 6) != bytes - 10 || bytes - 10 > (1u << 20) || bytes == 10)
        abort();
    for (uint32_t pos = 10; pos < bytes;) {
        if (bytes - pos < 11)
            abort();
        const unsigned char *id = tag + pos, *body = tag + pos + 10;
        uint32_t bodyBytes = ReadBE32(id + 4);
        if (bodyBytes < 2 || bodyBytes > bytes - pos - 10 || id[8] != 0 || id[9] != 0 ||
            body[0] > 1)
            abort();
        const char *known = (const char *)memmem(kIds, sizeof kIds - 1, id, 4);
        if (known != NULL && (known - kIds) % 4 == 0) {
            if (seen[(known - kIds) / 4])
                abort(); /* the first entry for a frame wins: one frame each */
            seen[(known - kIds) / 4] = true;
        } else if (memcmp(id, "TXXX", 4) != 0 || ++userFrames > 64) {
            abort();
        }
        uint32_t prefix = PrefixBytes(id, body + 1, bodyBytes - 1, body[0]);
        CheckText(body + 1 + prefix, bodyBytes - 1 - prefix, body[0]);
        pos += 10 + bodyBytes;
    }
}

static void CheckCopiedTag(const unsigned char *tag, uint32_t bytes, const unsigned char *file,
                           uint32_t size)
{
    if (bytes < 10 || memcmp(tag, "ID3", 3) != 0 || tag[3] < 2 || tag[3] > 4 || tag[4] == 0xFF)
        abort();
    if (Synchsafe(tag + 6) != bytes - 10 || (tag[3] == 4 && (tag[5] & 0x10)))
        abort();
    if (!Contains(file, size, tag, bytes))
        abort();
}

static void CheckTags(RiffTags *tags, const unsigned char *file, uint32_t size)
{
    if ((tags->leading == NULL) != (tags->leadingBytes == 0))
        abort();
    if (tags->leading != NULL && tags->leadingBuilt) {
        CheckBuiltTag(tags->leading, tags->leadingBytes);
    } else if (tags->leading != NULL) {
        CheckCopiedTag(tags->leading, tags->leadingBytes, file, size);
    }
    if (tags->hasTrailing && (memcmp(tags->trailing, "TAG", 3) != 0 ||
                              !Contains(file, size, tags->trailing, ID3V1_BYTES)))
        abort();
}

/* The file the input stands for, in a buffer of exactly size + 1 bytes. */
static unsigned char *LoadInput(const uint8_t *data, size_t size, uint32_t *fileSize)
{
    size_t header = (data[0] & 1) ? 12 : 0;
    unsigned char *loaded = (unsigned char *)malloc(header + size);
    *fileSize = (uint32_t)(header + size - 1);
    if (header != 0) {
        uint32_t riffSize = (data[0] & 4) ? 0xFFFFFFFFu : (uint32_t)(4 + size - 1);
        memcpy(loaded, "RIFF", 4);
        for (int i = 0; i < 4; i++)
            loaded[4 + i] = (unsigned char)(riffSize >> (8 * i));
        memcpy(loaded + 8, (data[0] & 2) ? "RMP3" : "WAVE", 4);
    }
    memcpy(loaded + header, data + 1, size - 1);
    loaded[*fileSize] = LOADED_BUFFER_GUARD;
    return loaded;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size > 0xFFFF0000u)
        return 0;
    uint32_t fileSize;
    unsigned char *loaded = LoadInput(data, size, &fileSize);
    unsigned char *copy = (unsigned char *)malloc(fileSize + 1);
    memcpy(copy, loaded, fileSize + 1);

    /* A file that leads with a tag keeps it: nothing is found for it. */
    RiffPlace place;
    bool leadingTag = LocateRiff(loaded, fileSize, &place) && place.tagLength != 0;
    RiffTags tags;
    if (FindRiffTags(loaded, fileSize, FakeDecode, &tags) != 1)
        abort();
    if (leadingTag && (tags.leading != NULL || tags.hasTrailing))
        abort();
    CheckTags(&tags, loaded, fileSize);
    FreeRiffTags(&tags);
    if (tags.leading != NULL || tags.leadingBytes != 0 || tags.hasTrailing)
        abort();
    if (memcmp(copy, loaded, fileSize + 1) != 0)
        abort();
    free(copy);
    free(loaded);
    return 0;
}
