/* riff_builder.cpp: byte-level construction of test files. */
#include "riff_builder.h"

#include <stdlib.h>
#include <string.h>

#include "core/unwrap.h"

Bytes Pattern(size_t count, unsigned seed)
{
    Bytes bytes(count);
    for (size_t i = 0; i < count; i++)
        bytes[i] = (unsigned char)((i * 31u + seed * 7u + (i >> 8)) | 1u);
    return bytes;
}

Bytes Frame(size_t count)
{
    Bytes frame = Pattern(count, 5);
    frame[0] = 0xFF;
    frame[1] = 0xFB;
    return frame;
}

Bytes Zeros(size_t count)
{
    return Bytes(count, 0);
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes joined;
    for (const Bytes &part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

void PutLE32(Bytes &bytes, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        bytes[offset + i] = (unsigned char)(value >> (8 * i));
}

static Bytes FourCC(const char *id)
{
    return Bytes(id, id + 4);
}

Bytes Id3Tag(uint32_t bodyBytes)
{
    Bytes tag = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0};
    tag[6] = (unsigned char)((bodyBytes >> 21) & 0x7F);
    tag[7] = (unsigned char)((bodyBytes >> 14) & 0x7F);
    tag[8] = (unsigned char)((bodyBytes >> 7) & 0x7F);
    tag[9] = (unsigned char)(bodyBytes & 0x7F);
    Bytes body = Pattern(bodyBytes, 99);
    tag.insert(tag.end(), body.begin(), body.end());
    return tag;
}

Bytes ChunkClaiming(const char *id, uint32_t declaredSize, const Bytes &payload)
{
    Bytes chunk = Join({FourCC(id), Zeros(4), payload});
    PutLE32(chunk, 4, declaredSize);
    return chunk;
}

Bytes Chunk(const char *id, const Bytes &payload, bool pad)
{
    Bytes chunk = ChunkClaiming(id, (uint32_t)payload.size(), payload);
    if (pad && payload.size() % 2 == 1)
        chunk.push_back(0);
    return chunk;
}

Bytes RiffClaiming(const char *form, uint32_t riffSize, const Bytes &chunks)
{
    Bytes riff = Join({FourCC("RIFF"), Zeros(4), FourCC(form), chunks});
    PutLE32(riff, 4, riffSize);
    return riff;
}

Bytes Riff(const char *form, const Bytes &chunks)
{
    return RiffClaiming(form, (uint32_t)(4 + chunks.size()), chunks);
}

Bytes ChunkPayload(const Bytes &riff, const char *id)
{
    for (size_t pos = 12; pos + 8 <= riff.size();) {
        uint32_t n = riff[pos + 4] | riff[pos + 5] << 8 | riff[pos + 6] << 16 |
                     (uint32_t)riff[pos + 7] << 24;
        if (memcmp(&riff[pos], id, 4) == 0)
            return n <= riff.size() - pos - 8
                       ? Bytes(riff.begin() + pos + 8, riff.begin() + pos + 8 + n)
                       : Bytes();
        pos += 8 + (size_t)n + (n & 1);
    }
    return Bytes();
}

Bytes Mp3FormatChunk()
{
    /* WAVEFORMATEX for MPEG Layer 3 (0x55), 2 channels, 44100 Hz, plus the
     * 12 bytes of MPEGLAYER3WAVEFORMAT. */
    Bytes fmt = {0x55, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x00, 0x7D,
                 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x01, 0x00,
                 0x02, 0x00, 0x00, 0x00, 0xA1, 0x01, 0x01, 0x00, 0x71, 0x05};
    return Chunk("fmt ", fmt);
}

static unsigned char *LoadedCopy(const Bytes &file)
{
    unsigned char *buffer = (unsigned char *)malloc(file.size() + 1);
    if (!file.empty())
        memcpy(buffer, file.data(), file.size());
    buffer[file.size()] = LOADED_BUFFER_GUARD;
    return buffer;
}

bool RunNeedsConversion(const Bytes &file)
{
    unsigned char *buffer = LoadedCopy(file);
    bool needs = NeedsConversion(buffer, (uint32_t)file.size());
    free(buffer);
    return needs;
}

uint32_t RunUnwrap(Bytes &file)
{
    unsigned char *buffer = LoadedCopy(file);
    uint32_t length = UnwrapRiff(buffer, (uint32_t)file.size());
    if (length > 0)
        file.assign(buffer, buffer + length);
    free(buffer);
    return length;
}
