/*
 * bench_memory.cpp: the peak resident memory of a process that converts one
 * wrapped file, so that a conversion's memory can be seen not to grow with
 * the file (scripts/bench.sh memory runs it once per size and compares).
 *
 *   bench_memory MIB
 *
 * Makes a RIFF/WAVE of MIB MiB in the temporary folder: the RIFF header, an
 * MPEG format chunk (tag 0x55) and a data chunk whose payload is one frame
 * header and then zeros. The file gets its length by having its end set, so
 * it is sparse and made at once even at GiB. Then ConvertFile on it, as the
 * program converts (tags kept, times not), and a check that the output is
 * the payload. Under Wine, whose process memory counters stay zero, the peak
 * resident size is the Linux process's own, VmHWM of its /proc/PID/status
 * read through Wine's Z: drive; it holds from the process's start, and
 * making the file takes a few KiB, so it is the conversion's peak. Elsewhere
 * the peak working set of the process counters stands in for it.
 */
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/convert.h"
#include "bench/bench_clock.h"

static const unsigned char kFrameHeader[4] = {0xFF, 0xFB, 0x90, 0x64};
static const ULONGLONG kHeaderBytes = 12 + 8 + 30 + 8; /* RIFF, fmt chunk, data header */

static void Put32(unsigned char *p, DWORD v)
{
    p[0] = (unsigned char)v, p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16), p[3] = (unsigned char)(v >> 24);
}

static void Fail(const char *what)
{
    fprintf(stderr, "bench_memory: %s (error %lu)\n", what, GetLastError());
    exit(1);
}

static void MakeWrappedFile(const wchar_t *path, ULONGLONG size)
{
    static const unsigned char fmt[30] = {
        0x55, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x00, 0x7D, 0x00, 0x00, 0x01, 0x00, 0x00,
        0x00, 0x0C, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0xA1, 0x01, 0x01, 0x00, 0x71, 0x05};
    unsigned char head[kHeaderBytes + sizeof kFrameHeader];
    memcpy(head, "RIFF", 4);
    Put32(head + 4, (DWORD)(size - 8));
    memcpy(head + 8, "WAVEfmt ", 8);
    Put32(head + 16, sizeof fmt);
    memcpy(head + 20, fmt, sizeof fmt);
    memcpy(head + 50, "data", 4);
    Put32(head + 54, (DWORD)(size - kHeaderBytes));
    memcpy(head + kHeaderBytes, kFrameHeader, sizeof kFrameHeader);
    HANDLE file =
        CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    LARGE_INTEGER end;
    end.QuadPart = (LONGLONG)size;
    if (file == INVALID_HANDLE_VALUE)
        Fail("cannot create the test file");
    if (!WriteFile(file, head, sizeof head, &written, NULL) || written != sizeof head)
        Fail("cannot write the test file's head");
    if (!SetFilePointerEx(file, end, NULL, FILE_BEGIN) || !SetEndOfFile(file))
        Fail("cannot give the test file its length");
    CloseHandle(file);
}

/* The value in kB of one line of a /proc/PID/status, or -1. */
static long long StatusKiB(const char *status, const char *name)
{
    const char *line = strstr(status, name);
    if (line == NULL)
        return -1;
    return _atoi64(line + strlen(name));
}

/* Reads a small file whole into text; false when it can't be opened. */
static bool ReadText(const wchar_t *path, char *text, DWORD room)
{
    DWORD total = 0, got = 0;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    while (total < room - 1 && ReadFile(file, text + total, room - 1 - total, &got, NULL) &&
           got > 0)
        total += got;
    CloseHandle(file);
    text[total] = 0;
    return true;
}

typedef HRESULT(WINAPI *ThreadDescriber)(HANDLE, PCWSTR);

/* The Linux process that runs this program, found by a name given to its
 * main thread, which Wine passes on to Linux; 0 where there is none. Wine's
 * server opens the files a program opens, so /proc/self would be the
 * server's own. */
static DWORD FindLinuxProcess()
{
    ThreadDescriber describe = (ThreadDescriber)(void *)GetProcAddress(
        GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription");
    wchar_t name[16], path[64];
    char wanted[16], comm[64];
    WIN32_FIND_DATAW found;
    DWORD pid = 0;
    _snwprintf(name, 16, L"kvmem%lu", GetCurrentProcessId());
    name[15] = 0;
    snprintf(wanted, sizeof wanted, "%ls\n", name);
    if (describe == NULL || FAILED(describe(GetCurrentThread(), name)))
        return 0;
    HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (found.cFileName[0] < L'0' || found.cFileName[0] > L'9')
            continue;
        _snwprintf(path, 64, L"Z:\\proc\\%ls\\comm", found.cFileName);
        path[63] = 0;
        if (ReadText(path, comm, sizeof comm) && strcmp(comm, wanted) == 0)
            pid = (DWORD)wcstoul(found.cFileName, NULL, 10);
    } while (pid == 0 && FindNextFileW(search, &found));
    FindClose(search);
    return pid;
}

/* Reads VmHWM (the peak) and VmRSS (now) of that Linux process. */
static bool LinuxResident(DWORD linuxPid, long long *peakKiB, long long *nowKiB)
{
    char status[16384];
    wchar_t path[64];
    _snwprintf(path, 64, L"Z:\\proc\\%lu\\status", linuxPid);
    path[63] = 0;
    if (linuxPid == 0 || !ReadText(path, status, sizeof status))
        return false;
    *peakKiB = StatusKiB(status, "\nVmHWM:");
    *nowKiB = StatusKiB(status, "\nVmRSS:");
    return *peakKiB > 0;
}

/* The peak and present resident size in KiB, and where they came from. */
static const char *Resident(DWORD linuxPid, long long *peakKiB, long long *nowKiB)
{
    if (LinuxResident(linuxPid, peakKiB, nowKiB))
        return "VmHWM of the Linux process";
    PROCESS_MEMORY_COUNTERS counters;
    memset(&counters, 0, sizeof counters);
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        Fail("no process memory counters");
    *peakKiB = (long long)(counters.PeakWorkingSetSize >> 10);
    *nowKiB = (long long)(counters.WorkingSetSize >> 10);
    return "peak working set of the process counters";
}

/* The output is the payload: the frame header, then zeros to its end. */
static void CheckOutput(const wchar_t *path, ULONGLONG size)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    unsigned char head[sizeof kFrameHeader];
    DWORD got = 0;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data))
        Fail("the converted file is gone");
    ULONGLONG length = ((ULONGLONG)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE || !ReadFile(file, head, sizeof head, &got, NULL))
        Fail("cannot read the converted file");
    CloseHandle(file);
    if (length != size - kHeaderBytes || got != sizeof head || memcmp(head, kFrameHeader, got))
        Fail("the converted file is not the payload");
}

int main(int argc, char **argv)
{
    long mib = argc == 2 ? atol(argv[1]) : 0;
    if (mib < 1 || mib > 4095) {
        fprintf(stderr, "usage: bench_memory MIB (1 to 4095)\n");
        return 2;
    }
    ULONGLONG size = (ULONGLONG)mib << 20;
    wchar_t dir[MAX_PATH], path[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    _snwprintf(path, MAX_PATH, L"%lsbench_memory.wav", dir);
    path[MAX_PATH - 1] = 0;

    MakeWrappedFile(path, size);
    DWORD linuxPid = FindLinuxProcess();
    long long peakBefore = 0, nowBefore = 0, peak = 0, now = 0;
    Resident(linuxPid, &peakBefore, &nowBefore);
    double start = Seconds();
    int status = ConvertFile(path, 0, 1);
    double seconds = Seconds() - start;
    const char *source = Resident(linuxPid, &peak, &now);
    if (status == STATUS_CONVERTED)
        CheckOutput(path, size);
    DeleteFileW(path);
    if (status != STATUS_CONVERTED) {
        fprintf(stderr, "bench_memory: ConvertFile on %ld MiB gave status %d (peak %.1f MiB)\n",
                mib, status, peak / 1024.0);
        return 1;
    }
    printf("  %5ld MiB file: converted in %.2f s; resident %.1f MiB before, peak %.1f MiB"
           " (%s) [peak KiB %lld]\n",
           mib, seconds, nowBefore / 1024.0, peak / 1024.0, source, peak);
    return 0;
}
