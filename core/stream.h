/*
 * stream.h: converting a wrapped file from a byte source to a byte sink,
 * reading only the chunk headers, the chunks its tags are in and the audio,
 * which goes through one caller's block. So the memory a conversion takes
 * does not grow with the file, and a file of any size the format allows (a
 * RIFF of 4 GiB behind an ID3v2 tag) converts in the 32-bit program.
 *
 * Nothing here touches the platform: the same code builds natively for the
 * sanitizer, differential and fuzzer builds.
 */
#ifndef KORVANE_CORE_STREAM_H
#define KORVANE_CORE_STREAM_H

#include <stdint.h>

#include "convert_status.h"
#include "riff_tags.h"
#include "riff_walk.h"

/* The most a conversion copies at once, and so the largest block it needs. */
#define STREAM_BLOCK_MAX (1u << 20)
/* The smallest block it can work with: the head check's reads need 16. */
#define STREAM_BLOCK_MIN 16u

/* Takes count bytes of the output; false when they could not be written. */
typedef bool (*SinkWriter)(void *context, const unsigned char *bytes, uint32_t count);

struct ByteSink {
    SinkWriter write;
    void *context;
};

/* Writes to sink what the loaded-buffer routines make of the file: the
 * output of UnwrapRiff, led (with keepRiffTags, for a file that does not
 * lead with a tag) by the ID3v2 tag FindRiffTags finds and ended by its
 * ID3v1 block unless the audio already ends with one. blockBytes, from
 * STREAM_BLOCK_MIN to STREAM_BLOCK_MAX, at block. Returns STATUS_CONVERTED,
 * or STATUS_NOT_NEEDED for plain audio, STATUS_BAD_FORMAT where UnwrapRiff
 * refuses the file, STATUS_READ_FAILED, STATUS_NO_MEMORY when the tags'
 * memory can't be had, STATUS_WRITE_FAILED when the sink refused bytes.
 * Nothing is written before the file is known to convert; a failure after
 * that leaves what the sink took of no use. */
int StreamConversion(const ByteSource *source, const ByteSink *sink, unsigned char *block,
                     uint32_t blockBytes, int keepRiffTags, AnsiDecoder decode);

#endif
