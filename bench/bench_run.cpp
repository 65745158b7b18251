/*
 * bench_run.cpp: what a run through the dialog costs beyond the conversions
 * themselves, and beyond the floor that the run's design sets.
 *
 * Three passes over the same list, for two sizes of file:
 *  - dialog: the real run, timed from the start click until the run is over;
 *  - loop: ConvertFile on each file in a plain loop;
 *  - floor: the same dialog and list with a bare thread that sends the same
 *    five synchronous messages per entry and has the entry's text replaced
 *    twice, as a run does, but converts nothing. Its handlers do only what
 *    the messages ask (read the stop flag, count, fetch, delete and insert)
 *    and have the list follow the entry being checked, as a run must.
 * The files are written afresh before every dialog and loop pass. A round
 * runs the three passes back to back; each aim is judged on the middle of
 * the rounds' own ratios.
 *
 * Aims: for both sizes, 1,000 files of 100 KiB and 50 files of 4 MiB (a song
 * each), dialog <= 1.15 x (loop + floor). The floor is no longer small beside
 * a 4 MiB conversion on a fast machine (under Wine it costs milliseconds per
 * entry), so dialog / loop alone is printed for information. Given "info" as its
 * argument it prints the same figures without aims (the benchmark script
 * runs it so once with Wine's theme on, to show what the theme costs).
 */
#include <stdio.h>
#include <algorithm>
#include <string.h>
#include <wchar.h>
#include <string>
#include <vector>

#include "batch/entry_list.h"
#include "batch/run.h"
#include "bench/bench_clock.h"
#include "core/convert.h"
#include "res/resource.h"
#include "settings/settings.h"
#include "tests/dialog_driver.h"
#include "tests/test_files.h"

static const int kRounds = 5;

/* ---- The floor: bare handlers on the same dialog, a bare thread ---- */

#define FLOOR_QUERY_STOP (WM_APP + 101)
#define FLOOR_GET_COUNT  (WM_APP + 102)
#define FLOOR_GET_ENTRY  (WM_APP + 103)
#define FLOOR_SET_TEXT   (WM_APP + 104)
#define FLOOR_RUN_DONE   (WM_APP + 105)
#define FLOOR_SET_FIRST  (WM_APP + 106)

static WNDPROC g_dialogProc;
static HWND g_floorList;
static volatile int g_floorBusy;

static LRESULT CALLBACK FloorProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case FLOOR_QUERY_STOP:
        return 0;
    case FLOOR_GET_COUNT:
        return SendMessageW(g_floorList, LB_GETCOUNT, 0, 0);
    case FLOOR_GET_ENTRY:
        return SendMessageW(g_floorList, LB_GETTEXT, wParam, lParam);
    case FLOOR_SET_FIRST:
    case FLOOR_SET_TEXT:
        SendMessageW(g_floorList, LB_DELETESTRING, wParam, 0);
        SendMessageW(g_floorList, LB_INSERTSTRING, wParam, lParam);
        /* The list follows the entry about to be checked, as in a run. */
        if (message == FLOOR_SET_FIRST)
            FollowRun(g_floorList, wParam);
        return 0;
    case FLOOR_RUN_DONE:
        g_floorBusy = 0;
        return 0;
    }
    return CallWindowProcW(g_dialogProc, dialog, message, wParam, lParam);
}

static DWORD WINAPI FloorThread(LPVOID param)
{
    HWND dialog = (HWND)param;
    const wchar_t *checking = StatusSuffix(STATUS_CHECKING);
    const wchar_t *converted = StatusSuffix(STATUS_CONVERTED);
    for (WPARAM index = 0;; index++) {
        wchar_t entry[PATH_BUFFER_UNITS], text[PATH_BUFFER_UNITS];
        if (SendMessageW(dialog, FLOOR_QUERY_STOP, 0, 0) != 0)
            break;
        if ((LRESULT)index >= SendMessageW(dialog, FLOOR_GET_COUNT, 0, 0))
            break;
        SendMessageW(dialog, FLOOR_GET_ENTRY, index, (LPARAM)entry);
        wchar_t *lineFeed = wcschr(entry, L'\n');
        if (lineFeed != NULL)
            *lineFeed = 0;
        _snwprintf(text, PATH_BUFFER_UNITS, L"%s%s", entry, checking);
        SendMessageW(dialog, FLOOR_SET_FIRST, index, (LPARAM)text);
        _snwprintf(text, PATH_BUFFER_UNITS, L"%s%s", entry, converted);
        SendMessageW(dialog, FLOOR_SET_TEXT, index, (LPARAM)text);
    }
    SendMessageW(dialog, FLOOR_RUN_DONE, 0, 0);
    return 0;
}

/* ---- Passes ---- */

/* A RIFF/WAVE of exactly bytes whose data chunk holds MPEG audio. */
static Bytes WrappedFile(size_t bytes)
{
    Bytes empty = Riff("WAVE", Join({Mp3FormatChunk(), Chunk("data", {})}));
    Bytes audio = Pattern(bytes - empty.size(), 3);
    audio[0] = 0xFF;
    audio[1] = 0xFB;
    return Riff("WAVE", Join({Mp3FormatChunk(), Chunk("data", audio)}));
}

static bool WriteAll(const std::vector<std::wstring> &paths, const Bytes &file)
{
    for (const std::wstring &path : paths) {
        if (!WriteBytes(path, file))
            return false;
    }
    return true;
}

static void FreshList(HWND dialog, const std::vector<std::wstring> &paths)
{
    SendMessageW(EntryListOf(dialog), LB_RESETCONTENT, 0, 0);
    AddEntries(dialog, paths);
}

static bool AllConverted(HWND dialog, const std::vector<std::wstring> &paths)
{
    std::wstring suffix = StatusSuffix(STATUS_CONVERTED);
    std::vector<std::wstring> texts = EntryTexts(dialog);
    if (texts.size() != paths.size())
        return false;
    for (size_t i = 0; i < paths.size(); i++) {
        if (texts[i] != paths[i] + suffix)
            return false;
    }
    return true;
}

/* Waits for a flag another thread clears, without sending the dialog
 * anything that would compete with the pass being timed. */
static bool WaitCleared(volatile const int *flag)
{
    return WaitUntil([&] { return *flag == 0; }, 600000);
}

/* Each pass returns the seconds taken, or a negative value when it went
 * wrong. */
static double DialogPass(HWND dialog, const std::vector<std::wstring> &paths)
{
    FreshList(dialog, paths);
    double start = Seconds();
    ClickButton(dialog, IDOK);
    if (!WaitCleared(&RunState.busy))
        return -1;
    double elapsed = Seconds() - start;
    return AllConverted(dialog, paths) ? elapsed : -1;
}

static double LoopPass(const std::vector<std::wstring> &paths)
{
    double start = Seconds();
    int failures = 0;
    for (const std::wstring &path : paths)
        failures += ConvertFile(path.c_str(), Settings.modifyTimes, Settings.keepRiffTags) !=
                    STATUS_CONVERTED;
    double elapsed = Seconds() - start;
    return failures == 0 ? elapsed : -1;
}

static double FloorPass(HWND dialog, const std::vector<std::wstring> &paths)
{
    FreshList(dialog, paths);
    g_floorList = EntryListOf(dialog);
    g_dialogProc = (WNDPROC)SetWindowLongPtrW(dialog, GWLP_WNDPROC, (LONG_PTR)FloorProc);
    g_floorBusy = 1;
    double start = Seconds();
    HANDLE thread = CreateThread(NULL, 0, FloorThread, dialog, 0, NULL);
    bool done = thread != NULL && WaitCleared(&g_floorBusy);
    double elapsed = Seconds() - start;
    if (thread != NULL) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    SetWindowLongPtrW(dialog, GWLP_WNDPROC, (LONG_PTR)g_dialogProc);
    return done && AllConverted(dialog, paths) ? elapsed : -1;
}

struct Figures {
    double dialog, loop, floor;
};

/* What a size's rounds come to: the middle round of each figure, and the
 * middle of the ratios taken within each round. A round's three passes run
 * back to back, so a slow spell of the machine (another guest taking the
 * processor) weighs on all three of them alike; the best of each figure
 * taken apart would pair the floor's luckiest round with the dialog's. */
struct Summary {
    Figures median;
    double overFloor; /* dialog / (loop + floor) */
    double overLoop;  /* dialog / loop */
};

static double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

static Summary Summarize(const std::vector<Figures> &rounds)
{
    std::vector<double> dialog, loop, floor, overFloor, overLoop;
    for (const Figures &f : rounds) {
        dialog.push_back(f.dialog);
        loop.push_back(f.loop);
        floor.push_back(f.floor);
        overFloor.push_back(f.dialog / (f.loop + f.floor));
        overLoop.push_back(f.dialog / f.loop);
    }
    return {{Median(dialog), Median(loop), Median(floor)}, Median(overFloor), Median(overLoop)};
}

static bool MeasureSize(HWND dialog, int files, size_t fileBytes, Summary *summary)
{
    std::wstring dir = FreshDir(L"bench_run");
    std::vector<std::wstring> paths;
    for (int i = 0; i < files; i++)
        paths.push_back(dir + L"\\" + std::to_wstring(i) + L".mp3");
    Bytes file = WrappedFile(fileBytes);
    std::vector<Figures> rounds;
    bool ok = true;
    for (int round = 0; round < kRounds && ok; round++) {
        Figures now = {-1, -1, -1};
        ok = WriteAll(paths, file) && (now.dialog = DialogPass(dialog, paths)) >= 0 &&
             WriteAll(paths, file) && (now.loop = LoopPass(paths)) >= 0 &&
             (now.floor = FloorPass(dialog, paths)) >= 0;
        if (!ok)
            break;
        printf("  round %d: dialog %.3f s, loop %.3f s, floor %.3f s; dialog / (loop + floor) "
               "%.3f\n",
               round + 1, now.dialog, now.loop, now.floor, now.dialog / (now.loop + now.floor));
        rounds.push_back(now);
    }
    if (ok)
        *summary = Summarize(rounds);
    SendMessageW(EntryListOf(dialog), LB_RESETCONTENT, 0, 0);
    RemoveTree(dir);
    return ok;
}

static void PrintFigures(int files, const Summary &s)
{
    const Figures &f = s.median;
    printf("  through the dialog:      %8.3f s\n", f.dialog);
    printf("  plain ConvertFile loop:  %8.3f s\n", f.loop);
    printf("  floor (messages, texts): %8.3f s\n", f.floor);
    printf("  per file over the loop:  %8.3f ms (floor alone: %.3f ms)\n",
           (f.dialog - f.loop) * 1000 / files, f.floor * 1000 / files);
}

/* Prints whether ratio <= factor; returns whether it is. */
static bool Aim(const char *what, double ratio, double factor)
{
    bool met = ratio <= factor;
    printf("  aim: %s: %.3f (at most %.2f) %s\n", what, ratio, factor, met ? "met" : "NOT MET");
    return met;
}

int main(int argc, char **argv)
{
    bool info = argc > 1 && strcmp(argv[1], "info") == 0;
    DeleteFileW(SettingsPath().c_str());
    HWND dialog = StartDialog();
    if (dialog == NULL) {
        fprintf(stderr, "the dialog did not open\n");
        return 1;
    }
    Summary small, song;
    printf("1,000 files of 100 KiB, middle of %d rounds:\n", kRounds);
    bool ok = MeasureSize(dialog, 1000, 100 * 1024, &small);
    if (ok)
        PrintFigures(1000, small);
    printf("50 files of 4 MiB, middle of %d rounds:\n", kRounds);
    ok = ok && MeasureSize(dialog, 50, 4 << 20, &song);
    if (ok)
        PrintFigures(50, song);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    WaitDialogEnd(10000);
    DeleteFileW(SettingsPath().c_str());
    if (!ok) {
        fprintf(stderr, "a pass went wrong: a file or an entry is not as expected\n");
        return 1;
    }
    if (info)
        return 0;
    bool met = Aim("1,000 x 100 KiB, dialog / (loop + floor)", small.overFloor, 1.15);
    met = Aim("50 x 4 MiB, dialog / (loop + floor)", song.overFloor, 1.15) && met;
    printf("  for information: 50 x 4 MiB, dialog / loop: %.3f\n", song.overLoop);
    return met ? 0 : 2;
}
