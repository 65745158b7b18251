/*
 * riff_tags.h: the tags a wrapped file keeps inside its RIFF (titles,
 * artists, often in code page 932), made into the tags of the MP3 it
 * becomes, so that a player can still show them once the RIFF is gone.
 *
 * An ID3v2 tag in an "id3 " or "ID3 " chunk (or in the IID3 entry of an
 * RMP3's LIST) is taken as it stands; otherwise the entries of LIST/INFO,
 * and the title and artist of a broadcast WAVE's cart chunk, are built into
 * an ID3v2.3 tag. An ID3v1 block after the RIFF's end (or in an IID3 entry)
 * is kept to be appended. Nothing here touches the platform: the one thing
 * it needs of the system, decoding text in the ANSI code page, is handed in.
 */
#ifndef KORVANE_CORE_RIFF_TAGS_H
#define KORVANE_CORE_RIFF_TAGS_H

#include <stdint.h>

#define ID3V1_BYTES 128

/* Decodes bytes of text in the system's ANSI code page (932 on Japanese
 * Windows) into UTF-16 units at out, which has room for outUnits, twice
 * bytes; returns the units written, 0 when the text could not be decoded. */
typedef uint32_t (*AnsiDecoder)(const unsigned char *text, uint32_t bytes, uint16_t *out,
                                uint32_t outUnits);

struct RiffTags {
    unsigned char *leading; /* an ID3v2 tag to lead the MP3, or NULL */
    uint32_t leadingBytes;
    bool leadingBuilt; /* built here from INFO or cart, not copied byte for byte */
    bool hasTrailing;
    unsigned char trailing[ID3V1_BYTES]; /* an ID3v1 block to append */
};

/* Looks for the tags of a loaded file (size bytes and the guard) that holds
 * a RIFF of form WAVE or RMP3 after its zero bytes. A file that leads with an
 * ID3v2 tag keeps that one, and nothing is found for it. Never reads outside
 * the file, nor inside it outside the RIFF but for its last 128 bytes.
 * Returns 1 with tags filled in (leading may stay NULL and hasTrailing
 * false: nothing was found), 0 when the memory for a tag could not be had;
 * tags then holds nothing to release. */
int FindRiffTags(const unsigned char *buffer, uint32_t size, AnsiDecoder decode, RiffTags *tags);

/* Releases what FindRiffTags took; tags then holds nothing. */
void FreeRiffTags(RiffTags *tags);

#endif
