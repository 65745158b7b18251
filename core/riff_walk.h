/*
 * riff_walk.h: walking the chunks of a RIFF, or of a LIST inside one, in a
 * loaded file whose every size field is hostile.
 *
 * The unwrapping and the search for tags walk the same chunks with this one
 * walk, so they can never disagree on where a chunk begins. Offsets are kept
 * in 64 bits and compared as "need <= size - pos", so a size near 0xFFFFFFFF
 * can neither wrap an offset nor point outside the buffer. A walk ends at
 * the end its container declares or at the end of the file data, whichever
 * comes first: writers that never patched a size (0xFFFFFFFF) leave a
 * container that runs past the file.
 */
#ifndef KORVANE_CORE_RIFF_WALK_H
#define KORVANE_CORE_RIFF_WALK_H

#include <stdint.h>
#include <string.h>

#define RIFF_HEADER_BYTES  12
#define CHUNK_HEADER_BYTES 8

static inline uint32_t ReadLE32(const unsigned char *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static inline bool IdEquals(const unsigned char *p, const char *id)
{
    return memcmp(p, id, 4) == 0;
}

struct RiffChunk {
    uint32_t offset;      /* of its id; its header lies wholly in the file */
    uint32_t payload;     /* offset of the payload, at most the file's size */
    uint32_t payloadSize; /* as declared: it may run past the file's end */
};

struct ChunkWalk {
    const unsigned char *buffer;
    uint32_t size; /* bytes of file data in buffer */
    uint64_t next;
    uint64_t end; /* as the container declares it; may lie past size */
};

enum { WALK_CHUNK, WALK_END, WALK_CUT };

static inline void BeginChunkWalk(ChunkWalk *walk, const unsigned char *buffer, uint32_t size,
                                  uint64_t start, uint64_t end)
{
    walk->buffer = buffer;
    walk->size = size;
    walk->next = start;
    walk->end = end;
}

/* WALK_CHUNK with the next chunk; WALK_END when the container or the file
 * data ends where a chunk would begin; WALK_CUT when a chunk header begins
 * inside the data but does not fit in it. */
static inline int NextChunk(ChunkWalk *walk, RiffChunk *chunk)
{
    if (walk->next >= walk->end || walk->next >= walk->size)
        return WALK_END;
    uint32_t pos = (uint32_t)walk->next;
    if (walk->size - pos < CHUNK_HEADER_BYTES)
        return WALK_CUT;
    chunk->offset = pos;
    chunk->payload = pos + CHUNK_HEADER_BYTES;
    chunk->payloadSize = ReadLE32(walk->buffer + pos + 4);
    /* An odd payload is followed by a pad byte. */
    walk->next = (uint64_t)chunk->payload + (((uint64_t)chunk->payloadSize + 1) & ~(uint64_t)1);
    return WALK_CHUNK;
}

/* Bytes of the payload that lie inside the file data. */
static inline uint32_t PayloadInFile(const ChunkWalk *walk, const RiffChunk *chunk)
{
    uint32_t room = walk->size - chunk->payload;
    return chunk->payloadSize < room ? chunk->payloadSize : room;
}

#endif
