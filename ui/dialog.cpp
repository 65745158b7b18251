/*
 * dialog.cpp: the main dialog. It loads the options when it opens, keeps
 * them in step with the check boxes, routes drops to the entry list and the
 * start button and private messages to the run, and saves the options when
 * it closes. The files named on its command line (dropped onto the program
 * or its shortcut, sent to it from the shell) are added once it is open.
 */
#include "dialog.h"

#include <wchar.h>

#include "batch/entry_list.h"
#include "batch/run.h"
#include "platform/system_dlls.h"
#include "res/resource.h"
#include "settings/settings.h"

HINSTANCE ProgramInstance;
wchar_t ProgramDir[MAX_PATH];

static wchar_t ModuleName[MAX_PATH];
/* False when the module name arrived cut: the directory taken from it would
 * be another one, and the options must not be read from or written there. */
static int ProgramDirKnown;

void SetProgramDirFrom(const wchar_t *moduleName, DWORD length)
{
    ProgramDirKnown = length > 0 && length < MAX_PATH - 1;
    wcsncpy(ProgramDir, moduleName, MAX_PATH - 1);
    ProgramDir[MAX_PATH - 1] = 0;
    wchar_t *lastBackslash = wcsrchr(ProgramDir, L'\\');
    if (lastBackslash != NULL)
        *lastBackslash = 0;
}

void InitProgramDir(void)
{
    DWORD length = GetModuleFileNameW(NULL, ModuleName, MAX_PATH - 1);
    /* Older systems leave a cut name unterminated; the buffer has room. */
    if (length > MAX_PATH - 1)
        length = MAX_PATH - 1;
    ModuleName[length] = 0;
    SetProgramDirFrom(ModuleName, length);
}

static int ComposeSettingsPath(wchar_t *path)
{
    return ProgramDirKnown && ComposePath(path, PATH_BUFFER_UNITS, ProgramDir, L"settings.ini");
}

static void SetCheck(HWND dialog, int id, int on)
{
    SendDlgItemMessageW(dialog, id, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

static void SetWindowIcons(HWND dialog)
{
    HANDLE big = LoadImageW(ProgramInstance, MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON, 32, 32, 0);
    SendMessageW(dialog, WM_SETICON, ICON_BIG, (LPARAM)big);
    HANDLE small = LoadImageW(ProgramInstance, MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON, 16, 16, 0);
    SendMessageW(dialog, WM_SETICON, ICON_SMALL, (LPARAM)small);
}

static void InitMainDialog(HWND dialog)
{
    wchar_t settingsPath[PATH_BUFFER_UNITS];
    MainDialog = dialog;
    SetDefaultSettings();
    if (ComposeSettingsPath(settingsPath))
        LoadSettings(settingsPath);
    SetWindowIcons(dialog);

    HWND list = GetDlgItem(dialog, IDC_ENTRY_LIST);
    PreviousListBoxProc = (WNDPROC)GetWindowLongPtrW(list, GWLP_WNDPROC);
    SetWindowLongPtrW(list, GWLP_WNDPROC, (LONG_PTR)ListBoxSubclassProc);
    SendMessageW(list, LB_SETHORIZONTALEXTENT, 4096, 0);

    SetCheck(dialog, IDC_KEEP_TIMES, Settings.modifyTimes);
    SetCheck(dialog, IDC_FILTER_MP3, Settings.filterExtension);
    SetCheck(dialog, IDC_SUBFOLDERS, Settings.includeSubDirectory);
    SetCheck(dialog, IDC_KEEP_TAGS, Settings.keepRiffTags);
    SetCheck(dialog, IDC_FIX_EXTENSION, Settings.fixExtension);
    DragAcceptFiles(dialog, TRUE);
}

void CloseMainDialog(HWND dialog)
{
    wchar_t settingsPath[PATH_BUFFER_UNITS];
    DragAcceptFiles(dialog, FALSE);
    if (ComposeSettingsPath(settingsPath))
        SaveSettings(settingsPath);
    EndDialog(dialog, 0);
}

static int IsChecked(HWND dialog, int id)
{
    return SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

static void OnButtonClicked(HWND dialog, int id)
{
    switch (id) {
    case IDOK:
        StartOrStopRun(dialog);
        break;
    case IDC_KEEP_TIMES:
        Settings.modifyTimes = IsChecked(dialog, id);
        break;
    case IDC_FILTER_MP3:
        Settings.filterExtension = IsChecked(dialog, id);
        break;
    case IDC_SUBFOLDERS:
        Settings.includeSubDirectory = IsChecked(dialog, id);
        break;
    case IDC_KEEP_TAGS:
        Settings.keepRiffTags = IsChecked(dialog, id);
        break;
    case IDC_FIX_EXTENSION:
        Settings.fixExtension = IsChecked(dialog, id);
        break;
    default:
        /* IDCANCEL included: Esc does not close the window. */
        break;
    }
}

static INT_PTR Answer(HWND dialog, LRESULT result)
{
    SetWindowLongPtrW(dialog, DWLP_MSGRESULT, (LONG_PTR)result);
    return TRUE;
}

INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitMainDialog(dialog);
        /* Added when the window is up, as a drop would be, so that the
         * title can tell what was skipped. */
        if (lParam != 0)
            PostMessageW(dialog, UM_ADD_ARGUMENTS, 0, lParam);
        return FALSE; /* the dialog manager does not place the focus */
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED)
            OnButtonClicked(dialog, LOWORD(wParam));
        return FALSE;
    case WM_DROPFILES:
        /* Drops are switched off during a run; one sent anyway must not
         * change the list under the conversion thread. */
        if (!RunState.busy)
            AddDroppedItems((HDROP)wParam);
        /* The receiver of a drop releases it. */
        DragFinish((HDROP)wParam);
        return FALSE;
    case WM_CLOSE:
        if (!RunState.busy || CloseDuringRun(dialog))
            CloseMainDialog(dialog);
        return FALSE;
    case UM_QUERY_STOP:
        return Answer(dialog, RunState.stopRequested);
    case UM_GET_COUNT:
        return Answer(dialog, SendDlgItemMessageW(dialog, IDC_ENTRY_LIST, LB_GETCOUNT, 0, 0));
    case UM_GET_ENTRY:
        GetEntryText(dialog, wParam, (wchar_t *)lParam);
        return FALSE;
    case UM_ADD_ARGUMENTS:
        if (!RunState.busy)
            AddArgumentItems((const wchar_t *)lParam);
        return FALSE;
    case UM_SET_PATH:
        SetEntryPath(dialog, wParam, (const wchar_t *)lParam);
        return FALSE;
    case UM_SET_STATUS:
        SetEntryStatus(dialog, wParam, lParam);
        return FALSE;
    case UM_RUN_DONE:
        FinishRun(dialog);
        return FALSE;
    case WM_TIMER:
        if (wParam == RUN_TITLE_TIMER)
            CatchUpProgress(dialog);
        return FALSE;
    }
    return FALSE;
}
