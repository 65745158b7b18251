/*
 * entry_list.cpp: filling the list from dropped files and folders and from
 * the program's command line, and the list's own keys (Delete removes the
 * selection, Ctrl+A selects everything, Ctrl+C copies the selection).
 *
 * The command line is taken as a drop of the same items: the shell starts
 * the program with the files dropped onto its icon or sent to it as the
 * arguments, and the user expects what a drop onto the window does.
 *
 * Folders are searched depth first in the order the platform returns their
 * items, so a subfolder's files land where the subfolder was met. Names that
 * begin with "." are passed over in a search. A path that would not fit in
 * MAX_PATH is skipped whole and never searched in a cut form: a cut pattern
 * can name the same folder again, and the search would not end. The title
 * bar tells how many were skipped, or that the drop added nothing, since a
 * list that stays as it was does not show it.
 *
 * Links and junctions to folders are followed like folders, so a link to
 * another music folder is searched too. A link back up the tree would make
 * the search go round until the paths no longer fit, and two of them double
 * the work at every level; so within one drop each folder is searched at
 * most once, recognised by its volume and file index whatever path led to
 * it.
 */
#include "entry_list.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "batch/run.h"
#include "core/convert.h"
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

/* A folder as the file system knows it, whichever path leads to it. */
struct FolderIdentity {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
};

/* One drop's search: the list it fills, the folders it has searched, in a
 * heap array that grows as needed and is released when the drop is done,
 * and the files and folders it met but skipped for their length. */
struct FolderSearch {
    HWND list;
    FolderIdentity *searched;
    size_t count;
    size_t capacity;
    int skipped;
};

/* Opened for its attributes alone, sharing everything: the search must not
 * get in the way of anybody else using the folder. */
static int ReadFolderIdentity(const wchar_t *folder, FolderIdentity *identity)
{
    BY_HANDLE_FILE_INFORMATION info;
    int known = 0;
    HANDLE handle = CreateFileW(folder, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (handle != INVALID_HANDLE_VALUE) {
        if (GetFileInformationByHandle(handle, &info)) {
            identity->volume = info.dwVolumeSerialNumber;
            identity->indexHigh = info.nFileIndexHigh;
            identity->indexLow = info.nFileIndexLow;
            known = 1;
        }
        CloseHandle(handle);
    }
    return known;
}

static int WasSearched(const FolderSearch *search, const FolderIdentity *identity)
{
    for (size_t i = 0; i < search->count; i++) {
        const FolderIdentity *seen = &search->searched[i];
        if (seen->volume == identity->volume && seen->indexHigh == identity->indexHigh &&
            seen->indexLow == identity->indexLow)
            return 1;
    }
    return 0;
}

/* Returns 0 when there is no room for one more: the folder then goes
 * unremembered, and is searched again should the search meet it again. */
static int MakeRoomForOneMore(FolderSearch *search)
{
    if (search->count < search->capacity)
        return 1;
    /* Doubled each time; the byte count must not wrap around. */
    if (search->capacity > (size_t)-1 / 2 / sizeof(FolderIdentity))
        return 0;
    size_t capacity = search->capacity == 0 ? 64 : search->capacity * 2;
    FolderIdentity *grown = (FolderIdentity *)malloc(capacity * sizeof(FolderIdentity));
    if (grown == NULL)
        return 0;
    if (search->count > 0)
        memcpy(grown, search->searched, search->count * sizeof(FolderIdentity));
    free(search->searched);
    search->searched = grown;
    search->capacity = capacity;
    return 1;
}

/* Records the folder as searched in this drop; returns 0 when it was
 * already. A folder whose identity can't be read is searched all the same:
 * better a file listed twice than a folder left out. */
static int RecordFirstVisit(FolderSearch *search, const wchar_t *folder)
{
    FolderIdentity identity;
    if (!ReadFolderIdentity(folder, &identity))
        return 1;
    if (WasSearched(search, &identity))
        return 0;
    if (MakeRoomForOneMore(search))
        search->searched[search->count++] = identity;
    return 1;
}

static void SearchFolder(FolderSearch *search, const wchar_t *folder);

/* Only the attribute decides: links and junctions to folders are folders. */
static int IsFolder(const WIN32_FIND_DATAW *found)
{
    return (found->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

/* Whether the options take an item met in a search, its length aside. */
static int IsWanted(const WIN32_FIND_DATAW *found)
{
    if (found->cFileName[0] == L'.')
        return 0;
    if (IsFolder(found))
        return Settings.includeSubDirectory;
    return !Settings.filterExtension || HasMp3Extension(found->cFileName);
}

/* Decided before the path is composed, so that only what would have been
 * taken counts as skipped for its length. */
static void AddFoundItem(FolderSearch *search, const wchar_t *folder, const WIN32_FIND_DATAW *found)
{
    wchar_t path[MAX_PATH];
    if (!IsWanted(found))
        return;
    if (!ComposePath(path, MAX_PATH, folder, found->cFileName)) {
        search->skipped++;
        return;
    }
    if (IsFolder(found))
        SearchFolder(search, path);
    else
        AddEntry(search->list, path);
}

static void SearchFolder(FolderSearch *search, const wchar_t *folder)
{
    wchar_t pattern[MAX_PATH];
    WIN32_FIND_DATAW found;
    /* The separator goes in even after a drive root's own backslash. */
    if (!ComposePath(pattern, MAX_PATH, folder, L"*")) {
        search->skipped++;
        return;
    }
    if (!RecordFirstVisit(search, folder))
        return;
    HANDLE items = FindFirstFileW(pattern, &found);
    if (items == INVALID_HANDLE_VALUE)
        return;
    do {
        AddFoundItem(search, folder, &found);
    } while (FindNextFileW(items, &found));
    FindClose(items);
}

void AddFolder(const wchar_t *folder)
{
    FolderSearch search = {GetDlgItem(MainDialog, IDC_ENTRY_LIST), NULL, 0, 0, 0};
    SearchFolder(&search, folder);
    free(search.searched);
}

/* The count of skipped items comes first: it is news even when the drop
 * added something. A drop that added entries and skipped none puts the
 * plain title back, as any other change of the list does. */
static void ShowDropOutcome(int added, int skipped)
{
    wchar_t count[COUNT_UNITS];
    if (skipped > 0) {
        FormatCount(count, skipped);
        ShowTitleNote(MainDialog, L"%s 件はパスが長すぎるため追加できませんでした", count);
    } else if (!added) {
        ShowTitleNote(MainDialog, L"追加できるファイルがありませんでした");
    } else {
        ShowPlainTitle(MainDialog);
    }
}

/* Where the items of one addition come from: a drop or the command line.
 * A reader writes the full path of the item at index into name. */
enum { ITEM_READ, ITEM_TOO_LONG, ITEM_UNREAD };
typedef int (*ItemReader)(void *source, UINT index, wchar_t name[MAX_PATH]);

static void AddItem(FolderSearch *search, const wchar_t *name)
{
    if (PathIsDirectoryW(name))
        SearchFolder(search, name);
    else
        AddEntry(search->list, name);
}

/* An item that names nothing that exists becomes an entry all the same:
 * the run then tells the user it could not be opened. */
static void AddItems(ItemReader read, void *source, UINT count)
{
    wchar_t name[MAX_PATH];
    HWND list = GetDlgItem(MainDialog, IDC_ENTRY_LIST);
    /* One record of searched folders for the whole addition. */
    FolderSearch search = {list, NULL, 0, 0, 0};
    LRESULT entriesBefore = SendMessageW(list, LB_GETCOUNT, 0, 0);
    /* Redrawing the list and its scroll bars after every entry makes a large
     * folder take minutes; it is drawn once when the addition is done. */
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    for (UINT i = 0; i < count; i++) {
        switch (read(source, i, name)) {
        case ITEM_READ:
            AddItem(&search, name);
            break;
        case ITEM_TOO_LONG:
            search.skipped++;
            break;
        default:
            break;
        }
    }
    free(search.searched);
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, NULL, TRUE);
    ShowDropOutcome(SendMessageW(list, LB_GETCOUNT, 0, 0) != entriesBefore, search.skipped);
}

/* A name of MAX_PATH units or more would arrive cut, naming another file or
 * none; it is skipped. */
static int ReadDroppedItem(void *source, UINT index, wchar_t name[MAX_PATH])
{
    HDROP drop = (HDROP)source;
    UINT length = DragQueryFileW(drop, index, NULL, 0);
    if (length >= MAX_PATH)
        return ITEM_TOO_LONG;
    if (length == 0 || DragQueryFileW(drop, index, name, MAX_PATH) != length)
        return ITEM_UNREAD;
    return ITEM_READ;
}

void AddDroppedItems(HDROP drop)
{
    AddItems(ReadDroppedItem, drop, DragQueryFileW(drop, 0xFFFFFFFF, NULL, 0));
}

/* The argument after the program's own name at index. The shell passes
 * full paths; a command prompt may pass names relative to its folder, which
 * is the program's current folder too. A full path that would not fit, or
 * could not be made at all, is skipped as too long. A backslash at the end
 * is dropped but for a drive's root, as a drop never has one. */
static int ReadArgument(void *source, UINT index, wchar_t name[MAX_PATH])
{
    const wchar_t *argument = ((wchar_t **)source)[index + 1];
    if (argument[0] == 0)
        return ITEM_UNREAD;
    DWORD length = GetFullPathNameW(argument, MAX_PATH, name, NULL);
    if (length == 0 || length >= MAX_PATH)
        return ITEM_TOO_LONG;
    if (length > 3 && name[length - 1] == L'\\')
        name[length - 1] = 0;
    return ITEM_READ;
}

void AddArgumentItems(const wchar_t *commandLine)
{
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(commandLine, &count);
    if (arguments == NULL)
        return;
    /* The program's name alone: nothing to add, nothing to tell. */
    if (count > 1)
        AddItems(ReadArgument, arguments, (UINT)(count - 1));
    LocalFree(arguments);
}

static void DeleteSelectedEntries(HWND list)
{
    int count = (int)SendMessageW(list, LB_GETCOUNT, 0, 0);
    int deleted = 0;
    for (int i = count - 1; i >= 0; i--) {
        if ((int)SendMessageW(list, LB_GETSEL, i, 0) > 0) {
            SendMessageW(list, LB_DELETESTRING, i, 0);
            deleted = 1;
        }
    }
    if (deleted)
        ShowPlainTitle(MainDialog);
}

/* Turns an entry's text, units long at line, into its line of the copy in
 * place: the path, a tab and the message without the line feed and " > ".
 * An entry without an outcome, none yet or the one being checked, is its
 * path alone. Returns the line's length, never more than units. */
static size_t MakeCopyLine(wchar_t *line, size_t units)
{
    static const wchar_t kLead[] = L" > ";
    const size_t leadUnits = sizeof kLead / sizeof kLead[0] - 1;
    const wchar_t *checking = StatusSuffix(STATUS_CHECKING);
    size_t path = 0;
    while (path < units && line[path] != L'\n')
        path++;
    if (path == units)
        return units;
    size_t suffix = units - path;
    if (suffix == wcslen(checking) && wmemcmp(line + path, checking, suffix) == 0)
        return path;
    size_t message = path + 1;
    if (units - message >= leadUnits && wmemcmp(line + message, kLead, leadUnits) == 0)
        message += leadUnits;
    if (message == units)
        return path;
    line[path] = L'\t';
    memmove(line + path + 1, line + message, (units - message) * sizeof(wchar_t));
    return path + 1 + (units - message);
}

/* The clipboard takes the memory only when the data is set; otherwise it
 * stays the caller's. */
static int PlaceOnClipboard(HWND owner, HGLOBAL memory)
{
    if (!OpenClipboard(owner))
        return 0;
    int placed = EmptyClipboard() && SetClipboardData(CF_UNICODETEXT, memory) != NULL;
    CloseClipboard();
    return placed;
}

/* Room for every selected entry's text and its line end, and the
 * terminator; 0 when nothing is selected or the count would not fit. */
static size_t CopyUnits(HWND list, int count)
{
    size_t units = 1;
    for (int i = 0; i < count; i++) {
        if ((int)SendMessageW(list, LB_GETSEL, i, 0) <= 0)
            continue;
        LRESULT length = SendMessageW(list, LB_GETTEXTLEN, i, 0);
        if (length == LB_ERR)
            continue;
        if ((size_t)length + 2 > (size_t)-1 / sizeof(wchar_t) - units)
            return 0;
        units += (size_t)length + 2;
    }
    return units > 1 ? units : 0;
}

/* One line per selected entry, in the list's order, each ended by CR LF,
 * as Unicode text: a record a user can keep or search in an editor. With
 * nothing selected the clipboard is left as it was. */
static void CopySelectedEntries(HWND list)
{
    int count = (int)SendMessageW(list, LB_GETCOUNT, 0, 0);
    size_t units = CopyUnits(list, count), pos = 0;
    if (units == 0)
        return;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, units * sizeof(wchar_t));
    if (memory == NULL)
        return;
    wchar_t *text = (wchar_t *)GlobalLock(memory);
    if (text == NULL) {
        GlobalFree(memory);
        return;
    }
    for (int i = 0; i < count; i++) {
        if ((int)SendMessageW(list, LB_GETSEL, i, 0) <= 0)
            continue;
        LRESULT length = SendMessageW(list, LB_GETTEXTLEN, i, 0);
        /* The text, its line end and the final terminator must fit. */
        if (length == LB_ERR || (size_t)length + 2 > units - 1 - pos)
            continue;
        LRESULT copied = SendMessageW(list, LB_GETTEXT, i, (LPARAM)(text + pos));
        if (copied == LB_ERR || copied > length)
            continue;
        pos += MakeCopyLine(text + pos, (size_t)copied);
        text[pos++] = L'\r';
        text[pos++] = L'\n';
    }
    text[pos] = 0;
    GlobalUnlock(memory);
    if (!PlaceOnClipboard(list, memory))
        GlobalFree(memory);
}

/* The dialog manager names the key it asks about; it may ask about none. */
static int IsTabKey(const MSG *key)
{
    if (key == NULL || key->wParam != VK_TAB)
        return 0;
    switch (key->message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_SYSCHAR:
        return 1;
    default:
        return 0;
    }
}

LRESULT CALLBACK ListBoxSubclassProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam)
{
    /* Every key reaches the list, Enter included, which must not start a run
     * from there; but a list that kept Tab too would hold a keyboard user in
     * it, so Tab is answered as the list box itself answers, and the dialog
     * moves the focus on. */
    if (message == WM_GETDLGCODE) {
        if (IsTabKey((const MSG *)lParam))
            return CallWindowProcW(PreviousListBoxProc, list, message, wParam, lParam);
        return DLGC_WANTALLKEYS;
    }
    if (message == WM_KEYDOWN) {
        if (wParam == VK_DELETE && !RunState.busy) {
            DeleteSelectedEntries(list);
        } else if (wParam == 'A' && (GetKeyState(VK_CONTROL) & 0x8000)) {
            /* The list box limits the range to its last entry. */
            LPARAM count = SendMessageW(list, LB_GETCOUNT, 0, 0);
            SendMessageW(list, LB_SELITEMRANGEEX, 0, count);
        } else if (wParam == 'C' && (GetKeyState(VK_CONTROL) & 0x8000)) {
            /* During a run too: the list is only read. */
            CopySelectedEntries(list);
        }
    }
    return CallWindowProcW(PreviousListBoxProc, list, message, wParam, lParam);
}
