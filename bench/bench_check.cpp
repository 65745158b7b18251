/*
 * bench_check.cpp: what it costs to find that a plain MP3 needs nothing.
 *
 * A user drops a whole music library to fix the few wrapped songs in it, or
 * runs again over a converted one: most files are plain MP3s, and their
 * verdict should cost the same whatever their size. ConvertFile runs over
 * 40 plain MP3s of 64 KiB and 40 of 64 MiB, each a frame sync at its head
 * and a hole behind it (sparse), so that the disk's own speed stays out of
 * the figures and only the work of the check is timed. Five rounds; the
 * aim, judged on the middle of the rounds' ratios: per file, a large one
 * takes at most 1.5 times a small one.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/convert.h"
#include "bench/bench_clock.h"

static const int kFiles = 40;
static const int kRounds = 5;
static const LONGLONG kSmallBytes = 64 << 10;
static const LONGLONG kLargeBytes = 64 << 20;

static void Fail(const char *what)
{
    fprintf(stderr, "bench_check: %s (error %lu)\n", what, GetLastError());
    exit(1);
}

/* A plain MP3 of size bytes: frame headers in its first 4 KiB, a hole after. */
static void WritePlainFile(const wchar_t *path, LONGLONG size)
{
    unsigned char head[4096];
    for (size_t i = 0; i < sizeof head; i++)
        head[i] = (unsigned char)(i * 31u + 7);
    for (size_t i = 0; i + 4 <= sizeof head; i += 417)
        head[i] = 0xFF, head[i + 1] = 0xFB, head[i + 2] = 0x90, head[i + 3] = 0x64;
    HANDLE file =
        CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        Fail("cannot create a test file");
    DWORD unused = 0, written = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, NULL, 0, NULL, 0, &unused, NULL);
    LARGE_INTEGER end;
    end.QuadPart = size;
    if (!WriteFile(file, head, sizeof head, &written, NULL) || written != sizeof head ||
        !SetFilePointerEx(file, end, NULL, FILE_BEGIN) || !SetEndOfFile(file))
        Fail("cannot write a test file");
    CloseHandle(file);
}

static void FilePath(wchar_t *path, const wchar_t *dir, const wchar_t *kind, int i)
{
    _snwprintf(path, MAX_PATH, L"%ls\\%ls-%02d.mp3", dir, kind, i);
    path[MAX_PATH - 1] = 0;
}

/* Seconds per file for ConvertFile over the set. */
static double TimeSet(const wchar_t *dir, const wchar_t *kind)
{
    wchar_t path[MAX_PATH];
    double start = Seconds();
    for (int i = 0; i < kFiles; i++) {
        FilePath(path, dir, kind, i);
        if (ConvertFile(path, 0) != STATUS_NOT_NEEDED)
            Fail("a plain file was not found plain");
    }
    return (Seconds() - start) / kFiles;
}

static int CompareDoubles(const void *a, const void *b)
{
    double x = *(const double *)a, y = *(const double *)b;
    return x < y ? -1 : x > y;
}

int main()
{
    wchar_t temp[MAX_PATH], dir[MAX_PATH], path[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    _snwprintf(dir, MAX_PATH, L"%lsbench_check", temp);
    dir[MAX_PATH - 1] = 0;
    CreateDirectoryW(dir, NULL);
    for (int i = 0; i < kFiles; i++) {
        FilePath(path, dir, L"small", i);
        WritePlainFile(path, kSmallBytes);
        FilePath(path, dir, L"large", i);
        WritePlainFile(path, kLargeBytes);
    }

    double small[kRounds], large[kRounds], ratio[kRounds];
    printf("ConvertFile over %d plain MP3s of 64 KiB and %d of 64 MiB (sparse), %d rounds\n",
           kFiles, kFiles, kRounds);
    printf("  round   64 KiB (ms/file)   64 MiB (ms/file)   ratio\n");
    for (int round = 0; round < kRounds; round++) {
        small[round] = TimeSet(dir, L"small");
        large[round] = TimeSet(dir, L"large");
        ratio[round] = large[round] / small[round];
        printf("  %5d   %16.3f   %16.3f   %.2f\n", round + 1, small[round] * 1e3,
               large[round] * 1e3, ratio[round]);
    }
    for (int i = 0; i < kFiles; i++) {
        FilePath(path, dir, L"small", i);
        DeleteFileW(path);
        FilePath(path, dir, L"large", i);
        DeleteFileW(path);
    }
    RemoveDirectoryW(dir);

    qsort(ratio, kRounds, sizeof *ratio, CompareDoubles);
    double middle = ratio[kRounds / 2];
    printf("  64 MiB / 64 KiB per file, middle of the rounds  %.2f   (aim at most 1.5): %s\n",
           middle, middle <= 1.5 ? "met" : "not met");
    return 0;
}
