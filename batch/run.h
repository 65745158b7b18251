/*
 * run.h: the conversion run over the list, on a background thread that asks
 * the dialog for everything through synchronous private messages.
 */
#ifndef KORVANE_BATCH_RUN_H
#define KORVANE_BATCH_RUN_H

#include <windows.h>

/* Numbered from WM_APP, clear of the dialog manager's own messages. */
#define UM_QUERY_STOP (WM_APP + 1)
#define UM_GET_COUNT  (WM_APP + 2)
#define UM_GET_ENTRY  (WM_APP + 3)
#define UM_SET_STATUS (WM_APP + 4)
#define UM_RUN_DONE   (WM_APP + 5)
#define UM_SET_PATH   (WM_APP + 6)
/* Posted by the dialog to itself once it is open: the files on the command
 * line are added then. */
#define UM_ADD_ARGUMENTS (WM_APP + 7)

/* The dialog's one timer: shows a count the title held back. */
#define RUN_TITLE_TIMER 1

/* Touched only on the user interface thread. */
struct RunFlags {
    int busy;
    int stopRequested;
    int closeRequested;
};
extern RunFlags RunState;

/* The start button: starts a run when idle, asks the run to stop when busy. */
void StartOrStopRun(HWND dialog);
/* A close request while busy: asks the user. Returns 1 when the dialog is
 * to close now (the run ended while the question was shown); otherwise a
 * confirmed close stops the run, and its end posts WM_CLOSE again. */
int CloseDuringRun(HWND dialog);

/* What a run takes of the options when it starts, as bits of the thread's
 * parameter. */
#define RUN_KEEP_TIMES     1
#define RUN_KEEP_RIFF_TAGS 2
#define RUN_FIX_EXTENSION  4
DWORD WINAPI ConversionThread(LPVOID options);

/* Handlers of the private messages, on the user interface thread. */
void GetEntryText(HWND dialog, WPARAM index, wchar_t *buffer);
void SetEntryStatus(HWND dialog, WPARAM index, LPARAM status);
/* The entry's file was renamed: its path becomes path, its suffix stays. */
void SetEntryPath(HWND dialog, WPARAM index, const wchar_t *path);
void FinishRun(HWND dialog);
void CatchUpProgress(HWND dialog);

/* Scrolls the list to the entry about to be checked while the user follows
 * the run (the entry before it is in view). */
void FollowRun(HWND list, WPARAM index);

/* The list changed: the title no longer sums up the last run over it. */
void ShowPlainTitle(HWND dialog);
/* "Korvane - " and the note, formatted as _snwprintf does: the count of a
 * run, or what the title tells until the list changes. */
void ShowTitleNote(HWND dialog, const wchar_t *format, ...);

/* An int with its thousands separators: 2,147,483,647 and the terminator. */
#define COUNT_UNITS 16
/* Writes value with a comma between groups of three digits, as 4,980, into
 * out of COUNT_UNITS units. Counts are never negative. */
void FormatCount(wchar_t *out, int value);

#endif
