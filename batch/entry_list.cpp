/*
 * entry_list.cpp: filling the list from dropped files and folders, and the
 * list's own keys (Delete removes the selection, Ctrl+A selects everything).
 *
 * Folders are searched depth first in the order the platform returns their
 * items, so a subfolder's files land where the subfolder was met. Names that
 * begin with "." are passed over in a search. A path that would not fit in
 * MAX_PATH is skipped whole and never searched in a cut form: a cut pattern
 * can name the same folder again, and the search would not end.
 */
#include "entry_list.h"

#include <wchar.h>

#include "batch/run.h"
#include "platform/system_dlls.h"
#include "res/resource.h"
#include "settings/settings.h"

HWND MainDialog;
WNDPROC PreviousListBoxProc;

int ComposePath(wchar_t *out, size_t units, const wchar_t *dir, const wchar_t *name)
{
    int length = _snwprintf(out, units, L"%s\\%s", dir, name);
    return length >= 0 && (size_t)length < units;
}

/* The list is looked up once per drop and handed down: finding a dialog
 * item asks the window server, which costs more than adding the entry. */
static void AddEntry(HWND list, const wchar_t *path)
{
    SendMessageW(list, LB_ADDSTRING, 0, (LPARAM)path);
}

static int HasMp3Extension(const wchar_t *name)
{
    const wchar_t *dot = wcsrchr(name, L'.');
    return dot != NULL && _wcsicmp(dot, L".mp3") == 0;
}

static void SearchFolder(HWND list, const wchar_t *folder);

static void AddFoundItem(HWND list, const wchar_t *folder, const WIN32_FIND_DATAW *found)
{
    wchar_t path[MAX_PATH];
    if (found->cFileName[0] == L'.')
        return;
    if (!ComposePath(path, MAX_PATH, folder, found->cFileName))
        return;
    /* Only the attribute decides: links and junctions to folders are folders. */
    if (found->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (Settings.includeSubDirectory)
            SearchFolder(list, path);
        return;
    }
    if (Settings.filterExtension && !HasMp3Extension(found->cFileName))
        return;
    AddEntry(list, path);
}

static void SearchFolder(HWND list, const wchar_t *folder)
{
    wchar_t pattern[MAX_PATH];
    WIN32_FIND_DATAW found;
    /* The separator goes in even after a drive root's own backslash. */
    if (!ComposePath(pattern, MAX_PATH, folder, L"*"))
        return;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        AddFoundItem(list, folder, &found);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

void AddFolder(const wchar_t *folder)
{
    SearchFolder(GetDlgItem(MainDialog, IDC_ENTRY_LIST), folder);
}

void AddDroppedItems(HDROP drop)
{
    wchar_t name[PATH_BUFFER_UNITS] = {0};
    HWND list = GetDlgItem(MainDialog, IDC_ENTRY_LIST);
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, NULL, 0);
    /* Redrawing the list and its scroll bars after every entry makes a large
     * folder take minutes; it is drawn once when the drop is done. */
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    for (UINT i = 0; i < count; i++) {
        /* A name of MAX_PATH units or more would arrive cut, naming another
         * file or none; it is skipped. */
        UINT length = DragQueryFileW(drop, i, NULL, 0);
        if (length == 0 || length >= MAX_PATH)
            continue;
        if (DragQueryFileW(drop, i, name, MAX_PATH) != length)
            continue;
        if (PathIsDirectoryW(name))
            SearchFolder(list, name);
        else
            AddEntry(list, name);
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, NULL, TRUE);
}

static void DeleteSelectedEntries(HWND list)
{
    int count = (int)SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (int i = count - 1; i >= 0; i--) {
        if ((int)SendMessageW(list, LB_GETSEL, i, 0) > 0)
            SendMessageW(list, LB_DELETESTRING, i, 0);
    }
}

LRESULT CALLBACK ListBoxSubclassProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam)
{
    /* Every key reaches the list, Tab and Enter included. */
    if (message == WM_GETDLGCODE)
        return DLGC_WANTALLKEYS;
    if (message == WM_KEYDOWN) {
        if (wParam == VK_DELETE && !RunState.busy) {
            DeleteSelectedEntries(list);
        } else if (wParam == 'A' && (GetKeyState(VK_CONTROL) & 0x8000)) {
            /* The list box limits the range to its last entry. */
            LPARAM count = SendMessageW(list, LB_GETCOUNT, 0, 0);
            SendMessageW(list, LB_SELITEMRANGEEX, 0, count);
        }
    }
    return CallWindowProcW(PreviousListBoxProc, list, message, wParam, lParam);
}
