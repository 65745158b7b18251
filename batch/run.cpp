/*
 * run.cpp: converting every entry of the list on a background thread.
 *
 * The thread never touches the list box or the flags: it sends the dialog a
 * private message for each thing it needs, and SendMessageW runs the handler
 * on the user interface thread and waits for it. That keeps all list and flag
 * handling on one thread without locks. The user interface thread never waits
 * for the conversion thread; closing during a run goes through closeRequested
 * and a posted WM_CLOSE once the run has ended.
 *
 * A run over thousands of files is watched in two places, both kept up on
 * the user interface thread as the status messages arrive: the list scrolls
 * along with the entry being checked (unless the user has scrolled away from
 * it), and the title bar counts the entries (a count held back to spare
 * redrawing is shown by a timer) and, once the run has ended, sums up their
 * outcomes until the list changes. Each entry keeps the outcome it got in
 * the current run as its item data, so that the run's failures can be found
 * among thousands of entries when it ends: they become the list's selection.
 *
 * A file that the run converted, or found to be plain MPEG audio, may be
 * renamed after its content when the option is on; the entry then shows the
 * new path, so that the next run over the list finds the file.
 */
#include "run.h"

#include <stdarg.h>
#include <string.h>
#include <wchar.h>

#include "batch/entry_list.h"
#include "core/convert.h"
#include "core/extension.h"
#include "platform/system_dlls.h"
#include "res/resource.h"
#include "settings/settings.h"

RunFlags RunState;

/* What the title bar tells of the current or last run. Touched only on the
 * user interface thread, like RunState. */
struct RunTally {
    int entries; /* the list cannot change during a run */
    int converted;
    int notNeeded;
    int failed;
    DWORD titleShownAt; /* GetTickCount() when the count was last shown */
    int checking;       /* the number of the entry being checked, from 1 */
    int catchUpSet;     /* the title timer is running */
};
static RunTally Tally;

static const wchar_t kStartText[] = L"変換開始";
static const wchar_t kStopText[] = L"変換中止";
static const wchar_t kProgramTitle[] = L"Korvane";

/* Redrawing the title on every entry would cost more than a small file's
 * conversion; ten times a second is as often as anybody reads it. */
static const DWORD kTitleIntervalMs = 100;
/* A title of this size holds the summary with the largest counts. */
#define TITLE_UNITS 128

static void CutAtLineFeed(wchar_t *text)
{
    wchar_t *lineFeed = wcschr(text, L'\n');
    if (lineFeed != NULL)
        *lineFeed = 0;
}

/* Only a file converted or found plain is renamed: any other outcome says
 * nothing sure of its content. A name that stays tells why in its status;
 * a new one reaches the entry before the status does. */
static int FitName(HWND dialog, WPARAM index, const wchar_t *path, int keepTimes, int status)
{
    wchar_t newPath[MAX_PATH];
    if (status != STATUS_CONVERTED && status != STATUS_NOT_NEEDED)
        return status;
    int converted = status == STATUS_CONVERTED;
    switch (FitExtension(path, keepTimes, newPath)) {
    case EXTENSION_CHANGED:
        SendMessageW(dialog, UM_SET_PATH, index, (LPARAM)newPath);
        return status;
    case EXTENSION_FITS:
        return status;
    case EXTENSION_NAME_TAKEN:
        return converted ? STATUS_CONVERTED_NAME_TAKEN : STATUS_NOT_NEEDED_NAME_TAKEN;
    default:
        return converted ? STATUS_CONVERTED_NOT_RENAMED : STATUS_NOT_NEEDED_NOT_RENAMED;
    }
}

DWORD WINAPI ConversionThread(LPVOID options)
{
    HWND dialog = MainDialog;
    int keepTimes = ((INT_PTR)options & RUN_KEEP_TIMES) != 0;
    int keepRiffTags = ((INT_PTR)options & RUN_KEEP_RIFF_TAGS) != 0;
    int fixExtension = ((INT_PTR)options & RUN_FIX_EXTENSION) != 0;
    for (WPARAM index = 0;; index++) {
        wchar_t entry[PATH_BUFFER_UNITS];
        if (SendMessageW(dialog, UM_QUERY_STOP, 0, 0) != 0)
            break;
        if ((LRESULT)index >= SendMessageW(dialog, UM_GET_COUNT, 0, 0))
            break;
        entry[0] = 0;
        SendMessageW(dialog, UM_GET_ENTRY, index, (LPARAM)entry);
        CutAtLineFeed(entry);
        SendMessageW(dialog, UM_SET_STATUS, index, STATUS_CHECKING);
        int status = ConvertFile(entry, keepTimes, keepRiffTags);
        if (fixExtension)
            status = FitName(dialog, index, entry, keepTimes, status);
        SendMessageW(dialog, UM_SET_STATUS, index, status);
    }
    SendMessageW(dialog, UM_RUN_DONE, 0, 0);
    return 0;
}

/* An entry's item data is its outcome in the current run; STATUS_CHECKING
 * (0) stands for none yet. */
static void ForgetOutcomes(HWND list, int entries)
{
    for (int i = 0; i < entries; i++)
        SendMessageW(list, LB_SETITEMDATA, i, STATUS_CHECKING);
}

void StartOrStopRun(HWND dialog)
{
    if (RunState.busy) {
        /* The file being converted is finished first. */
        RunState.stopRequested = 1;
        return;
    }
    RunState.busy = 1;
    RunState.stopRequested = 0;
    memset(&Tally, 0, sizeof(Tally));
    Tally.entries = (int)SendDlgItemMessageW(dialog, IDC_ENTRY_LIST, LB_GETCOUNT, 0, 0);
    ForgetOutcomes(GetDlgItem(dialog, IDC_ENTRY_LIST), Tally.entries);
    ShowPlainTitle(dialog);
    DragAcceptFiles(dialog, FALSE);
    SendDlgItemMessageW(dialog, IDOK, WM_SETTEXT, 0, (LPARAM)kStopText);
    /* The options are taken now and hold for the whole run. */
    INT_PTR options = (Settings.modifyTimes ? RUN_KEEP_TIMES : 0) |
                      (Settings.keepRiffTags ? RUN_KEEP_RIFF_TAGS : 0) |
                      (Settings.fixExtension ? RUN_FIX_EXTENSION : 0);
    HANDLE thread = CreateThread(NULL, 0, ConversionThread, (LPVOID)options, 0, NULL);
    if (thread == NULL) {
        /* No thread will ever report the end, so the run ends here. */
        FinishRun(dialog);
        return;
    }
    /* The program never waits for the thread; the handle is not needed. */
    CloseHandle(thread);
}

/* The index comes from the thread; a text that would not fit the buffer
 * leaves it empty rather than overflowing it. */
static int FetchEntry(HWND list, WPARAM index, wchar_t *buffer)
{
    buffer[0] = 0;
    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    if (count == LB_ERR || index >= (WPARAM)count)
        return 0;
    LRESULT length = SendMessageW(list, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR || length >= PATH_BUFFER_UNITS)
        return 0;
    SendMessageW(list, LB_GETTEXT, index, (LPARAM)buffer);
    return 1;
}

void GetEntryText(HWND dialog, WPARAM index, wchar_t *buffer)
{
    FetchEntry(GetDlgItem(dialog, IDC_ENTRY_LIST), index, buffer);
}

/* Replaced in place: the entry keeps its position, and its item data is
 * set anew. The list is not drawn between the steps; only the entry's own
 * line is drawn anew. */
static void ReplaceEntry(HWND list, WPARAM index, const wchar_t *text, LPARAM outcome)
{
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LB_DELETESTRING, index, 0);
    SendMessageW(list, LB_INSERTSTRING, index, (LPARAM)text);
    SendMessageW(list, LB_SETITEMDATA, index, outcome);
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    RECT line;
    if (SendMessageW(list, LB_GETITEMRECT, index, (LPARAM)&line) != LB_ERR)
        InvalidateRect(list, &line, TRUE);
}

/* Returns 1 when the entry now ends with the status's suffix. */
static int RewriteEntry(HWND list, WPARAM index, int status)
{
    wchar_t text[PATH_BUFFER_UNITS];
    if (!FetchEntry(list, index, text))
        return 0;
    CutAtLineFeed(text);
    const wchar_t *suffix = StatusSuffix(status);
    if (wcslen(text) + wcslen(suffix) >= PATH_BUFFER_UNITS)
        return 0;
    wcscat(text, suffix);
    ReplaceEntry(list, index, text, status);
    return 1;
}

void SetEntryPath(HWND dialog, WPARAM index, const wchar_t *path)
{
    wchar_t old[PATH_BUFFER_UNITS], text[PATH_BUFFER_UNITS];
    HWND list = GetDlgItem(dialog, IDC_ENTRY_LIST);
    if (!FetchEntry(list, index, old))
        return;
    const wchar_t *suffix = wcschr(old, L'\n');
    int length = _snwprintf(text, PATH_BUFFER_UNITS, L"%s%s", path, suffix != NULL ? suffix : L"");
    if (length < 0 || length >= PATH_BUFFER_UNITS)
        return;
    ReplaceEntry(list, index, text, SendMessageW(list, LB_GETITEMDATA, index, 0));
}

/* The list follows the run while the user watches it: when the entry about
 * to be checked is not shown but the one before it is, the list scrolls
 * just far enough to show it. A user who scrolled away to read earlier
 * results is left alone, and the list picks the run up again once they
 * scroll back to it. Shown means wholly inside the list's client area, so a
 * line cut at the bottom counts as not shown. The first entry has nothing
 * before it to have scrolled away from. Selection and caret stay as they
 * are. One item rectangle tells both: the entry above lies one line higher. */
void FollowRun(HWND list, WPARAM index)
{
    RECT client, line;
    if (SendMessageW(list, LB_GETITEMRECT, index, (LPARAM)&line) == LB_ERR)
        return;
    if (!GetClientRect(list, &client))
        return;
    int height = line.bottom - line.top;
    if (height <= 0 || (line.top >= client.top && line.bottom <= client.bottom))
        return;
    int previousShown = line.top - height >= client.top && line.top <= client.bottom;
    if (index > 0 && !previousShown)
        return;
    int wholeLines = (client.bottom - client.top) / height;
    /* Above the view it becomes the first line, below it the last whole one. */
    WPARAM top = index;
    if (line.top >= client.top && wholeLines > 1 && index >= (WPARAM)(wholeLines - 1))
        top = index - (WPARAM)(wholeLines - 1);
    SendMessageW(list, LB_SETTOPINDEX, top, 0);
}

void FormatCount(wchar_t *out, int value)
{
    wchar_t digits[COUNT_UNITS];
    unsigned rest = value > 0 ? (unsigned)value : 0;
    int count = 0, length = 0;
    do {
        digits[count++] = (wchar_t)(L'0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    while (count > 0) {
        out[length++] = digits[--count];
        if (count > 0 && count % 3 == 0)
            out[length++] = L',';
    }
    out[length] = 0;
}

static void StopTitleTimer(HWND dialog)
{
    if (Tally.catchUpSet)
        KillTimer(dialog, RUN_TITLE_TIMER);
    Tally.catchUpSet = 0;
}

/* A count written now leaves the timer nothing to catch up. */
static void WriteProgress(HWND dialog, DWORD now)
{
    StopTitleTimer(dialog);
    ShowTitleNote(dialog, L"%d / %d", Tally.checking, Tally.entries);
    Tally.titleShownAt = now;
}

/* "Korvane - n / N" for the entry being checked. Shown at most every
 * kTitleIntervalMs, but always for the first and the last entry, so the
 * title never stops short of the end. A number held back is shown by the
 * title timer once the interval is over: without it, a long file following
 * quick ones would be checked under the number of an earlier entry. */
static void ShowProgress(HWND dialog, WPARAM index)
{
    DWORD now = GetTickCount();
    DWORD since = now - Tally.titleShownAt;
    Tally.checking = (int)index + 1;
    if (index == 0 || Tally.checking >= Tally.entries || since >= kTitleIntervalMs) {
        WriteProgress(dialog, now);
        return;
    }
    if (!Tally.catchUpSet)
        Tally.catchUpSet = SetTimer(dialog, RUN_TITLE_TIMER, kTitleIntervalMs - since, NULL) != 0;
}

/* A timer message may still arrive after the run has ended; the summary
 * stays. */
void CatchUpProgress(HWND dialog)
{
    if (RunState.busy)
        WriteProgress(dialog, GetTickCount());
    else
        StopTitleTimer(dialog);
}

/* A name that stayed changes nothing of what happened to the content. */
static int IsConverted(LRESULT status)
{
    return status == STATUS_CONVERTED || status == STATUS_CONVERTED_NAME_TAKEN ||
           status == STATUS_CONVERTED_NOT_RENAMED;
}

static int IsNotNeeded(LRESULT status)
{
    return status == STATUS_NOT_NEEDED || status == STATUS_NOT_NEEDED_NAME_TAKEN ||
           status == STATUS_NOT_NEEDED_NOT_RENAMED;
}

static void CountOutcome(int status)
{
    if (IsConverted(status))
        Tally.converted++;
    else if (IsNotNeeded(status))
        Tally.notNeeded++;
    else
        Tally.failed++;
}

/* An entry the run did not reach has no outcome; LB_ERR is none either. */
static int IsFailure(LRESULT outcome)
{
    return outcome > STATUS_CHECKING && outcome < CONVERT_STATUS_COUNT && !IsConverted(outcome) &&
           !IsNotNeeded(outcome);
}

/* The failures of a run over thousands of entries would be lost among them:
 * they become the selection, which the user can copy or act on, and the
 * first is scrolled into view (as the caret, where the keyboard goes on). */
static void SelectFailures(HWND list)
{
    int count = (int)SendMessageW(list, LB_GETCOUNT, 0, 0), first = -1;
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LB_SETSEL, FALSE, -1);
    for (int i = 0; i < count; i++) {
        if (!IsFailure(SendMessageW(list, LB_GETITEMDATA, i, 0)))
            continue;
        SendMessageW(list, LB_SETSEL, TRUE, i);
        if (first < 0)
            first = i;
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    if (first >= 0)
        SendMessageW(list, LB_SETCARETINDEX, first, FALSE);
    InvalidateRect(list, NULL, TRUE);
}

/* "完了" (done) when every entry got its outcome, else "中止" (stopped),
 * with the counts so far. */
static void ShowSummary(HWND dialog)
{
    wchar_t converted[COUNT_UNITS], notNeeded[COUNT_UNITS], failed[COUNT_UNITS];
    int outcomes = Tally.converted + Tally.notNeeded + Tally.failed;
    FormatCount(converted, Tally.converted);
    FormatCount(notNeeded, Tally.notNeeded);
    FormatCount(failed, Tally.failed);
    ShowTitleNote(dialog, L"%s: 変換 %s 件 / 不要 %s 件 / 失敗 %s 件",
                  outcomes == Tally.entries ? L"完了" : L"中止", converted, notNeeded, failed);
}

void ShowPlainTitle(HWND dialog)
{
    SetWindowTextW(dialog, kProgramTitle);
}

void ShowTitleNote(HWND dialog, const wchar_t *format, ...)
{
    wchar_t title[TITLE_UNITS];
    va_list values;
    int prefix = _snwprintf(title, TITLE_UNITS, L"%s - ", kProgramTitle);
    va_start(values, format);
    _vsnwprintf(title + prefix, TITLE_UNITS - prefix, format, values);
    va_end(values);
    title[TITLE_UNITS - 1] = 0;
    SetWindowTextW(dialog, title);
}

void SetEntryStatus(HWND dialog, WPARAM index, LPARAM status)
{
    HWND list = GetDlgItem(dialog, IDC_ENTRY_LIST);
    if (!RewriteEntry(list, index, (int)status))
        return;
    if (status == STATUS_CHECKING) {
        FollowRun(list, index);
        ShowProgress(dialog, index);
    } else {
        CountOutcome((int)status);
    }
}

void FinishRun(HWND dialog)
{
    RunState.busy = 0;
    StopTitleTimer(dialog);
    DragAcceptFiles(dialog, TRUE);
    SendDlgItemMessageW(dialog, IDOK, WM_SETTEXT, 0, (LPARAM)kStartText);
    ShowSummary(dialog);
    if (Tally.failed > 0)
        SelectFailures(GetDlgItem(dialog, IDC_ENTRY_LIST));
    if (RunState.closeRequested)
        PostMessageW(dialog, WM_CLOSE, 0, 0);
}

int CloseDuringRun(HWND dialog)
{
    /* The thread's messages are still handled while the box is shown, so the
     * run may end before the user answers. */
    int answer = MessageBoxW(dialog, L"ファイルの変換中ですが、中止して終了しますか？", L"確認",
                             MB_OKCANCEL);
    if (answer != IDOK)
        return 0;
    if (!RunState.busy)
        return 1;
    RunState.stopRequested = 1;
    RunState.closeRequested = 1;
    EnableWindow(dialog, FALSE);
    return 0;
}
