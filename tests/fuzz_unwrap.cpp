/*
 * fuzz_unwrap.cpp: libFuzzer target for the unwrapping routines.
 *
 * The loaded buffer is exactly size + 1 bytes, so AddressSanitizer reports
 * any read past the guard. A straightforward model of the unwrapping, written
 * with 64-bit offsets and no in-place tricks, says what the output must be;
 * the real routine has to agree byte for byte and leave the guard alone.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <vector>

#include "core/unwrap.h"

static uint64_t Le32(const uint8_t *p)
{
    return p[0] | (uint64_t)p[1] << 8 | (uint64_t)p[2] << 16 | (uint64_t)p[3] << 24;
}

/* Returns false where the file can't be unwrapped. */
static bool ModelUnwrap(const uint8_t *data, uint64_t size, std::vector<uint8_t> &out)
{
    uint64_t pos = 0;
    if (size >= 3 && memcmp(data, "ID3", 3) == 0) {
        if (size < 10)
            return false;
        uint64_t tag = 10 + ((data[6] & 0x7Fu) << 21 | (data[7] & 0x7Fu) << 14 |
                             (data[8] & 0x7Fu) << 7 | (data[9] & 0x7Fu));
        if (tag > size)
            return false;
        out.assign(data, data + tag);
        pos = tag;
    }
    while (pos < size && data[pos] == 0)
        out.push_back(data[pos++]);
    if (pos + 12 > size || memcmp(data + pos, "RIFF", 4) != 0)
        return false;
    if (memcmp(data + pos + 8, "WAVE", 4) != 0 && memcmp(data + pos + 8, "RMP3", 4) != 0)
        return false;
    uint64_t end = pos + 8 + Le32(data + pos + 4);
    bool any = false, formatSeen = false;
    for (uint64_t chunk = pos + 12; chunk < end && chunk < size;) {
        if (chunk + 8 > size)
            return false;
        uint64_t n = Le32(data + chunk + 4);
        /* The first format chunk, when it holds a whole tag, must name MPEG. */
        if (!formatSeen && memcmp(data + chunk, "fmt ", 4) == 0) {
            formatSeen = true;
            if (n >= 2 && chunk + 10 <= size) {
                unsigned tag = data[chunk + 8] | data[chunk + 9] << 8;
                if (tag != 0x50 && tag != 0x55)
                    return false;
            }
        }
        if (memcmp(data + chunk, "data", 4) == 0) {
            if (chunk + 8 + n > size)
                return false;
            out.insert(out.end(), data + chunk + 8, data + chunk + 8 + n);
            any = any || n > 0;
        }
        chunk += 8 + n + (n & 1);
    }
    return any;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 0xFFFFFFFEu)
        return 0;
    uint8_t *loaded = (uint8_t *)malloc(size + 1);
    if (size > 0)
        memcpy(loaded, data, size);
    loaded[size] = LOADED_BUFFER_GUARD;

    NeedsConversion(loaded, (uint32_t)size);
    if (memcmp(loaded, data, size) != 0 || loaded[size] != LOADED_BUFFER_GUARD)
        abort(); /* recognition must not change the buffer */

    std::vector<uint8_t> expected;
    bool unwrappable = ModelUnwrap(data, size, expected);
    uint32_t length = UnwrapRiff(loaded, (uint32_t)size);
    if (length > size || loaded[size] != LOADED_BUFFER_GUARD)
        abort();
    if (unwrappable != (length != 0))
        abort();
    if (length != 0 && (expected.size() != length || memcmp(loaded, expected.data(), length) != 0))
        abort();
    free(loaded);
    return 0;
}
