/*
 * unwrap.h: deciding whether a loaded file needs unwrapping, and doing it.
 *
 * Both routines work on a "loaded buffer": the file's size bytes followed by
 * one guard byte 0xCC at index size. The guard is neither 0x00 nor 0xFF, so a
 * scan over zero bytes always stops on it and it never completes a frame sync.
 * Nothing here touches the platform, so the same code builds natively for the
 * sanitizer and fuzzer builds.
 */
#ifndef KORVANE_CORE_UNWRAP_H
#define KORVANE_CORE_UNWRAP_H

#include <stddef.h>
#include <stdint.h>

#define LOADED_BUFFER_GUARD 0xCC

/* True when the bytes do not already start, after an optional ID3v2 tag and
 * zero bytes, with an MPEG frame sync: the 12-bit sync of MPEG 1 and 2, or
 * the 11-bit one of MPEG 2.5 followed by version bits 00 and a layer. */
bool NeedsConversion(unsigned char *buffer, uint32_t size);

/* Reads up to count bytes at offset into out; returns how many it read. */
typedef uint32_t (*HeadReader)(void *context, uint64_t offset, unsigned char *out, uint32_t count);

enum { HEAD_PLAIN, HEAD_NOT_PLAIN, HEAD_UNREAD };

/* Decides as NeedsConversion would on the whole file of size bytes, reading
 * only what that decision looks at: the tag header, the zero bytes after the
 * tag and the two bytes after them, in reads of at most blockBytes (16 or
 * more) into block. HEAD_PLAIN where NeedsConversion would return false,
 * HEAD_NOT_PLAIN where it would return true, HEAD_UNREAD when a read came up
 * short. The size may be 4 GiB or more. A caller that passes syncSecond
 * learns there, for HEAD_PLAIN, the second byte of the frame header, which
 * holds the version and the layer. */
int CheckHead(HeadReader read, void *context, uint64_t size, unsigned char *block,
              uint32_t blockBytes, unsigned char *syncSecond = NULL);

/* Where a wrapped file's RIFF stands, after its prefix (an ID3v2 tag and the
 * zero bytes after it). */
struct RiffPlace {
    uint32_t tagLength; /* 0 without a tag */
    uint64_t riffPos;   /* offset of "RIFF" */
    uint64_t riffEnd;   /* as declared; may lie past the file */
};

/* True when a RIFF header of form type WAVE or RMP3 stands whole after the
 * prefix. */
bool LocateRiff(const unsigned char *buffer, uint32_t size, RiffPlace *place);

struct ByteSource;

enum { LOCATE_FOUND, LOCATE_NONE, LOCATE_UNREAD };

/* LocateRiff through a source of any size, reading the zero bytes in reads
 * of at most blockBytes (12 or more) into block: LOCATE_FOUND where
 * LocateRiff would return true, LOCATE_NONE where false, LOCATE_UNREAD when
 * a read failed. */
int LocateRiffIn(const ByteSource *source, unsigned char *block, uint32_t blockBytes,
                 RiffPlace *place);

/* Told of each data payload in the order of the file; false stops the walk. */
typedef bool (*PayloadVisitor)(void *context, uint64_t offset, uint32_t bytes);

enum { COLLECT_DONE, COLLECT_REFUSED, COLLECT_UNREAD, COLLECT_STOPPED };

/* Walks the chunks of the RIFF at place as the unwrapping does, telling
 * visit (when not NULL) of each data payload and adding up their bytes in
 * *audioBytes. COLLECT_REFUSED where the unwrapping refuses the file (a
 * header or a data payload that begins inside the file runs past its end,
 * the first format chunk names audio other than MPEG, no data byte at all);
 * the visits made by then are of no use. */
int CollectDataChunks(const ByteSource *source, const RiffPlace *place, PayloadVisitor visit,
                      void *context, uint64_t *audioBytes);

/* Rewrites the buffer as tag, zero bytes and the payloads of the data chunks;
 * returns the new length, or 0 when the file can't be unwrapped. A RIFF whose
 * first format chunk names audio other than MPEG (PCM, ADPCM, ...) is refused
 * with 0: its data without that chunk could not be played. The work buffer
 * of size bytes may also be refused, and then 0 says nothing about the file:
 * a caller that passes noMemory learns there (true) that this was the cause,
 * so that it need not call a sound file damaged. */
uint32_t UnwrapRiff(unsigned char *buffer, uint32_t size, bool *noMemory = NULL);

#endif
