/*
 * riff_walk.h: walking the chunks of a RIFF, or of a LIST inside one, through
 * a byte source whose every size field is hostile.
 *
 * The unwrapping, the search for tags and the streamed conversion walk the
 * same chunks with this one walk, so they can never disagree on where a
 * chunk begins. A loaded file is walked through a source over its buffer, a
 * file on disk through a source that reads it, and only the chunk headers
 * are read. Offsets are kept in 64 bits and compared as "need <= size - pos",
 * so a size near 0xFFFFFFFF can neither wrap an offset nor point outside the
 * data. A walk ends at the end its container declares or at the end of the
 * data it may see, whichever comes first: writers that never patched a size
 * (0xFFFFFFFF) leave a container that runs past the file.
 */
#ifndef KORVANE_CORE_RIFF_WALK_H
#define KORVANE_CORE_RIFF_WALK_H

#include <stdint.h>
#include <string.h>

#include "unwrap.h"

#define RIFF_HEADER_BYTES  12
#define CHUNK_HEADER_BYTES 8

static inline uint32_t ReadLE32(const unsigned char *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static inline void StoreLE32(unsigned char *p, uint32_t value)
{
    p[0] = (unsigned char)value;
    p[1] = (unsigned char)(value >> 8);
    p[2] = (unsigned char)(value >> 16);
    p[3] = (unsigned char)(value >> 24);
}

static inline bool IdEquals(const unsigned char *p, const char *id)
{
    return memcmp(p, id, 4) == 0;
}

/* Bytes of a file, read through read; a read may bring fewer bytes than
 * asked, and 0 means it failed. */
struct ByteSource {
    HeadReader read;
    void *context;
    uint64_t size;
};

/* Reads count bytes at offset whole, asking again after a short count;
 * false when a read fails. The caller keeps offset + count within size. */
static inline bool ReadWhole(const ByteSource *source, uint64_t offset, unsigned char *out,
                             uint32_t count)
{
    while (count > 0) {
        uint32_t got = source->read(source->context, offset, out, count);
        if (got == 0 || got > count)
            return false;
        offset += got;
        out += got;
        count -= got;
    }
    return true;
}

/* The reader of a source over bytes in memory; context is a MemorySource. */
struct MemorySource {
    const unsigned char *bytes;
    uint64_t size;
};

static inline uint32_t ReadFromMemory(void *context, uint64_t offset, unsigned char *out,
                                      uint32_t count)
{
    const MemorySource *memory = (const MemorySource *)context;
    if (offset >= memory->size)
        return 0;
    uint64_t left = memory->size - offset;
    uint32_t step = left < count ? (uint32_t)left : count;
    memcpy(out, memory->bytes + offset, step);
    return step;
}

static inline void BeginMemorySource(ByteSource *source, MemorySource *memory,
                                     const unsigned char *bytes, uint64_t size)
{
    memory->bytes = bytes;
    memory->size = size;
    source->read = ReadFromMemory;
    source->context = memory;
    source->size = size;
}

struct RiffChunk {
    unsigned char id[4];
    uint64_t offset;      /* of its id; its header lies wholly in the data */
    uint64_t payload;     /* offset of the payload, at most the data's size */
    uint32_t payloadSize; /* as declared: it may run past the data's end */
};

struct ChunkWalk {
    const ByteSource *source;
    uint64_t size; /* bytes of data the walk may see, at most the source's */
    uint64_t next;
    uint64_t end; /* as the container declares it; may lie past size */
};

enum { WALK_CHUNK, WALK_END, WALK_CUT, WALK_UNREAD };

static inline void BeginChunkWalk(ChunkWalk *walk, const ByteSource *source, uint64_t size,
                                  uint64_t start, uint64_t end)
{
    walk->source = source;
    walk->size = size;
    walk->next = start;
    walk->end = end;
}

/* WALK_CHUNK with the next chunk; WALK_END when the container or the data
 * ends where a chunk would begin; WALK_CUT when a chunk header begins inside
 * the data but does not fit in it; WALK_UNREAD when its header could not be
 * read. */
static inline int NextChunk(ChunkWalk *walk, RiffChunk *chunk)
{
    unsigned char header[CHUNK_HEADER_BYTES];
    if (walk->next >= walk->end || walk->next >= walk->size)
        return WALK_END;
    uint64_t pos = walk->next;
    if (walk->size - pos < CHUNK_HEADER_BYTES)
        return WALK_CUT;
    if (!ReadWhole(walk->source, pos, header, CHUNK_HEADER_BYTES))
        return WALK_UNREAD;
    memcpy(chunk->id, header, 4);
    chunk->offset = pos;
    chunk->payload = pos + CHUNK_HEADER_BYTES;
    chunk->payloadSize = ReadLE32(header + 4);
    /* An odd payload is followed by a pad byte. */
    walk->next = chunk->payload + (((uint64_t)chunk->payloadSize + 1) & ~(uint64_t)1);
    return WALK_CHUNK;
}

/* Bytes of the payload that lie inside the data the walk may see. */
static inline uint32_t PayloadInFile(const ChunkWalk *walk, const RiffChunk *chunk)
{
    uint64_t room = walk->size - chunk->payload;
    return chunk->payloadSize < room ? chunk->payloadSize : (uint32_t)room;
}

#endif
