/*
 * bench_unwrap.cpp: how much UnwrapRiff costs beyond the copies it has to do.
 *
 * On a 256 MiB RIFF/WAVE with one data chunk, UnwrapRiff is timed against the
 * bare work it stands for: a fresh buffer of the file's size, the copy of the
 * payload into it, the copy back, and the release. For reference, one memcpy
 * of the payload into an already-touched buffer is timed too. Then files of
 * one and two million small chunks show whether the chunk walk is linear.
 * Each figure is the best of several runs, each on a freshly restored input.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <vector>

#include "core/unwrap.h"

static double Now()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

/* Keeps the compiler from folding the bare copies into one move or dropping
 * the fresh buffer: the work must really be done, as UnwrapRiff does it. */
static void Escape(void *p)
{
    asm volatile("" : : "g"(p) : "memory");
}

static void Put32(unsigned char *p, uint32_t v)
{
    p[0] = (unsigned char)v, p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16), p[3] = (unsigned char)(v >> 24);
}

/* A WAVE whose chunks are each a data chunk of payloadBytes, or one chunk. */
static std::vector<unsigned char> MakeWave(uint32_t chunks, uint32_t payloadBytes)
{
    size_t size = 12 + (size_t)chunks * (8 + payloadBytes);
    std::vector<unsigned char> file(size + 1);
    memcpy(&file[0], "RIFF", 4);
    Put32(&file[4], (uint32_t)(size - 8));
    memcpy(&file[8], "WAVE", 4);
    unsigned char *p = &file[12];
    for (uint32_t i = 0; i < chunks; i++, p += 8 + payloadBytes) {
        memcpy(p, "data", 4);
        Put32(p + 4, payloadBytes);
        memset(p + 8, 0x5A + (i & 7), payloadBytes);
    }
    file[size] = LOADED_BUFFER_GUARD;
    return file;
}

static double TimeUnwrap(std::vector<unsigned char> &loaded,
                         const std::vector<unsigned char> &pristine, int runs)
{
    double best = 1e9;
    uint32_t size = (uint32_t)pristine.size() - 1;
    for (int i = 0; i < runs; i++) {
        memcpy(loaded.data(), pristine.data(), pristine.size());
        double start = Now();
        uint32_t length = UnwrapRiff(loaded.data(), size);
        double elapsed = Now() - start;
        if (length == 0) {
            fprintf(stderr, "UnwrapRiff failed\n");
            exit(1);
        }
        best = elapsed < best ? elapsed : best;
    }
    return best;
}

static double TimeBareWork(std::vector<unsigned char> &loaded,
                           const std::vector<unsigned char> &pristine, int runs)
{
    double best = 1e9;
    size_t size = pristine.size() - 1, payload = size - 20;
    for (int i = 0; i < runs; i++) {
        memcpy(loaded.data(), pristine.data(), pristine.size());
        double start = Now();
        unsigned char *work = (unsigned char *)malloc(size);
        Escape(work);
        memcpy(work, loaded.data() + 20, payload);
        Escape(work);
        memcpy(loaded.data(), work, payload);
        Escape(loaded.data());
        free(work);
        double elapsed = Now() - start;
        best = elapsed < best ? elapsed : best;
    }
    return best;
}

static double TimeTouchedMemcpy(std::vector<unsigned char> &loaded, int runs)
{
    size_t payload = loaded.size() - 21;
    std::vector<unsigned char> target(payload, 1);
    double best = 1e9;
    for (int i = 0; i < runs; i++) {
        double start = Now();
        memcpy(target.data(), loaded.data() + 20, payload);
        Escape(target.data());
        double elapsed = Now() - start;
        best = elapsed < best ? elapsed : best;
    }
    return best;
}

int main()
{
    const int runs = 7;
    std::vector<unsigned char> big = MakeWave(1, 256u * 1024 * 1024 - 20);
    std::vector<unsigned char> loaded(big.size());
    double unwrap = TimeUnwrap(loaded, big, runs);
    double bare = TimeBareWork(loaded, big, runs);
    double touched = TimeTouchedMemcpy(loaded, runs);
    printf("256 MiB, one data chunk:\n");
    printf("  UnwrapRiff            %8.1f ms\n", unwrap * 1e3);
    printf("  bare work             %8.1f ms   (fresh buffer, two copies, release)\n", bare * 1e3);
    printf("  memcpy, touched       %8.1f ms\n", touched * 1e3);
    printf("  ratio UnwrapRiff / bare work    %.3f   (target at most 1.15)\n", unwrap / bare);
    printf("  ratio UnwrapRiff / one memcpy   %.3f   (reference)\n", unwrap / touched);

    std::vector<unsigned char> one = MakeWave(1000000, 8), two = MakeWave(2000000, 8);
    std::vector<unsigned char> loadedOne(one.size()), loadedTwo(two.size());
    double tOne = TimeUnwrap(loadedOne, one, runs);
    double tTwo = TimeUnwrap(loadedTwo, two, runs);
    printf("small chunks (8-byte data payloads):\n");
    printf("  1,000,000 chunks      %8.1f ms\n", tOne * 1e3);
    printf("  2,000,000 chunks      %8.1f ms\n", tTwo * 1e3);
    printf("  ratio 2M / 1M                   %.3f   (target at most 2.3)\n", tTwo / tOne);
    return 0;
}
