/*
 * fuzz_stream.cpp: libFuzzer target for the streamed conversion.
 *
 * The input is the file. StreamConversion reads it through a reader that
 * cuts counts short, and must write exactly what the loaded-buffer routines
 * make of it (UnwrapRiff, led by the tag FindRiffTags finds and ended by its
 * ID3v1 block), or refuse with their status. The same run is then made with
 * one read failing, and one write: the answer must be that failure, never
 * success. The loaded buffers are exactly size + 1 bytes, so AddressSanitizer
 * reports any read past the guard.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <vector>

#include "core/stream.h"
#include "core/unwrap.h"

typedef std::vector<unsigned char> Bytes;

static uint32_t DecodeLatin1(const unsigned char *text, uint32_t bytes, uint16_t *out,
                             uint32_t outUnits)
{
    uint32_t units = bytes < outUnits ? bytes : outUnits;
    for (uint32_t i = 0; i < units; i++)
        out[i] = text[i];
    return units;
}

static unsigned char *Loaded(const uint8_t *data, size_t size)
{
    unsigned char *loaded = (unsigned char *)malloc(size + 1);
    memcpy(loaded, data, size);
    loaded[size] = LOADED_BUFFER_GUARD;
    return loaded;
}

static int Expected(const uint8_t *data, uint32_t size, int keep, Bytes *out)
{
    unsigned char *loaded = Loaded(data, size);
    int status = STATUS_NOT_NEEDED;
    RiffTags tags;
    memset(&tags, 0, sizeof tags);
    if (NeedsConversion(loaded, size)) {
        status = STATUS_BAD_FORMAT;
        if (keep && !FindRiffTags(loaded, size, DecodeLatin1, &tags))
            abort();
        uint32_t length = UnwrapRiff(loaded, size);
        if (length != 0) {
            out->assign(tags.leading, tags.leading + tags.leadingBytes);
            out->insert(out->end(), loaded, loaded + length);
            bool endsWithBlock = length >= 128 && memcmp(loaded + length - 128, "TAG", 3) == 0;
            if (tags.hasTrailing && !endsWithBlock)
                out->insert(out->end(), tags.trailing, tags.trailing + 128);
            status = STATUS_CONVERTED;
        }
    }
    FreeRiffTags(&tags);
    free(loaded);
    return status;
}

struct Reader {
    const uint8_t *data;
    uint64_t size;
    uint32_t cut; /* counts above it come up short */
    int reads, failAt;
};

static uint32_t ReadShort(void *context, uint64_t offset, unsigned char *out, uint32_t count)
{
    Reader *reader = (Reader *)context;
    if (count == 0 || offset > reader->size || count > reader->size - offset)
        abort();
    if (++reader->reads == reader->failAt)
        return 0;
    uint32_t step = count > reader->cut ? reader->cut : count;
    memcpy(out, reader->data + offset, step);
    return step;
}

struct Sink {
    Bytes bytes;
    int writes, failAt;
};

static bool WriteSink(void *context, const unsigned char *bytes, uint32_t count)
{
    Sink *sink = (Sink *)context;
    if (++sink->writes == sink->failAt)
        return false;
    sink->bytes.insert(sink->bytes.end(), bytes, bytes + count);
    return true;
}

static int Stream(const uint8_t *data, size_t size, int keep, uint32_t blockBytes, uint32_t cut,
                  int failRead, int failWrite, Reader *reader, Sink *sink)
{
    *reader = {data, size, cut, 0, failRead};
    sink->bytes.clear();
    sink->writes = 0;
    sink->failAt = failWrite;
    ByteSource source = {ReadShort, reader, size};
    ByteSink out = {WriteSink, sink};
    unsigned char *block = (unsigned char *)malloc(blockBytes);
    int status = StreamConversion(&source, &out, block, blockBytes, keep, DecodeLatin1);
    free(block);
    return status;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    /* The last byte, when there is one, picks the block, the cut and the
     * option; the file is every byte. */
    unsigned knob = size > 0 ? data[size - 1] : 0;
    int keep = knob & 1;
    uint32_t blockBytes = (knob & 2) ? 16 : 4096 + (knob >> 4);
    uint32_t cut = 1 + (knob >> 2) * 7;
    Bytes expected;
    int status = Expected(data, (uint32_t)size, keep, &expected);
    Reader reader;
    Sink sink;
    if (Stream(data, size, keep, blockBytes, cut, 0, 0, &reader, &sink) != status)
        abort();
    if (status != STATUS_CONVERTED) {
        if (sink.writes != 0)
            abort();
        return 0;
    }
    if (sink.bytes != expected)
        abort();
    int reads = reader.reads, writes = sink.writes;
    Reader failedReader;
    Sink failedSink;
    if (Stream(data, size, keep, blockBytes, cut, 1 + (int)(knob % reads), 0, &failedReader,
               &failedSink) != STATUS_READ_FAILED)
        abort();
    if (Stream(data, size, keep, blockBytes, cut, 0, 1 + (int)(knob % writes), &failedReader,
               &failedSink) != STATUS_WRITE_FAILED)
        abort();
    return 0;
}
