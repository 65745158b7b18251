/*
 * cutoff_test.cpp: a conversion stopped at any instant (a crash, Task
 * Manager, a shutdown) leaves the file at its path whole: byte for byte the
 * original or the converted content, never a mix of the two.
 *
 * The same program, started with a child-mode argument, converts a file of
 * tens of MiB as the program does, and is terminated at chosen instants:
 * after fixed shares of a conversion's time, and at instants found by
 * watching the file and its folder, since those are the ones that land
 * while it writes whatever way the conversion writes (over the file, or
 * into a new file beside it that then takes the file's place): the first
 * change of either, a new file grown to the result's size, and any moment
 * when no file stands at the path, as between the two steps of a
 * replacement that moves the old file away before it moves the new one in.
 * A leftover hidden .tmp file beside it is allowed, as the guide tells
 * users it may be deleted. A child that ran to completion before its
 * instant must have left the converted content.
 * Starting a child under Wine takes a few tenths of a second, so the rounds
 * are few.
 */
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <string.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/convert.h"
#include "test_files.h"

namespace
{

const wchar_t kChildFlag[] = L"--convert-until-killed";
const DWORD kKilledExit = 77;
const size_t kAudioBytes = 32u << 20;
const size_t kHeadBytes = 64;

/* ---- The child ---- */

/* Tells the parent it starts now, so that the instants count from the
 * conversion's start and not from the process's, whose start varies. */
int RunChild(const wchar_t *path, const wchar_t *eventName)
{
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName);
    if (ready == NULL)
        return 90;
    SetEvent(ready);
    CloseHandle(ready);
    return ConvertFile(path, 0, 1);
}

/* ---- What the parent watches ---- */

struct Observation {
    bool exists;
    ULONGLONG size;
    FILETIME written;
    Bytes head;
    int others;             /* entries of the folder besides the file */
    ULONGLONG largestOther; /* the size of the largest of them */
};

void ObserveFolder(const std::wstring &dir, const std::wstring &name, Observation *seen)
{
    WIN32_FIND_DATAW found;
    seen->others = 0;
    seen->largestOther = 0;
    HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!wcscmp(found.cFileName, L".") || !wcscmp(found.cFileName, L"..") ||
            !_wcsicmp(found.cFileName, name.c_str()))
            continue;
        seen->others++;
        ULONGLONG size = ((ULONGLONG)found.nFileSizeHigh << 32) | found.nFileSizeLow;
        if (size > seen->largestOther)
            seen->largestOther = size;
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

Observation Observe(const std::wstring &dir, const std::wstring &name)
{
    std::wstring path = dir + L"\\" + name;
    Observation seen = {};
    WIN32_FILE_ATTRIBUTE_DATA data;
    seen.exists = GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) != 0;
    if (seen.exists) {
        seen.size = ((ULONGLONG)data.nFileSizeHigh << 32) | data.nFileSizeLow;
        seen.written = data.ftLastWriteTime;
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD read = 0;
        seen.head.resize(kHeadBytes);
        if (!ReadFile(file, seen.head.data(), (DWORD)kHeadBytes, &read, NULL))
            read = 0;
        seen.head.resize(read);
        CloseHandle(file);
    }
    ObserveFolder(dir, name, &seen);
    return seen;
}

/* Any write to the file (its time, size or head) or any new file beside it. */
bool Changed(const Observation &a, const Observation &b)
{
    return a.exists != b.exists || a.size != b.size ||
           CompareFileTime(&a.written, &b.written) != 0 || a.head != b.head || a.others != b.others;
}

/* ---- The instants ---- */

enum Trigger {
    NEVER,            /* the child runs to its end, which times it */
    FROM_START,       /* the child's conversion starts */
    FIRST_WRITE,      /* the first change of the file or its folder */
    FULL_SIZED_OTHER, /* a new file beside it has the result's size */
    PATH_GONE,        /* no file stands at the path, if only for a moment */
};

struct Instant {
    const char *name;
    Trigger trigger;
    double share; /* of one conversion's time, waited after the trigger */
    DWORD extraMs;
};

/* The shares are of the first round's time: a conversion in a fresh child
 * takes a steadier time than the first one in this process. */
const Instant kInstants[] = {
    {"not stopped", NEVER, 0.0, 0},
    {"start", FROM_START, 0.0, 0},
    {"start + 20%", FROM_START, 0.2, 0},
    {"start + 40%", FROM_START, 0.4, 0},
    {"start + 60%", FROM_START, 0.6, 0},
    {"start + 80%", FROM_START, 0.8, 0},
    {"start + 95%", FROM_START, 0.95, 0},
    {"first write", FIRST_WRITE, 0.0, 0},
    {"first write + 2 ms", FIRST_WRITE, 0.0, 2},
    {"first write + 10%", FIRST_WRITE, 0.1, 0},
    {"first write + 25%", FIRST_WRITE, 0.25, 0},
    {"full new file", FULL_SIZED_OTHER, 0.0, 0},
    {"full new file + 2 ms", FULL_SIZED_OTHER, 0.0, 2},
    {"full new file + 10%", FULL_SIZED_OTHER, 0.1, 0},
    {"path empty", PATH_GONE, 0.0, 0},
};

/* ---- One round ---- */

struct Case {
    std::wstring dir, name, path;
    Bytes original, expected;
    double seconds;  /* one conversion */
    bool hiddenKept; /* whether this file system keeps the hidden attribute */
};

double Seconds()
{
    static LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

bool EndsWithTmp(const wchar_t *name)
{
    size_t length = wcslen(name);
    return length >= 4 && !_wcsicmp(name + length - 4, L".tmp");
}

/* What a file beside the original holds, in words. */
std::string Holds(const Case &c, const std::wstring &path, ULONGLONG size)
{
    if (size == 0)
        return "empty";
    Bytes bytes = ReadBytes(path);
    if (bytes == c.original)
        return "the original";
    if (bytes == c.expected)
        return "the result";
    return std::to_string(size) + " other bytes";
}

/* Removes whatever stands beside the file, and says what it was in *seen;
 * returns what of it is not a leftover the conversion may leave. */
std::string ClearLeftovers(const Case &c, int *leftovers, std::string *seen)
{
    std::string wrong;
    WIN32_FIND_DATAW found;
    *leftovers = 0;
    HANDLE search = FindFirstFileW((c.dir + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return wrong;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L".." || !_wcsicmp(name.c_str(), c.name.c_str()))
            continue;
        std::wstring path = c.dir + L"\\" + name;
        /* Under Wine a file is made first and marked after: killed in
         * between, it is left empty and unmarked. */
        bool hidden = (found.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
        ULONGLONG size = ((ULONGLONG)found.nFileSizeHigh << 32) | found.nFileSizeLow;
        std::string holds = Holds(c, path, size);
        std::string what =
            " " + Narrow(name) + (hidden ? " (hidden, " : " (not hidden, ") + holds + ")";
        *seen += what;
        /* Whole and flushed, the temporary takes the file's own attributes
         * right before it is renamed over the file: killed in between, it
         * is left unmarked, holding the result. */
        bool unmarkedResult = holds == "the result";
        if (!EndsWithTmp(name.c_str()) || (c.hiddenKept && !hidden && size > 0 && !unmarkedResult))
            wrong += what;
        else
            ++*leftovers;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return wrong;
}

bool SameSlice(const Bytes &a, size_t aFrom, const Bytes &b, size_t bFrom, size_t count)
{
    return aFrom + count <= a.size() && bFrom + count <= b.size() &&
           memcmp(a.data() + aFrom, b.data() + bFrom, count) == 0;
}

/* "original", "result", or what the file is instead. */
std::string Verdict(const Case &c, const Bytes &now, bool exists)
{
    if (!exists)
        return "missing";
    if (now == c.original)
        return "original";
    if (now == c.expected)
        return "result";
    const size_t probe = 4096;
    bool newHead = SameSlice(now, 0, c.expected, 0, probe);
    bool oldHead = SameSlice(now, 0, c.original, 0, probe);
    bool oldTail = now.size() >= probe &&
                   SameSlice(now, now.size() - probe, c.original, c.original.size() - probe, probe);
    std::string size = now.size() == c.original.size()   ? "old size"
                       : now.size() == c.expected.size() ? "new size"
                                                         : std::to_string(now.size()) + " bytes";
    return "neither: " + size +
           (newHead   ? " with new head"
            : oldHead ? " with old head"
                      : "") +
           (oldTail ? ", old tail" : "");
}

/* Until the file and its folder stay as they are: a killed process's last
 * write may still be finishing when its handle is signalled. */
void WaitUntilSettled(const Case &c)
{
    Observation last = Observe(c.dir, c.name);
    for (int i = 0; i < 40; i++) {
        Sleep(50);
        Observation now = Observe(c.dir, c.name);
        if (!Changed(last, now))
            return;
        last = now;
    }
}

/* Waits for the round's instant; returns false when the child ended first. */
/* Looks only at whether the path names a file, as often as can be: a
 * replacement made in two steps (the old file moved away, the new one moved
 * in) leaves the path empty for well under a millisecond. */
bool WaitForEmptyPath(const Case &c, HANDLE process, double start)
{
    for (unsigned i = 1;; i++) {
        if (GetFileAttributesW(c.path.c_str()) == INVALID_FILE_ATTRIBUTES)
            return true;
        if (i % 64 == 0 &&
            (WaitForSingleObject(process, 0) == WAIT_OBJECT_0 || Seconds() - start > 60))
            return false;
    }
}

bool WaitForInstant(const Case &c, const Instant &at, HANDLE process, double start,
                    const Observation &before)
{
    if (at.trigger == NEVER)
        return WaitForSingleObject(process, 60000) != WAIT_OBJECT_0;
    if (at.trigger == PATH_GONE)
        return WaitForEmptyPath(c, process, start);
    if (at.trigger != FROM_START) {
        for (;;) {
            if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0)
                return false;
            Observation now = Observe(c.dir, c.name);
            if (at.trigger == FIRST_WRITE ? Changed(before, now)
                                          : now.largestOther >= c.expected.size())
                break;
            if (Seconds() - start > 60)
                return true;
        }
    }
    double waitMs = at.share * c.seconds * 1000 + at.extraMs;
    if (waitMs >= 1)
        return WaitForSingleObject(process, (DWORD)waitMs) != WAIT_OBJECT_0;
    return true;
}

struct Outcome {
    std::string verdict;
    bool ok;
    double ms; /* from the conversion's start to the kill or the child's end */
};

/* Starts the child, waits for its conversion to start and then for the
 * instant, and kills it there; returns when it has ended, with its exit code
 * in *exitCode and in *ms the time from the conversion's start to the kill,
 * or to its end when it ended first (*killed false). False when it never
 * started converting. */
bool StopChildAt(const Case &c, const Instant &at, int round, DWORD *exitCode, bool *killed,
                 double *ms)
{
    wchar_t exe[MAX_PATH], eventName[64];
    GetModuleFileNameW(NULL, exe, MAX_PATH);
    _snwprintf(eventName, 64, L"korvane-cutoff-%lu-%d", GetCurrentProcessId(), round);
    eventName[63] = 0;
    std::wstring commandLine =
        std::wstring(L"\"") + exe + L"\" " + kChildFlag + L" \"" + c.path + L"\" " + eventName;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    bool converting = false;
    *killed = false;
    *exitCode = 0;
    Observation before = Observe(c.dir, c.name);
    HANDLE ready = CreateEventW(NULL, TRUE, FALSE, eventName);
    if (ready != NULL &&
        CreateProcessW(exe, &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &child)) {
        HANDLE started[2] = {ready, child.hProcess};
        converting = WaitForMultipleObjects(2, started, FALSE, 30000) == WAIT_OBJECT_0;
        double start = Seconds();
        if (!converting || WaitForInstant(c, at, child.hProcess, start, before))
            *killed = TerminateProcess(child.hProcess, kKilledExit) != 0;
        *ms = (Seconds() - start) * 1000;
        WaitForSingleObject(child.hProcess, 30000);
        if (!*killed)
            *ms = (Seconds() - start) * 1000;
        GetExitCodeProcess(child.hProcess, exitCode);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
    }
    if (ready != NULL)
        CloseHandle(ready);
    return converting;
}

Outcome RunRound(const Case &c, const Instant &at, int round)
{
    Outcome out = {"", false, 0};
    DWORD exitCode;
    bool killed;
    if (!StopChildAt(c, at, round, &exitCode, &killed, &out.ms))
        out.verdict = "the child did not start converting; ";
    WaitUntilSettled(c);

    bool exists = FileExists(c.path);
    std::string verdict = Verdict(c, ReadBytes(c.path), exists);
    int leftovers = 0;
    std::string seen, wrong = ClearLeftovers(c, &leftovers, &seen);
    bool ranThrough = !killed || exitCode != kKilledExit;
    char text[160];
    if (ranThrough)
        snprintf(text, sizeof text, "ran to completion in %.1f ms (status %lu): ", out.ms,
                 exitCode);
    else
        snprintf(text, sizeof text, "killed %.1f ms after the start: ", out.ms);
    out.ok = out.verdict.empty() && wrong.empty() &&
             (ranThrough ? exitCode == STATUS_CONVERTED && verdict == "result"
                         : verdict == "original" || verdict == "result");
    out.verdict += text + verdict;
    if (!wrong.empty())
        out.verdict += "; not to be left beside it:" + wrong;
    else if (leftovers > 0)
        out.verdict += "; left beside it:" + seen;
    return out;
}

bool HiddenAttributeKept(const std::wstring &dir)
{
    std::wstring probe = dir + L"\\hidden-probe";
    HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_HIDDEN, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    DWORD attributes = GetFileAttributesW(probe.c_str());
    SetFileAttributesW(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(probe.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN);
}

/* The expected result is what this same build's conversion makes of a copy
 * in this process, so the test holds whichever way the conversion writes. */
void PrepareCase(const wchar_t *folder, const wchar_t *name, const Bytes &original, Case *c)
{
    c->dir = FreshDir(folder);
    c->name = name;
    c->path = c->dir + L"\\" + name;
    c->original = original;
    c->hiddenKept = HiddenAttributeKept(c->dir);
    std::wstring copy = FreshDir(std::wstring(folder) + L"-copy") + L"\\" + name;
    ASSERT_TRUE(WriteBytes(copy, original));
    double start = Seconds();
    ASSERT_EQ(ConvertFile(copy.c_str(), 0, 1), STATUS_CONVERTED);
    c->seconds = Seconds() - start;
    c->expected = ReadBytes(copy);
    ASSERT_FALSE(c->expected.empty());
    ASSERT_NE(c->expected, original);
    RemoveTree(copy.substr(0, copy.rfind(L'\\')));
    ASSERT_TRUE(WriteBytes(c->path, original));
}

void RunAllRounds(Case &c)
{
    printf("%s: %lu bytes, result %lu bytes, one conversion here %.1f ms, hidden attribute %s\n",
           Narrow(c.name).c_str(), (unsigned long)c.original.size(),
           (unsigned long)c.expected.size(), c.seconds * 1000,
           c.hiddenKept ? "kept" : "not kept here");
    int round = 0, failed = 0, killed = 0, neither = 0;
    for (const Instant &at : kInstants) {
        Outcome out = RunRound(c, at, round++);
        printf("  %-22s %s\n", at.name, out.verdict.c_str());
        fflush(stdout);
        EXPECT_TRUE(out.ok) << at.name << ": " << out.verdict;
        failed += !out.ok;
        neither += out.verdict.find(": neither") != std::string::npos;
        killed += out.verdict.compare(0, 6, "killed") == 0;
        if (at.trigger == NEVER && out.ok)
            c.seconds = out.ms / 1000;
        if (ReadBytes(c.path) != c.original) {
            ASSERT_TRUE(WriteBytes(c.path, c.original));
        }
    }
    printf("  %d rounds, %d killed before the end, %d left the file neither the original nor"
           " the result, %d failed\n",
           round, killed, neither, failed);
}

/* Audio that repeats nowhere, so that no mix of old and new bytes can pass
 * for either. */
Bytes RandomAudio(unsigned seed)
{
    std::mt19937 random(seed);
    Bytes audio = Frame(kAudioBytes);
    for (size_t i = 4; i + 4 <= audio.size(); i += 4) {
        uint32_t value = random();
        memcpy(&audio[i], &value, 4);
    }
    return audio;
}

Bytes InfoList()
{
    const char title[] = "Cut title", artist[] = "Korvane";
    return Chunk("LIST",
                 Join({Bytes{'I', 'N', 'F', 'O'}, Chunk("INAM", Bytes(title, title + sizeof title)),
                       Chunk("IART", Bytes(artist, artist + sizeof artist))}));
}

/* A WAVE whose list stands before the audio: the tag built from it fits in
 * the bytes before the audio, which moves toward the start. */
TEST(CutOff, AWaveIsWholeWhereverTheConversionStops)
{
    Case c;
    Bytes wave = Riff("WAVE", Join({Mp3FormatChunk(), InfoList(), Chunk("data", RandomAudio(11))}));
    ASSERT_NO_FATAL_FAILURE(PrepareCase(L"cutoff-wave", L"cut.wav", wave, &c));
    RunAllRounds(c);
}

/* An RMP3 has only 20 bytes before its audio and its list after it: the tag
 * made from the list is longer, so the audio moves toward the end. */
TEST(CutOff, AnRmp3WhoseTagGrowsTheFileIsWholeWhereverTheConversionStops)
{
    Case c;
    Bytes rmp3 = Riff("RMP3", Join({Chunk("data", RandomAudio(12)), InfoList()}));
    ASSERT_NO_FATAL_FAILURE(PrepareCase(L"cutoff-rmp3", L"cut.rmp", rmp3, &c));
    RunAllRounds(c);
}

} // namespace

int main(int argc, char **argv)
{
    int units = 0, status;
    wchar_t **args = CommandLineToArgvW(GetCommandLineW(), &units);
    if (args != NULL && units == 4 && !wcscmp(args[1], kChildFlag)) {
        status = RunChild(args[2], args[3]);
    } else {
        testing::InitGoogleTest(&argc, argv);
        status = RUN_ALL_TESTS();
    }
    LocalFree(args);
    return status;
}
