/*
 * fuzz_head.cpp: libFuzzer target for the check that reads only a file's
 * head. Its verdict must be NeedsConversion's on the whole loaded buffer,
 * with small blocks and large, and it must never ask for a byte outside
 * the file or a read larger than its block.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

#include "core/unwrap.h"

struct Input {
    const uint8_t *data;
    size_t size;
    uint32_t blockBytes;
};

static uint32_t ReadInput(void *context, uint64_t offset, unsigned char *out, uint32_t count)
{
    const Input *input = (const Input *)context;
    if (count > input->blockBytes || offset > input->size || count > input->size - offset)
        abort();
    memcpy(out, input->data + offset, count);
    return count;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 0xFFFFFFFEu)
        return 0;
    uint8_t *loaded = (uint8_t *)malloc(size + 1);
    if (size > 0)
        memcpy(loaded, data, size);
    loaded[size] = LOADED_BUFFER_GUARD;
    int expected = NeedsConversion(loaded, (uint32_t)size) ? HEAD_NOT_PLAIN : HEAD_PLAIN;
    free(loaded);

    for (uint32_t blockBytes : {16u, 23u, 4096u}) {
        Input input = {data, size, blockBytes};
        unsigned char *block = (unsigned char *)malloc(blockBytes);
        int verdict = CheckHead(ReadInput, &input, size, block, blockBytes);
        free(block);
        if (verdict != expected)
            abort();
    }
    return 0;
}
