/*
 * stream.cpp: the streamed conversion of stream.h.
 *
 * The file is walked three times, each time reading chunk headers only: to
 * refuse it where UnwrapRiff would, before a byte is written; to gather the
 * chunks the tag search looks at; and to copy the audio. The tags are found
 * by FindRiffTags itself, run on a compact image of the file: a RIFF that
 * holds only those chunks (as much of each as the search would see) and
 * the file's last 128 bytes when they lie after the RIFF's end. The search
 * then finds in the image exactly what it finds in the whole file, and the
 * memory it takes is the size of the tag chunks, not of the file.
 */
#ifdef KORVANE_TEST_SEAMS
/* The conversion tests refuse the image's memory through the seam for
 * malloc. Its header brings <windows.h>, whose STATUS_NO_MEMORY the status
 * header then takes back, so it comes first. */
#include "tests/convert_seams.h"
#endif

#include "stream.h"

#include <stdlib.h>
#include <string.h>

#include "unwrap.h"

/* The whole of a read for the head check, which takes a short count for a
 * failure; context is the ByteSource. */
static uint32_t ReadForHead(void *context, uint64_t offset, unsigned char *out, uint32_t count)
{
    return ReadWhole((const ByteSource *)context, offset, out, count) ? count : 0;
}

/* ---- The compact image of the tag chunks ---- */

/* Where an image is laid out: bytes NULL while it is only measured. */
struct Image {
    unsigned char *bytes;
    uint64_t length;
};

/* True for the chunks the tag search looks at: an ID3v2 tag chunk, a LIST
 * of INFO and the first cart chunk. */
static int IsTagChunk(const ChunkWalk *walk, const RiffChunk *chunk, uint32_t visible,
                      bool *cartSeen, bool *wanted)
{
    unsigned char listType[4];
    *wanted = false;
    if (IdEquals(chunk->id, "id3 ") || IdEquals(chunk->id, "ID3 ")) {
        *wanted = true;
    } else if (IdEquals(chunk->id, "cart")) {
        *wanted = !*cartSeen;
        *cartSeen = true;
    } else if (IdEquals(chunk->id, "LIST") && visible >= 4) {
        if (!ReadWhole(walk->source, chunk->payload, listType, 4))
            return STATUS_READ_FAILED;
        *wanted = IdEquals(listType, "INFO");
    }
    return STATUS_CHECKING;
}

/* Appends the chunk's header and its visible payload, and the pad byte when
 * the whole payload is visible, so that the image's walk meets the next
 * chunk where the file's walk does. */
static int AppendChunk(const ChunkWalk *walk, const RiffChunk *chunk, uint32_t visible,
                       Image *image)
{
    uint32_t pad = visible == chunk->payloadSize ? (chunk->payloadSize & 1) : 0;
    if (image->bytes != NULL) {
        unsigned char *at = image->bytes + image->length;
        memcpy(at, chunk->id, 4);
        StoreLE32(at + 4, chunk->payloadSize);
        if (!ReadWhole(walk->source, chunk->payload, at + CHUNK_HEADER_BYTES, visible))
            return STATUS_READ_FAILED;
        if (pad)
            at[CHUNK_HEADER_BYTES + visible] = 0x00;
    }
    image->length += CHUNK_HEADER_BYTES + (uint64_t)visible + pad;
    return STATUS_CHECKING;
}

/* Walks the RIFF as the tag search does, bounded by the smaller of its
 * declared end and the file's size, and lays the tag chunks into the image
 * after its 12-byte RIFF header. */
static int LayTagChunks(const ByteSource *source, const RiffPlace *place, Image *image)
{
    ChunkWalk walk;
    RiffChunk chunk;
    bool cartSeen = false, wanted;
    int status = STATUS_CHECKING, step;
    uint64_t riffLimit = place->riffEnd < source->size ? place->riffEnd : source->size;
    image->length = RIFF_HEADER_BYTES;
    BeginChunkWalk(&walk, source, riffLimit, place->riffPos + RIFF_HEADER_BYTES, place->riffEnd);
    while (status == STATUS_CHECKING && (step = NextChunk(&walk, &chunk)) == WALK_CHUNK) {
        uint32_t visible = PayloadInFile(&walk, &chunk);
        status = IsTagChunk(&walk, &chunk, visible, &cartSeen, &wanted);
        if (status == STATUS_CHECKING && wanted)
            status = AppendChunk(&walk, &chunk, visible, image);
    }
    if (status == STATUS_CHECKING && step == WALK_UNREAD)
        status = STATUS_READ_FAILED;
    return status;
}

/* The RIFF header of the image, whose declared end is the end of its last
 * chunk, and the file's last 128 bytes when they lie past the RIFF's end,
 * where the search looks for an ID3v1 block. */
static int FinishImage(const ByteSource *source, Image *image, uint64_t trailingAt)
{
    /* The image's length was checked to fit a 32-bit size. */
    memcpy(image->bytes, "RIFF", 4);
    StoreLE32(image->bytes + 4, (uint32_t)(image->length - 8));
    memcpy(image->bytes + 8, "WAVE", 4);
    if (trailingAt != 0) {
        if (!ReadWhole(source, trailingAt, image->bytes + image->length, ID3V1_BYTES))
            return STATUS_READ_FAILED;
        image->length += ID3V1_BYTES;
    }
    image->bytes[image->length] = LOADED_BUFFER_GUARD;
    return STATUS_CHECKING;
}

/* FindRiffTags as it would answer on the whole loaded file. */
static int FindTagsStreamed(const ByteSource *source, const RiffPlace *place, AnsiDecoder decode,
                            RiffTags *tags)
{
    Image image = {NULL, 0};
    uint64_t trailingAt = 0;
    int status = LayTagChunks(source, place, &image);
    memset(tags, 0, sizeof *tags);
    if (status != STATUS_CHECKING)
        goto cleanup;
    if (source->size >= ID3V1_BYTES && place->riffEnd <= source->size - ID3V1_BYTES)
        trailingAt = source->size - ID3V1_BYTES;
    /* The image, its ID3v1 block and its guard are a loaded buffer of a
     * 32-bit size. */
    if (image.length > 0xFFFFFFFFu - ID3V1_BYTES - 1) {
        status = STATUS_NO_MEMORY;
        goto cleanup;
    }
    image.bytes = (unsigned char *)malloc((size_t)image.length + ID3V1_BYTES + 1);
    if (image.bytes == NULL) {
        status = STATUS_NO_MEMORY;
        goto cleanup;
    }
    status = LayTagChunks(source, place, &image);
    if (status == STATUS_CHECKING)
        status = FinishImage(source, &image, trailingAt);
    if (status == STATUS_CHECKING &&
        !FindRiffTags(image.bytes, (uint32_t)image.length, decode, tags))
        status = STATUS_NO_MEMORY;
cleanup:
    free(image.bytes);
    return status;
}

/* ---- Writing the output ---- */

/* The output gathers in the block and goes to the sink a whole block at
 * a time, so that every write but the last is of the block's size and at
 * a multiple of it in the output, whatever the tag before the audio. */
struct Copy {
    const ByteSource *source;
    const ByteSink *sink;
    unsigned char *block;
    uint32_t blockBytes;
    uint32_t fill;         /* output bytes in the block, not yet written */
    int status;            /* of the copy's failure */
    uint64_t written;      /* of the unwrapped output, without a leading tag */
    uint64_t tailAt;       /* where an ID3v1 block of the output would begin */
    unsigned char tail[3]; /* the bytes there, as they pass */
};

static bool WriteBlock(Copy *copy)
{
    if (copy->fill > 0 && !copy->sink->write(copy->sink->context, copy->block, copy->fill)) {
        copy->status = STATUS_WRITE_FAILED;
        return false;
    }
    copy->fill = 0;
    return true;
}

/* Takes bytes that are no part of the unwrapped output: a tag. */
static bool Put(Copy *copy, const unsigned char *bytes, uint32_t count)
{
    while (count > 0) {
        uint32_t step =
            count < copy->blockBytes - copy->fill ? count : copy->blockBytes - copy->fill;
        memcpy(copy->block + copy->fill, bytes, step);
        copy->fill += step;
        bytes += step;
        count -= step;
        if (copy->fill == copy->blockBytes && !WriteBlock(copy))
            return false;
    }
    return true;
}

static void NoteTail(Copy *copy, const unsigned char *bytes, uint32_t count)
{
    for (uint32_t i = 0; i < 3; i++) {
        uint64_t at = copy->tailAt + i;
        if (at >= copy->written && at - copy->written < count)
            copy->tail[i] = bytes[at - copy->written];
    }
    copy->written += count;
}

/* Copies bytes of the source from offset through the block. */
static bool CopyRange(void *context, uint64_t offset, uint32_t bytes)
{
    Copy *copy = (Copy *)context;
    while (bytes > 0) {
        uint32_t room = copy->blockBytes - copy->fill;
        uint32_t step = bytes < room ? bytes : room;
        unsigned char *at = copy->block + copy->fill;
        if (!ReadWhole(copy->source, offset, at, step)) {
            copy->status = STATUS_READ_FAILED;
            return false;
        }
        NoteTail(copy, at, step);
        copy->fill += step;
        offset += step;
        bytes -= step;
        if (copy->fill == copy->blockBytes && !WriteBlock(copy))
            return false;
    }
    return true;
}

/* The prefix (the file's own tag and the zero bytes) may be longer than 4
 * GiB of zero bytes; it is copied in pieces a 32-bit count can hold. */
static bool CopyPrefix(Copy *copy, uint64_t bytes)
{
    uint64_t offset = 0;
    while (bytes > 0) {
        uint32_t step = bytes < 0x80000000u ? (uint32_t)bytes : 0x80000000u;
        if (!CopyRange(copy, offset, step))
            return false;
        offset += step;
        bytes -= step;
    }
    return true;
}

static int WriteOutput(Copy *copy, const RiffPlace *place, const RiffTags *tags,
                       uint64_t unwrappedBytes)
{
    uint64_t audioBytes;
    copy->tailAt = unwrappedBytes >= ID3V1_BYTES ? unwrappedBytes - ID3V1_BYTES : UINT64_MAX - 3;
    if (tags->leading != NULL && !Put(copy, tags->leading, tags->leadingBytes))
        return copy->status;
    if (!CopyPrefix(copy, place->riffPos))
        return copy->status;
    int collected = CollectDataChunks(copy->source, place, CopyRange, copy, &audioBytes);
    if (collected == COLLECT_STOPPED)
        return copy->status;
    if (collected != COLLECT_DONE || copy->written != unwrappedBytes)
        return collected == COLLECT_UNREAD ? STATUS_READ_FAILED : STATUS_BAD_FORMAT;
    /* Audio that already ends with an ID3v1 block gets no second one. */
    bool endsWithBlock = unwrappedBytes >= ID3V1_BYTES && memcmp(copy->tail, "TAG", 3) == 0;
    if (tags->hasTrailing && !endsWithBlock && !Put(copy, tags->trailing, ID3V1_BYTES))
        return copy->status;
    return WriteBlock(copy) ? STATUS_CONVERTED : copy->status;
}

/* Where the file stands before anything is written: STATUS_CHECKING when it
 * converts, with its place and the unwrapped output's length. */
static int Examine(const ByteSource *source, unsigned char *block, uint32_t blockBytes,
                   RiffPlace *place, uint64_t *unwrappedBytes)
{
    uint64_t audioBytes;
    int head = CheckHead(ReadForHead, (void *)source, source->size, block, blockBytes);
    if (head != HEAD_NOT_PLAIN)
        return head == HEAD_PLAIN ? STATUS_NOT_NEEDED : STATUS_READ_FAILED;
    int located = LocateRiffIn(source, block, blockBytes, place);
    if (located != LOCATE_FOUND)
        return located == LOCATE_NONE ? STATUS_BAD_FORMAT : STATUS_READ_FAILED;
    int collected = CollectDataChunks(source, place, NULL, NULL, &audioBytes);
    if (collected != COLLECT_DONE)
        return collected == COLLECT_REFUSED ? STATUS_BAD_FORMAT : STATUS_READ_FAILED;
    *unwrappedBytes = place->riffPos + audioBytes;
    return STATUS_CHECKING;
}

int StreamConversion(const ByteSource *source, const ByteSink *sink, unsigned char *block,
                     uint32_t blockBytes, int keepRiffTags, AnsiDecoder decode)
{
    RiffPlace place;
    RiffTags tags;
    uint64_t unwrappedBytes = 0;
    Copy copy = {source, sink, block, blockBytes, 0, STATUS_CHECKING, 0, 0, {0, 0, 0}};
    memset(&tags, 0, sizeof tags);
    int status = Examine(source, block, blockBytes, &place, &unwrappedBytes);
    if (status != STATUS_CHECKING)
        return status;
    /* A file that leads with a tag keeps it, and the search finds nothing. */
    if (keepRiffTags && place.tagLength == 0)
        status = FindTagsStreamed(source, &place, decode, &tags);
    if (status == STATUS_CHECKING)
        status = WriteOutput(&copy, &place, &tags, unwrappedBytes);
    FreeRiffTags(&tags);
    return status;
}
