/*
 * riff_builder.h: builds wrapped files byte by byte for the tests, so each
 * test states the layout it checks instead of carrying opaque blobs.
 */
#ifndef KORVANE_TESTS_RIFF_BUILDER_H
#define KORVANE_TESTS_RIFF_BUILDER_H

#include <stddef.h>
#include <stdint.h>
#include <initializer_list>
#include <vector>

typedef std::vector<unsigned char> Bytes;

/* Recognisable filler: byte i is derived from seed and i. */
Bytes Pattern(size_t count, unsigned seed);
Bytes Zeros(size_t count);
/* Filler that begins with an MPEG frame sync (0xFF 0xFB), as plain audio does. */
Bytes Frame(size_t count);
Bytes Join(std::initializer_list<Bytes> parts);
void PutLE32(Bytes &bytes, size_t offset, uint32_t value);

/* An ID3v2.3 tag whose synchsafe size field says bodyBytes; the body follows. */
Bytes Id3Tag(uint32_t bodyBytes);
/* A chunk with its id, size field and payload; a pad byte follows an odd
 * payload unless pad is false. */
Bytes Chunk(const char *id, const Bytes &payload, bool pad = true);
/* A chunk header whose size field claims declaredSize, followed by payload. */
Bytes ChunkClaiming(const char *id, uint32_t declaredSize, const Bytes &payload);
/* "RIFF", the size of form type plus chunks, the form type, the chunks. */
Bytes Riff(const char *form, const Bytes &chunks);
/* The same with an explicit RIFF size field. */
Bytes RiffClaiming(const char *form, uint32_t riffSize, const Bytes &chunks);

/* The payload of the first chunk with this id in a RIFF that starts at
 * offset 0, read plainly from the file as a producer wrote it; empty when
 * there is none or it runs past the end. */
Bytes ChunkPayload(const Bytes &riff, const char *id);

/* A plausible WAVE format chunk for MPEG Layer 3 audio. */
Bytes Mp3FormatChunk();

/* Runs the unwrapping routines on a loaded buffer made exactly size + 1
 * bytes long, so that sanitizers see any read past the guard. */
bool RunNeedsConversion(const Bytes &file);
/* Returns the new length; on success file holds the output. */
uint32_t RunUnwrap(Bytes &file);

#endif
