/*
 * entry_list.h: the batch is the contents of the main dialog's list box.
 * Dropped files become entries as they are; dropped folders are searched.
 * The files and folders named on the command line are taken alike.
 */
#ifndef KORVANE_BATCH_ENTRY_LIST_H
#define KORVANE_BATCH_ENTRY_LIST_H

#include <windows.h>
#include <shellapi.h>
#include <stddef.h>

/* Size of every buffer that holds an entry text (a path of at most 259 units
 * plus the longest status suffix) or the composed settings path. */
#define PATH_BUFFER_UNITS 388

/* The main dialog, whose list box holds the batch. Set when the dialog opens,
 * before any conversion thread exists; read by that thread. */
extern HWND MainDialog;

/* The list box's own window procedure, saved when the dialog subclasses it. */
extern WNDPROC PreviousListBoxProc;

/* Writes dir, a backslash and name into out (units long, terminator
 * included). Returns 0, and leaves nothing usable, when it does not fit:
 * a cut path would name another file or folder. */
int ComposePath(wchar_t *out, size_t units, const wchar_t *dir, const wchar_t *name);

void AddDroppedItems(HDROP drop);
/* Adds the arguments of a command line after the program's own name, as a
 * drop of the same items would add them. */
void AddArgumentItems(const wchar_t *commandLine);
void AddFolder(const wchar_t *folder);
LRESULT CALLBACK ListBoxSubclassProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam);

#endif
