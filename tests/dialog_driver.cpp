/* dialog_driver.cpp: the real dialog on its own thread, driven by messages. */
#include "dialog_driver.h"

#include <shlobj.h>
#include <wchar.h>
#include <algorithm>

#include "batch/entry_list.h"
#include "batch/run.h"
#include "platform/system_dlls.h"
#include "res/resource.h"
#include "ui/dialog.h"

static HANDLE g_dialogThread;
static DWORD g_dialogThreadId;
static volatile INT_PTR g_dialogResult;
/* The command line handed to the dialog; it must outlive the dialog. */
static std::wstring g_commandLine;

static DWORD WINAPI DialogThread(LPVOID commandLine)
{
    g_dialogResult = DialogBoxParamW(ProgramInstance, MAKEINTRESOURCEW(IDD_MAIN), NULL, MainDlgProc,
                                     (LPARAM)commandLine);
    return 0;
}

bool WaitUntil(const std::function<bool()> &cond, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (cond())
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(5);
    }
}

HWND StartDialog(bool initProgramDir, const wchar_t *commandLine)
{
    /* The program takes these at start, before its dialog exists. */
    if (!LoadShellFunctions())
        return NULL;
    RunState.busy = RunState.stopRequested = RunState.closeRequested = 0;
    ProgramInstance = GetModuleHandleW(NULL);
    if (initProgramDir)
        InitProgramDir();
    MainDialog = NULL;
    g_dialogResult = -3;
    g_commandLine = commandLine != NULL ? commandLine : L"";
    g_dialogThread = CreateThread(NULL, 0, DialogThread,
                                  commandLine != NULL ? (LPVOID)g_commandLine.c_str() : NULL, 0,
                                  &g_dialogThreadId);
    if (g_dialogThread == NULL)
        return NULL;
    if (!WaitUntil([] { return MainDialog != NULL && IsWindowVisible(MainDialog); }, 10000))
        return NULL;
    return MainDialog;
}

INT_PTR WaitDialogEnd(DWORD timeoutMs)
{
    if (g_dialogThread == NULL)
        return -2;
    if (WaitForSingleObject(g_dialogThread, timeoutMs) != WAIT_OBJECT_0)
        return -2;
    CloseHandle(g_dialogThread);
    g_dialogThread = NULL;
    return g_dialogResult;
}

bool DialogRunning()
{
    return g_dialogThread != NULL && WaitForSingleObject(g_dialogThread, 0) == WAIT_TIMEOUT;
}

DWORD DialogThreadId()
{
    return g_dialogThreadId;
}

std::wstring SettingsPath()
{
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(NULL, module, MAX_PATH);
    std::wstring path = module;
    return path.substr(0, path.rfind(L'\\')) + L"\\settings.ini";
}

HWND EntryListOf(HWND dialog)
{
    return GetDlgItem(dialog, IDC_ENTRY_LIST);
}

std::vector<std::wstring> EntryTexts(HWND dialog)
{
    std::vector<std::wstring> texts;
    HWND list = EntryListOf(dialog);
    int count = (int)SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; i++) {
        /* A run may replace the entry with its longer status text between
         * the two calls; the buffer holds any text the program writes. */
        int length = (int)SendMessageW(list, LB_GETTEXTLEN, i, 0);
        std::wstring text(std::max(length + 1, PATH_BUFFER_UNITS), L'\0');
        SendMessageW(list, LB_GETTEXT, i, (LPARAM)&text[0]);
        text.resize(wcslen(text.c_str()));
        texts.push_back(text);
    }
    return texts;
}

std::vector<int> SelectedIndices(HWND dialog)
{
    std::vector<int> selected;
    HWND list = EntryListOf(dialog);
    int count = (int)SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; i++) {
        if ((int)SendMessageW(list, LB_GETSEL, i, 0) > 0)
            selected.push_back(i);
    }
    return selected;
}

void AddEntries(HWND dialog, const std::vector<std::wstring> &texts)
{
    for (const std::wstring &text : texts)
        SendMessageW(EntryListOf(dialog), LB_ADDSTRING, 0, (LPARAM)text.c_str());
}

bool IsChecked(HWND dialog, int id)
{
    return SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::wstring ButtonText(HWND dialog, int id)
{
    wchar_t text[256] = {0};
    GetDlgItemTextW(dialog, id, text, 256);
    return text;
}

std::wstring Title(HWND dialog)
{
    wchar_t title[256] = {0};
    GetWindowTextW(dialog, title, 256);
    return title;
}

bool AcceptsDrops(HWND dialog)
{
    return (GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0;
}

/* A drop's memory as the shell fills it: the DROPFILES header, then the
 * double-NUL-terminated wide list. */
static std::vector<unsigned char> DropBlock(const std::vector<std::wstring> &paths)
{
    size_t units = 1;
    for (const std::wstring &path : paths)
        units += path.size() + 1;
    std::vector<unsigned char> block(sizeof(DROPFILES) + units * sizeof(wchar_t), 0);
    DROPFILES *drop = (DROPFILES *)block.data();
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    wchar_t *names = (wchar_t *)(drop + 1);
    for (const std::wstring &path : paths) {
        memcpy(names, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
        names += path.size() + 1;
    }
    return block;
}

bool DropPaths(HWND dialog, const std::vector<std::wstring> &paths)
{
    bool accepted = AcceptsDrops(dialog);
    /* The shell only sends drops to windows that accept them. */
    if (!accepted)
        return false;
    std::vector<unsigned char> block = DropBlock(paths);
    HGLOBAL memory = GlobalAlloc(GHND, block.size());
    memcpy(GlobalLock(memory), block.data(), block.size());
    GlobalUnlock(memory);
    /* The dialog releases the handle (DragFinish) once it has read it. */
    SendMessageW(dialog, WM_DROPFILES, (WPARAM)memory, 0);
    return true;
}

bool DropPathsInto(HANDLE process, HWND dialog, const std::vector<std::wstring> &paths)
{
    if (!AcceptsDrops(dialog))
        return false;
    std::vector<unsigned char> block = DropBlock(paths);
    void *remote = VirtualAllocEx(process, NULL, block.size(), MEM_COMMIT, PAGE_READWRITE);
    if (remote == NULL)
        return false;
    if (!WriteProcessMemory(process, remote, block.data(), block.size(), NULL))
        return false;
    SendMessageW(dialog, WM_DROPFILES, (WPARAM)remote, 0);
    return true;
}

std::wstring ClipboardText()
{
    std::wstring text;
    if (!OpenClipboard(NULL))
        return text;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const wchar_t *units = data != NULL ? (const wchar_t *)GlobalLock(data) : NULL;
    if (units != NULL) {
        text = units;
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

bool SetClipboardText(const std::wstring &text)
{
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    if (memory == NULL)
        return false;
    memcpy(GlobalLock(memory), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(memory);
    bool placed = false;
    if (OpenClipboard(NULL)) {
        placed = EmptyClipboard() && SetClipboardData(CF_UNICODETEXT, memory) != NULL;
        CloseClipboard();
    }
    if (!placed)
        GlobalFree(memory);
    return placed;
}

void ClickButton(HWND dialog, int id)
{
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

void ClickControl(HWND dialog, int id)
{
    SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

void WithKeyHeld(UINT modifier, bool held, const std::function<void()> &action)
{
    DWORD self = GetCurrentThreadId();
    /* Sharing the dialog thread's input state lets this thread set the key
     * state that the dialog and the list read with GetKeyState. */
    AttachThreadInput(self, DialogThreadId(), TRUE);
    BYTE state[256];
    GetKeyboardState(state);
    BYTE saved = state[modifier];
    state[modifier] = held ? 0x80 : 0;
    SetKeyboardState(state);
    action();
    state[modifier] = saved;
    SetKeyboardState(state);
    AttachThreadInput(self, DialogThreadId(), FALSE);
}

void PressListKey(HWND dialog, UINT key, bool ctrl)
{
    HWND list = EntryListOf(dialog);
    WithKeyHeld(VK_CONTROL, ctrl, [&] {
        SendMessageW(list, WM_KEYDOWN, key, 1);
        SendMessageW(list, WM_KEYUP, key, 0xC0000001);
    });
}

struct FindRequest {
    const wchar_t *className;
    const wchar_t *title;
    HWND found;
};

static BOOL CALLBACK MatchWindow(HWND window, LPARAM param)
{
    FindRequest *request = (FindRequest *)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != GetCurrentProcessId())
        return TRUE;
    wchar_t className[64] = {0}, title[256] = {0};
    GetClassNameW(window, className, 64);
    GetWindowTextW(window, title, 256);
    if (lstrcmpW(className, request->className) == 0 && lstrcmpW(title, request->title) == 0) {
        request->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindTopWindow(const wchar_t *className, const wchar_t *title)
{
    FindRequest request = {className, title, NULL};
    EnumWindows(MatchWindow, (LPARAM)&request);
    return request.found;
}

struct ProcessWindow {
    DWORD pid;
    HWND found;
};

static BOOL CALLBACK MatchProcessDialog(HWND window, LPARAM param)
{
    ProcessWindow *request = (ProcessWindow *)param;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[64] = {0}, title[64] = {0};
    GetClassNameW(window, className, 64);
    GetWindowTextW(window, title, 64);
    if (owner == request->pid && lstrcmpW(className, L"#32770") == 0 &&
        lstrcmpW(title, L"Korvane") == 0 && IsWindowVisible(window)) {
        request->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindProcessDialog(DWORD pid)
{
    ProcessWindow request = {pid, NULL};
    EnumWindows(MatchProcessDialog, (LPARAM)&request);
    return request.found;
}

HWND StartProgram(const std::wstring &exe, const std::wstring &arguments, const wchar_t *folder,
                  PROCESS_INFORMATION *process)
{
    std::wstring commandLine = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    HWND window = NULL;
    *process = PROCESS_INFORMATION();
    if (!CreateProcessW(exe.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, folder, &startup,
                        process)) {
        *process = PROCESS_INFORMATION();
        return NULL;
    }
    WaitUntil([&] { return (window = FindProcessDialog(process->dwProcessId)) != NULL; }, 15000);
    return window;
}

DWORD FinishStartedProgram(const PROCESS_INFORMATION &process)
{
    DWORD exitCode = PROGRAM_DID_NOT_END;
    if (WaitForSingleObject(process.hProcess, 10000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &exitCode);
    } else {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}
