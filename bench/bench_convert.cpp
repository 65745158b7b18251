/*
 * bench_convert.cpp: what converting a file costs beyond the disk
 * work and the copies it can't avoid, and how much memory it takes.
 *
 * On a 256 MiB RIFF/WAVE with one data chunk, in the temporary folder:
 *  - ConvertFile on the file (times not kept), which streams the new
 *    content into a temporary beside it and puts that in its place;
 *  - the I/O floor: the same open, a read of the whole file into a fresh
 *    buffer, a write of the same byte count ConvertFile writes, at offset 0,
 *    the cut, the close and the release, with no unwrapping in between;
 *  - the bare work of unwrapping: a fresh buffer of the file's size, the copy
 *    of the payload into it, the copy back, the release.
 * ConvertFile is held against floor plus bare work (target at most 1.15).
 * Each round restores the wrapped file (flushed to disk) before each timed
 * part and measures all three; the median of the rounds' ratios is judged,
 * since single runs vary a lot with the machine's other work. Peak memory
 * is read from the process counters around the first ConvertFile, before
 * anything else large was allocated, and compared with the file size
 * (target at most twice the size + 1 MiB). ConvertFile keeps the RIFF's
 * tags, as the program does by default; this file has none.
 *
 * The same size as an RMP3 whose LIST/INFO (a title and an artist) follows
 * the audio: the tag made from it is longer than the 20 bytes before the
 * audio. The conversion streams into a new file either way, so the longer
 * tag costs nothing but its bytes: the aim is that it takes no longer than
 * the plain WAVE of the same round, converted just before it, judged on the
 * middle of the rounds' ratios (at most 1.0).
 */
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/convert.h"
#include "bench/bench_clock.h"

static const DWORD kFileBytes = 256u << 20;
static const DWORD kHeaderBytes = 12 + 8 + 30 + 8; /* RIFF, fmt chunk, data header */
static const DWORD kPayloadBytes = kFileBytes - kHeaderBytes;
static const DWORD kBlockBytes = 4u << 20;
static const int kRounds = 11;

/* Keeps the compiler from folding the bare copies together or dropping the
 * fresh buffer: the work must really be done. */
static void Escape(void *p)
{
    asm volatile("" : : "g"(p) : "memory");
}

static void Put32(unsigned char *p, DWORD v)
{
    p[0] = (unsigned char)v, p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16), p[3] = (unsigned char)(v >> 24);
}

static void Fail(const char *what)
{
    fprintf(stderr, "bench_convert: %s (error %lu)\n", what, GetLastError());
    exit(1);
}

static void FillPayload(unsigned char *block, DWORD from, DWORD to)
{
    for (DWORD i = from; i < to; i++)
        block[i] = (unsigned char)(i * 31u + (i >> 9));
}

static void WriteAll(HANDLE file, const void *bytes, DWORD count)
{
    DWORD written = 0;
    if (!WriteFile(file, bytes, count, &written, NULL) || written != count)
        Fail("cannot write the test file");
}

/* An RMP3 of kFileBytes: 20 bytes of headers, the audio, then its list. */
static void WriteTaggedRmp3(const wchar_t *path)
{
    static const unsigned char list[] = "LIST\x2a\0\0\0INFOINAM\x0c\0\0\0Bench title\0"
                                        "IART\x0a\0\0\0Korvane\0\0\0";
    const DWORD listBytes = sizeof list - 1;
    const DWORD audioBytes = kFileBytes - 20 - listBytes;
    unsigned char *block = (unsigned char *)malloc(kBlockBytes);
    HANDLE file =
        CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (block == NULL || file == INVALID_HANDLE_VALUE)
        Fail("cannot create the tagged file");
    unsigned char head[20];
    memcpy(head, "RIFF", 4);
    Put32(head + 4, kFileBytes - 8);
    memcpy(head + 8, "RMP3data", 8);
    Put32(head + 16, audioBytes);
    WriteAll(file, head, sizeof head);
    FillPayload(block, 0, kBlockBytes);
    block[0] = 0xFF, block[1] = 0xFB;
    for (DWORD done = 0; done < audioBytes;) {
        DWORD step = audioBytes - done < kBlockBytes ? audioBytes - done : kBlockBytes;
        WriteAll(file, block, step);
        done += step;
    }
    WriteAll(file, list, listBytes);
    FlushFileBuffers(file);
    CloseHandle(file);
    free(block);
}

/* Writes the wrapped file block by block, so that making it never holds
 * more than one block in memory and the memory peak stays ConvertFile's. */
static void WriteWrappedFile(const wchar_t *path)
{
    static const unsigned char fmt[30] = {
        0x55, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x00, 0x7D, 0x00, 0x00, 0x01, 0x00, 0x00,
        0x00, 0x0C, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0xA1, 0x01, 0x01, 0x00, 0x71, 0x05};
    unsigned char *block = (unsigned char *)malloc(kBlockBytes);
    HANDLE file =
        CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (block == NULL || file == INVALID_HANDLE_VALUE)
        Fail("cannot create the test file");
    FillPayload(block, 0, kBlockBytes);
    memcpy(block, "RIFF", 4);
    Put32(block + 4, kFileBytes - 8);
    memcpy(block + 8, "WAVEfmt ", 8);
    Put32(block + 16, sizeof fmt);
    memcpy(block + 20, fmt, sizeof fmt);
    memcpy(block + 50, "data", 4);
    Put32(block + 54, kPayloadBytes);
    block[58] = 0xFF, block[59] = 0xFB;
    for (DWORD done = 0; done < kFileBytes; done += kBlockBytes) {
        DWORD written = 0;
        if (!WriteFile(file, block, kBlockBytes, &written, NULL) || written != kBlockBytes)
            Fail("cannot write the test file");
        FillPayload(block, 0, kHeaderBytes + 2); /* later blocks: payload only */
    }
    /* On disk before the timing starts, so that no write-back of it runs
     * alongside the measured work. */
    FlushFileBuffers(file);
    CloseHandle(file);
    free(block);
}

static double TimeConvert(const wchar_t *path)
{
    double start = Seconds();
    int status = ConvertFile(path, 0, 1);
    double elapsed = Seconds() - start;
    if (status != STATUS_CONVERTED)
        Fail("ConvertFile did not convert the file");
    return elapsed;
}

/* ConvertFile's disk work without the unwrapping. */
static double TimeFloor(const wchar_t *path)
{
    double start = Seconds();
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        Fail("floor: cannot open");
    LARGE_INTEGER size;
    DWORD read = 0, written = 0;
    if (!GetFileSizeEx(file, &size))
        Fail("floor: no size");
    unsigned char *buffer = (unsigned char *)malloc((size_t)size.LowPart + 1);
    if (buffer == NULL)
        Fail("floor: no memory");
    if (!ReadFile(file, buffer, size.LowPart, &read, NULL) || read != size.LowPart)
        Fail("floor: short read");
    if (SetFilePointer(file, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        Fail("floor: cannot seek");
    if (!WriteFile(file, buffer, kPayloadBytes, &written, NULL) || written != kPayloadBytes)
        Fail("floor: short write");
    if (!SetEndOfFile(file))
        Fail("floor: cannot cut");
    CloseHandle(file);
    free(buffer);
    return Seconds() - start;
}

static double TimeBareWork(unsigned char *loaded)
{
    double start = Seconds();
    unsigned char *work = (unsigned char *)malloc(kFileBytes);
    if (work == NULL)
        Fail("bare work: no memory");
    Escape(work);
    memcpy(work, loaded + kHeaderBytes, kPayloadBytes);
    Escape(work);
    memcpy(loaded, work, kPayloadBytes);
    Escape(loaded);
    free(work);
    return Seconds() - start;
}

static PROCESS_MEMORY_COUNTERS Counters()
{
    PROCESS_MEMORY_COUNTERS counters;
    memset(&counters, 0, sizeof counters);
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        Fail("no process memory counters");
    return counters;
}

static double MiB(double bytes)
{
    return bytes / (1024.0 * 1024.0);
}

static int CompareDoubles(const void *a, const void *b)
{
    double x = *(const double *)a, y = *(const double *)b;
    return x < y ? -1 : x > y;
}

static double Median(const double *values, int count)
{
    double sorted[kRounds];
    memcpy(sorted, values, count * sizeof *values);
    qsort(sorted, count, sizeof *sorted, CompareDoubles);
    return sorted[count / 2];
}

static double Min(const double *values, int count)
{
    double best = values[0];
    for (int i = 1; i < count; i++)
        best = values[i] < best ? values[i] : best;
    return best;
}

int main()
{
    wchar_t dir[MAX_PATH], path[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    _snwprintf(path, MAX_PATH, L"%lsbench_convert.wav", dir);
    path[MAX_PATH - 1] = 0;

    double convert[kRounds], floorTime[kRounds], bare[kRounds], tagged[kRounds];
    LARGE_INTEGER taggedSize = {};
    PROCESS_MEMORY_COUNTERS before, after;
    unsigned char *loaded = NULL;
    for (int round = 0; round < kRounds; round++) {
        WriteWrappedFile(path);
        if (round == 0)
            before = Counters();
        convert[round] = TimeConvert(path);
        if (round == 0) {
            after = Counters();
            /* Only now the source of the bare copies, so that it never
             * counts towards ConvertFile's peak. */
            loaded = (unsigned char *)malloc(kFileBytes + 1);
            if (loaded == NULL)
                Fail("no memory for the bare work");
            memset(loaded, 0x5A, kFileBytes + 1);
        }
        /* Right after the plain WAVE, in the same state of the machine: the
         * floor leaves 256 MiB of unflushed writes behind, whose write-back
         * would run alongside whatever is timed next. */
        WriteTaggedRmp3(path);
        tagged[round] = TimeConvert(path);
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExW(path, GetFileExInfoStandard, &data))
            taggedSize.HighPart = (LONG)data.nFileSizeHigh, taggedSize.LowPart = data.nFileSizeLow;
        WriteWrappedFile(path);
        floorTime[round] = TimeFloor(path);
        bare[round] = TimeBareWork(loaded);
    }
    DeleteFileW(path);
    free(loaded);

    double ratio[kRounds];
    printf("256 MiB RIFF/WAVE, one data chunk, %d rounds (ms):\n", kRounds);
    printf("  round   ConvertFile    floor   bare work   ratio\n");
    for (int i = 0; i < kRounds; i++) {
        ratio[i] = convert[i] / (floorTime[i] + bare[i]);
        printf("  %5d   %11.1f %8.1f %11.1f   %.3f\n", i + 1, convert[i] * 1e3, floorTime[i] * 1e3,
               bare[i] * 1e3, ratio[i]);
    }
    double bestConvert = Min(convert, kRounds), bestFloor = Min(floorTime, kRounds);
    double bestBare = Min(bare, kRounds);
    printf("  best    %11.1f %8.1f %11.1f\n", bestConvert * 1e3, bestFloor * 1e3, bestBare * 1e3);
    printf("  ConvertFile / (floor + bare work), median of rounds  %.3f   (target at most 1.15)\n",
           Median(ratio, kRounds));
    printf("  ConvertFile / (floor + bare work), best of each      %.3f\n",
           bestConvert / (bestFloor + bestBare));
    double taggedRatio[kRounds];
    for (int i = 0; i < kRounds; i++)
        taggedRatio[i] = tagged[i] / convert[i];
    double taggedMiddle = Median(taggedRatio, kRounds);
    printf("an RMP3 whose LIST/INFO follows the audio (the tag is longer than what leads it):\n");
    printf("  ConvertFile, middle of rounds %.1f ms; file %lld bytes, %lld more than the audio\n",
           Median(tagged, kRounds) * 1e3, (long long)taggedSize.QuadPart,
           (long long)taggedSize.QuadPart - (long long)(kFileBytes - 20 - 50));
    printf("  / the plain WAVE's, middle of the rounds  %.3f   (aim at most 1.0): %s\n",
           taggedMiddle, taggedMiddle <= 1.0 ? "met" : "not met");

    double size = kFileBytes;
    double peakWorking = (double)after.PeakWorkingSetSize - (double)before.WorkingSetSize;
    double peakPrivate = (double)after.PeakPagefileUsage - (double)before.PagefileUsage;
    printf("memory around the first ConvertFile (MiB; file %.1f):\n", MiB(size));
    printf("  working set      before %8.1f   peak after %8.1f   peak - before %8.1f\n",
           MiB(before.WorkingSetSize), MiB(after.PeakWorkingSetSize), MiB(peakWorking));
    printf("  private bytes    before %8.1f   peak after %8.1f   peak - before %8.1f\n",
           MiB(before.PagefileUsage), MiB(after.PeakPagefileUsage), MiB(peakPrivate));
    /* Windows counts heap blocks in private bytes even before they are
     * touched; Wine reports little there, but its working set follows the
     * touched pages. The larger rise of the two is judged. */
    double peak = peakWorking > peakPrivate ? peakWorking : peakPrivate;
    /* The copy goes through one block of 1 MiB, whatever the file's size. */
    printf("  peak rise %.1f MiB = %.3f x file size; limit 8 MiB: %s\n", MiB(peak), peak / size,
           peak <= 8.0 * (1 << 20) ? "met" : "missed");
    return 0;
}
