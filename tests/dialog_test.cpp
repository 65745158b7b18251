/*
 * dialog_test.cpp: program start and the main dialog. The real dialog runs
 * with the real template on a thread of its own and is driven with window
 * messages; the resources (template, icon, manifest) are read back from
 * this program, which links the same compiled resources as Korvane.exe, and
 * from Korvane.exe itself, which is also started once as a real process.
 *
 * settings.ini next to this program is shared with the other test programs
 * in the folder: every case starts and ends with it deleted.
 */
#include <gtest/gtest.h>

#include <windows.h>
#include <set>
#include <string>
#include <vector>

#include "dialog_driver.h"
#include "test_files.h"

#include "batch/entry_list.h"
#include "batch/run.h"
#include "res/resource.h"
#include "res/version.h"
#include "settings/settings.h"
#include "ui/dialog.h"

namespace
{

const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

/* The resource types as wide names (the headers give narrow ones here). */
const LPCWSTR kTypeDialog = (LPCWSTR)RT_DIALOG;
const LPCWSTR kTypeIcon = (LPCWSTR)RT_ICON;
const LPCWSTR kTypeGroupIcon = (LPCWSTR)RT_GROUP_ICON;
const LPCWSTR kTypeManifest = (LPCWSTR)RT_MANIFEST;
const LPCWSTR kManifestId = (LPCWSTR)MAKEINTRESOURCEW(1);

const wchar_t kDefaultBody[] = L"ModifyTimes=0\r\nFilterExtension=1\r\nIncludeSubDirectory="
                               L"1\r\nKeepRiffTags=1\r\nFixExtension=1\r\n";

/* A settings file as the program writes it: the byte order mark, then the
 * text in UTF-16 little-endian. */
Bytes Utf16File(const std::wstring &body)
{
    Bytes bytes = {0xFF, 0xFE};
    for (wchar_t unit : body) {
        bytes.push_back((unsigned char)(unit & 0xFF));
        bytes.push_back((unsigned char)(unit >> 8));
    }
    return bytes;
}

std::wstring ExeDir()
{
    std::wstring path = SettingsPath();
    return path.substr(0, path.rfind(L'\\'));
}

bool SettingsFileIs(const std::wstring &path, const std::wstring &body)
{
    return FileExists(path) && ReadBytes(path) == Utf16File(body);
}

/* Shows the file's text on failure instead of a byte dump. */
std::string SettingsText(const std::wstring &path)
{
    if (!FileExists(path))
        return "(no file)";
    Bytes bytes = ReadBytes(path);
    std::wstring text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += (wchar_t)(bytes[i] | bytes[i + 1] << 8);
    return Narrow(text);
}

/* 0 when there is no icon. */
int IconWidth(HICON icon)
{
    ICONINFO info;
    BITMAP bitmap = {};
    if (icon == NULL || !GetIconInfo(icon, &info))
        return 0;
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

INT_PTR CloseAndWait(HWND dialog)
{
    SendMessageW(dialog, WM_CLOSE, 0, 0);
    return WaitDialogEnd(3000);
}

/* Posted messages reach the dialog's modal loop in order, so once a posted
 * marker (an odd horizontal extent for the list) has taken effect, every
 * message posted before it has been handled. The extent is then put back. */
bool PostMarkerAndWait(HWND dialog)
{
    HWND list = EntryListOf(dialog);
    PostMessageW(list, LB_SETHORIZONTALEXTENT, 4321, 0);
    bool seen =
        WaitUntil([&] { return SendMessageW(list, LB_GETHORIZONTALEXTENT, 0, 0) == 4321; }, 3000);
    SendMessageW(list, LB_SETHORIZONTALEXTENT, 4096, 0);
    return seen;
}

class DialogTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        DeleteFileW(SettingsPath().c_str());
    }
    void TearDown() override
    {
        if (DialogRunning()) {
            PostMessageW(MainDialog, WM_CLOSE, 0, 0);
            WaitDialogEnd(5000);
        }
        DeleteFileW(SettingsPath().c_str());
    }
};

/* ---- Opening and closing ---- */

TEST_F(DialogTest, OpensWithDefaultsAndSavesThemOnClose)
{
    HWND dialog = StartDialog();
    ASSERT_NE(dialog, (HWND)NULL);

    /* The program's directory, without a trailing backslash. */
    EXPECT_EQ(std::wstring(ProgramDir), ExeDir());

    EXPECT_FALSE(IsChecked(dialog, IDC_KEEP_TIMES));
    EXPECT_TRUE(IsChecked(dialog, IDC_FILTER_MP3));
    EXPECT_TRUE(IsChecked(dialog, IDC_SUBFOLDERS));
    EXPECT_EQ(Settings.modifyTimes, 0);
    EXPECT_EQ(Settings.filterExtension, 1);
    EXPECT_EQ(Settings.includeSubDirectory, 1);
    /* Opening alone writes nothing. */
    EXPECT_FALSE(FileExists(SettingsPath()));

    /* Both window icons are set, each at its own size. */
    EXPECT_EQ(IconWidth((HICON)SendMessageW(dialog, WM_GETICON, ICON_BIG, 0)), 32);
    EXPECT_EQ(IconWidth((HICON)SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0)), 16);

    /* The list is prepared: empty, scrollable sideways, keys its own but Tab. */
    HWND list = EntryListOf(dialog);
    EXPECT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(SendMessageW(list, LB_GETHORIZONTALEXTENT, 0, 0), 4096);
    EXPECT_EQ(SendMessageW(list, WM_GETDLGCODE, 0, 0), DLGC_WANTALLKEYS);
    EXPECT_TRUE(AcceptsDrops(dialog));

    /* The start button is the default one. */
    EXPECT_EQ(SendMessageW(dialog, DM_GETDEFID, 0, 0), MAKELRESULT(IDOK, DC_HASDEFID));

    /* Centered on the screen's work area. */
    RECT window, work;
    GetWindowRect(dialog, &window);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_LE(abs((window.left + window.right) - (work.left + work.right)), 2);
    EXPECT_LE(abs((window.top + window.bottom) - (work.top + work.bottom)), 2);

    /* A close with no run in progress ends the dialog at once with 0, with
     * no question asked, and writes exactly the defaults. */
    EXPECT_EQ(CloseAndWait(dialog), 0);
    EXPECT_EQ(FindTopWindow(L"#32770", L"Korvane"), (HWND)NULL);
    EXPECT_TRUE(SettingsFileIs(SettingsPath(), kDefaultBody)) << SettingsText(SettingsPath());
    EXPECT_EQ(ReadBytes(SettingsPath()).size(), 180u);
}

TEST_F(DialogTest, EscAndCancelDoNotCloseButTheCloseButtonDoes)
{
    HWND dialog = StartDialog();
    ASSERT_NE(dialog, (HWND)NULL);

    /* Esc, pressed on a check box, goes through the dialog's own key
     * handling and arrives as IDCANCEL. */
    PostMessageW(GetDlgItem(dialog, IDC_FILTER_MP3), WM_KEYDOWN, VK_ESCAPE, 1);
    PostMessageW(GetDlgItem(dialog, IDC_FILTER_MP3), WM_KEYUP, VK_ESCAPE, 0xC0000001);
    ASSERT_TRUE(PostMarkerAndWait(dialog));
    ClickButton(dialog, IDCANCEL);
    Sleep(200);
    EXPECT_TRUE(DialogRunning());
    EXPECT_TRUE(IsWindowVisible(dialog));
    /* Nothing of the close happened: the options were not saved. */
    EXPECT_FALSE(FileExists(SettingsPath()));
    EXPECT_TRUE(AcceptsDrops(dialog));

    /* The close box (and Alt+F4) arrive as SC_CLOSE. */
    ClickControl(dialog, IDC_KEEP_TIMES);
    SendMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(WaitDialogEnd(3000), 0);
    EXPECT_TRUE(SettingsFileIs(SettingsPath(),
                               L"ModifyTimes=1\r\nFilterExtension=1\r\nIncludeSubDirectory="
                               L"1\r\nKeepRiffTags=1\r\nFixExtension=1\r\n"))
        << SettingsText(SettingsPath());
}

TEST_F(DialogTest, EnterStartsARunExceptWhenTheListHasTheFocus)
{
    std::wstring missing = FreshDir(L"dialog-enter") + L"\\missing.mp3";
    HWND dialog = StartDialog();
    ASSERT_NE(dialog, (HWND)NULL);
    AddEntries(dialog, {missing});
    std::wstring startText = ButtonText(dialog, IDOK);

    /* In the list, Enter belongs to the list: no run. */
    PostMessageW(EntryListOf(dialog), WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(EntryListOf(dialog), WM_KEYUP, VK_RETURN, 0xC0000001);
    ASSERT_TRUE(PostMarkerAndWait(dialog));
    EXPECT_EQ(RunState.busy, 0);
    EXPECT_EQ(EntryTexts(dialog)[0], missing);
    EXPECT_EQ(ButtonText(dialog, IDOK), startText);

    /* On a check box, Enter presses the default button: the run reaches the
     * entry and gives it a status suffix. */
    PostMessageW(GetDlgItem(dialog, IDC_SUBFOLDERS), WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(GetDlgItem(dialog, IDC_SUBFOLDERS), WM_KEYUP, VK_RETURN, 0xC0000001);
    EXPECT_TRUE(WaitUntil(
        [&] {
            return EntryTexts(dialog)[0].compare(0, missing.size() + 4, missing + L"\n > ") == 0;
        },
        5000))
        << Narrow(EntryTexts(dialog)[0]);
    EXPECT_TRUE(WaitUntil([] { return RunState.busy == 0; }, 5000));
    EXPECT_TRUE(IsChecked(dialog, IDC_SUBFOLDERS));

    EXPECT_EQ(CloseAndWait(dialog), 0);
    RemoveTree(missing.substr(0, missing.rfind(L'\\')));
}

/* ---- The options and their file ---- */

TEST_F(DialogTest, CheckBoxClicksAreStoredSavedAndShownOnTheNextStart)
{
    HWND dialog = StartDialog();
    ASSERT_NE(dialog, (HWND)NULL);

    /* A click is stored at once, not only when closing. */
    ClickControl(dialog, IDC_FILTER_MP3);
    EXPECT_FALSE(IsChecked(dialog, IDC_FILTER_MP3));
    EXPECT_EQ(Settings.filterExtension, 0);
    EXPECT_EQ(CloseAndWait(dialog), 0);
    EXPECT_TRUE(SettingsFileIs(SettingsPath(),
                               L"ModifyTimes=0\r\nFilterExtension=0\r\nIncludeSubDirectory="
                               L"1\r\nKeepRiffTags=1\r\nFixExtension=1\r\n"))
        << SettingsText(SettingsPath());

    /* The next start shows it clear; the other two boxes follow as well. */
    dialog = StartDialog();
    ASSERT_NE(dialog, (HWND)NULL);
    EXPECT_FALSE(IsChecked(dialog, IDC_KEEP_TIMES));
    EXPECT_FALSE(IsChecked(dialog, IDC_FILTER_MP3));
    EXPECT_TRUE(IsChecked(dialog, IDC_SUBFOLDERS));
    EXPECT_TRUE(IsChecked(dialog, IDC_KEEP_TAGS));
    EXPECT_TRUE(IsChecked(dialog, IDC_FIX_EXTENSION));
    ClickControl(dialog, IDC_KEEP_TIMES);
    ClickControl(dialog, IDC_SUBFOLDERS);
    ClickControl(dialog, IDC_FILTER_MP3);
    ClickControl(dialog, IDC_KEEP_TAGS);
    ClickControl(dialog, IDC_FIX_EXTENSION);
    EXPECT_EQ(Settings.modifyTimes, 1);
    EXPECT_EQ(Settings.filterExtension, 1);
    EXPECT_EQ(Settings.includeSubDirectory, 0);
    EXPECT_EQ(Settings.keepRiffTags, 0);
    EXPECT_EQ(Settings.fixExtension, 0);
    EXPECT_EQ(CloseAndWait(dialog), 0);
    EXPECT_TRUE(SettingsFileIs(SettingsPath(), L"ModifyTimes=1\r\nFilterExtension=1\r\n"
                                               L"IncludeSubDirectory=0\r\nKeepRiffTags=0\r\n"
                                               L"FixExtension=0\r\n"))
        << SettingsText(SettingsPath());

    dialog = StartDialog();
    ASSERT_NE(dialog, (HWND)NULL);
    EXPECT_TRUE(IsChecked(dialog, IDC_KEEP_TIMES));
    EXPECT_TRUE(IsChecked(dialog, IDC_FILTER_MP3));
    EXPECT_FALSE(IsChecked(dialog, IDC_SUBFOLDERS));
    EXPECT_FALSE(IsChecked(dialog, IDC_KEEP_TAGS));
    EXPECT_FALSE(IsChecked(dialog, IDC_FIX_EXTENSION));
    EXPECT_EQ(CloseAndWait(dialog), 0);
}

TEST_F(DialogTest, OnlyClickNotificationsChangeTheOptions)
{
    HWND dialog = StartDialog();
    ASSERT_NE(dialog, (HWND)NULL);
    HWND box = GetDlgItem(dialog, IDC_FILTER_MP3);

    /* The box is cleared without a notification; other notifications from
     * it leave the option alone. */
    SendMessageW(box, BM_SETCHECK, BST_UNCHECKED, 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_FILTER_MP3, BN_DOUBLECLICKED), (LPARAM)box);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_FILTER_MP3, BN_SETFOCUS), (LPARAM)box);
    EXPECT_EQ(Settings.filterExtension, 1);
    /* A click reads the box as it now stands. */
    ClickButton(dialog, IDC_FILTER_MP3);
    EXPECT_EQ(Settings.filterExtension, 0);

    HWND keep = GetDlgItem(dialog, IDC_KEEP_TIMES);
    SendMessageW(keep, BM_SETCHECK, BST_CHECKED, 0);
    ClickButton(dialog, IDC_KEEP_TIMES);
    EXPECT_EQ(Settings.modifyTimes, 1);
    SendMessageW(keep, BM_SETCHECK, BST_UNCHECKED, 0);
    ClickButton(dialog, IDC_KEEP_TIMES);
    EXPECT_EQ(Settings.modifyTimes, 0);

    /* Clicks reported by other ids change nothing. */
    ClickButton(dialog, 1007);
    ClickButton(dialog, IDC_ENTRY_LIST);
    EXPECT_EQ(Settings.modifyTimes, 0);
    EXPECT_EQ(Settings.filterExtension, 0);
    EXPECT_EQ(Settings.includeSubDirectory, 1);

    EXPECT_EQ(CloseAndWait(dialog), 0);
    EXPECT_TRUE(SettingsFileIs(SettingsPath(),
                               L"ModifyTimes=0\r\nFilterExtension=0\r\nIncludeSubDirectory="
                               L"1\r\nKeepRiffTags=1\r\nFixExtension=1\r\n"))
        << SettingsText(SettingsPath());
}

TEST_F(DialogTest, ValuesFromTheFileAreShownAndWrittenBackUntouched)
{
    /* Any non-zero value is on; an untouched value goes back as it came;
     * unknown keys are dropped. */
    ASSERT_TRUE(
        WriteBytes(SettingsPath(), Utf16File(L"ModifyTimes=5\r\nFilterExtension=0\r\n"
                                             L"Colour=blue\r\nIncludeSubDirectory=-3\r\n")));
    HWND dialog = StartDialog();
    ASSERT_NE(dialog, (HWND)NULL);
    EXPECT_TRUE(IsChecked(dialog, IDC_KEEP_TIMES));
    EXPECT_FALSE(IsChecked(dialog, IDC_FILTER_MP3));
    EXPECT_TRUE(IsChecked(dialog, IDC_SUBFOLDERS));
    EXPECT_EQ(CloseAndWait(dialog), 0);
    EXPECT_TRUE(SettingsFileIs(SettingsPath(),
                               L"ModifyTimes=5\r\nFilterExtension=0\r\nIncludeSubDirectory="
                               L"-3\r\nKeepRiffTags=1\r\nFixExtension=1\r\n"))
        << SettingsText(SettingsPath());

    /* A box clicked off and on again stores 1, not the old value. */
    dialog = StartDialog();
    ASSERT_NE(dialog, (HWND)NULL);
    ClickControl(dialog, IDC_KEEP_TIMES);
    ClickControl(dialog, IDC_KEEP_TIMES);
    EXPECT_TRUE(IsChecked(dialog, IDC_KEEP_TIMES));
    EXPECT_EQ(CloseAndWait(dialog), 0);
    EXPECT_TRUE(SettingsFileIs(SettingsPath(),
                               L"ModifyTimes=1\r\nFilterExtension=0\r\nIncludeSubDirectory="
                               L"-3\r\nKeepRiffTags=1\r\nFixExtension=1\r\n"))
        << SettingsText(SettingsPath());

    /* The defaults are assigned again at every start: with the file gone,
     * nothing of the previous start's values remains. */
    DeleteFileW(SettingsPath().c_str());
    dialog = StartDialog();
    ASSERT_NE(dialog, (HWND)NULL);
    EXPECT_FALSE(IsChecked(dialog, IDC_KEEP_TIMES));
    EXPECT_TRUE(IsChecked(dialog, IDC_FILTER_MP3));
    EXPECT_TRUE(IsChecked(dialog, IDC_SUBFOLDERS));
    EXPECT_EQ(CloseAndWait(dialog), 0);
    EXPECT_TRUE(SettingsFileIs(SettingsPath(), kDefaultBody)) << SettingsText(SettingsPath());

    /* A file without the byte order mark is ignored, then replaced. */
    ASSERT_TRUE(WriteBytes(SettingsPath(), Bytes({'M', 'o', 'd', 'i', 'f', 'y', 'T', 'i', 'm', 'e',
                                                  's', '=', '1', '\r', '\n'})));
    dialog = StartDialog();
    ASSERT_NE(dialog, (HWND)NULL);
    EXPECT_FALSE(IsChecked(dialog, IDC_KEEP_TIMES));
    EXPECT_EQ(CloseAndWait(dialog), 0);
    EXPECT_TRUE(SettingsFileIs(SettingsPath(), kDefaultBody)) << SettingsText(SettingsPath());
}

TEST_F(DialogTest, ACutModulePathNeitherLoadsNorSavesTheOptions)
{
    /* A module name that filled the 259 units it was allowed was cut: the
     * directory left over is a real folder, but not the program's. */
    std::wstring dir = FreshDir(L"dialog-cut-path");
    std::wstring foreign = dir + L"\\settings.ini";
    const std::wstring body = L"ModifyTimes=1\r\nFilterExtension=0\r\n";
    ASSERT_TRUE(WriteBytes(foreign, Utf16File(body)));
    ASSERT_LT(dir.size(), 200u);
    std::wstring name = dir + L"\\" + std::wstring(MAX_PATH - 1 - dir.size() - 1, L'k');
    ASSERT_EQ(name.size(), (size_t)MAX_PATH - 1);

    SetProgramDirFrom(name.c_str(), MAX_PATH - 1);
    EXPECT_EQ(std::wstring(ProgramDir), dir);
    HWND dialog = StartDialog(false);
    ASSERT_NE(dialog, (HWND)NULL);
    EXPECT_FALSE(IsChecked(dialog, IDC_KEEP_TIMES));
    EXPECT_TRUE(IsChecked(dialog, IDC_FILTER_MP3));
    EXPECT_TRUE(IsChecked(dialog, IDC_SUBFOLDERS));
    /* The options still work for this session. */
    ClickControl(dialog, IDC_SUBFOLDERS);
    EXPECT_EQ(Settings.includeSubDirectory, 0);
    EXPECT_EQ(CloseAndWait(dialog), 0);
    EXPECT_TRUE(SettingsFileIs(foreign, body)) << SettingsText(foreign);
    EXPECT_FALSE(FileExists(SettingsPath()));

    /* One unit shorter, the name is whole: the same folder is used. */
    name.pop_back();
    SetProgramDirFrom(name.c_str(), MAX_PATH - 2);
    EXPECT_EQ(std::wstring(ProgramDir), dir);
    dialog = StartDialog(false);
    ASSERT_NE(dialog, (HWND)NULL);
    EXPECT_TRUE(IsChecked(dialog, IDC_KEEP_TIMES));
    EXPECT_FALSE(IsChecked(dialog, IDC_FILTER_MP3));
    EXPECT_EQ(CloseAndWait(dialog), 0);
    EXPECT_TRUE(SettingsFileIs(foreign,
                               L"ModifyTimes=1\r\nFilterExtension=0\r\nIncludeSubDirectory="
                               L"1\r\nKeepRiffTags=1\r\nFixExtension=1\r\n"))
        << SettingsText(foreign);
    EXPECT_FALSE(FileExists(SettingsPath()));

    /* The program's own start finds its folder again. */
    InitProgramDir();
    EXPECT_EQ(std::wstring(ProgramDir), ExeDir());
    RemoveTree(dir);
}

/* ---- The resources ---- */

struct Reader {
    const BYTE *data;
    DWORD size;
    DWORD at;
    bool ok;

    bool Need(DWORD count)
    {
        if (!ok || count > size || at > size - count)
            ok = false;
        return ok;
    }
    WORD Word()
    {
        if (!Need(2))
            return 0;
        WORD value = (WORD)(data[at] | data[at + 1] << 8);
        at += 2;
        return value;
    }
    DWORD Dword()
    {
        DWORD low = Word();
        return low | (DWORD)Word() << 16;
    }
    BYTE Byte()
    {
        if (!Need(1))
            return 0;
        return data[at++];
    }
    std::wstring String()
    {
        std::wstring text;
        for (WORD unit = Word(); ok && unit != 0; unit = Word())
            text += (wchar_t)unit;
        return text;
    }
    void AlignDword()
    {
        at = (at + 3) & ~3u;
    }
};

/* A name or ordinal field: 0x0000 alone, 0xFFFF then an ordinal, or a
 * string. Written as "#n" for an ordinal. */
std::wstring NameOrOrdinal(Reader &reader)
{
    WORD first = reader.Word();
    if (first == 0xFFFF)
        return L"#" + std::to_wstring(reader.Word());
    reader.at -= 2;
    return reader.String();
}

struct TemplateItem {
    DWORD helpId, exStyle, style;
    short x, y, cx, cy;
    DWORD id;
    std::wstring className, text;
    WORD extraBytes;
};

struct Template {
    WORD version, signature;
    DWORD helpId, exStyle, style;
    short x, y, cx, cy;
    std::wstring menu, className, title;
    WORD pointSize, weight;
    BYTE italic, charset;
    std::wstring face;
    std::vector<TemplateItem> items;
};

bool ParseTemplate(const BYTE *data, DWORD size, Template *out)
{
    Reader reader = {data, size, 0, true};
    out->version = reader.Word();
    out->signature = reader.Word();
    out->helpId = reader.Dword();
    out->exStyle = reader.Dword();
    out->style = reader.Dword();
    WORD count = reader.Word();
    out->x = (short)reader.Word();
    out->y = (short)reader.Word();
    out->cx = (short)reader.Word();
    out->cy = (short)reader.Word();
    out->menu = NameOrOrdinal(reader);
    out->className = NameOrOrdinal(reader);
    out->title = reader.String();
    out->pointSize = reader.Word();
    out->weight = reader.Word();
    out->italic = reader.Byte();
    out->charset = reader.Byte();
    out->face = reader.String();
    for (WORD i = 0; i < count && reader.ok; i++) {
        TemplateItem item;
        reader.AlignDword();
        item.helpId = reader.Dword();
        item.exStyle = reader.Dword();
        item.style = reader.Dword();
        item.x = (short)reader.Word();
        item.y = (short)reader.Word();
        item.cx = (short)reader.Word();
        item.cy = (short)reader.Word();
        item.id = reader.Dword();
        item.className = NameOrOrdinal(reader);
        item.text = NameOrOrdinal(reader);
        item.extraBytes = reader.Word();
        reader.at += item.extraBytes;
        out->items.push_back(item);
    }
    return reader.ok && out->items.size() == count;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param)
{
    ((std::vector<WORD> *)param)->push_back(language);
    return TRUE;
}

std::vector<WORD> LanguagesOf(HMODULE module, LPCWSTR type, LPCWSTR name)
{
    std::vector<WORD> languages;
    EnumResourceLanguagesW(module, type, name, CollectLanguage, (LONG_PTR)&languages);
    return languages;
}

bool LoadResourceBytes(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, const BYTE **data,
                       DWORD *size)
{
    HRSRC found = FindResourceExW(module, type, name, language);
    if (found == NULL)
        return false;
    HGLOBAL loaded = LoadResource(module, found);
    *data = (const BYTE *)LockResource(loaded);
    *size = SizeofResource(module, found);
    return *data != NULL;
}

struct ExpectedControl {
    DWORD id;
    const wchar_t *className;
    DWORD style;
    short x, y, cx, cy;
    const wchar_t *text;
};

const DWORD kChild = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
const ExpectedControl kControls[] = {
    {IDOK, L"#128", kChild | BS_DEFPUSHBUTTON, 150, 258, 90, 12, L"変換開始"},
    {IDC_ENTRY_LIST, L"#131",
     kChild | WS_BORDER | WS_VSCROLL | WS_HSCROLL | LBS_NOTIFY | LBS_EXTENDEDSEL |
         LBS_NOINTEGRALHEIGHT,
     6, 6, 378, 156, L""},
    {IDC_KEEP_TIMES, L"#128", kChild | BS_AUTOCHECKBOX, 6, 168, 378, 12,
     L"変換前のファイルの更新日時を維持する"},
    {IDC_FILTER_MP3, L"#128", kChild | BS_AUTOCHECKBOX, 6, 186, 378, 12,
     L"フォルダを追加する時に拡張子が.mp3以外のファイルを除外する"},
    {IDC_SUBFOLDERS, L"#128", kChild | BS_AUTOCHECKBOX, 6, 204, 378, 12,
     L"フォルダを追加する時にサブフォルダ内のファイルを含める"},
    {IDC_KEEP_TAGS, L"#128", kChild | BS_AUTOCHECKBOX, 6, 222, 378, 12,
     L"RIFF内の曲名などのタグ情報をID3v2タグとして残す"},
    {IDC_FIX_EXTENSION, L"#128", kChild | BS_AUTOCHECKBOX, 6, 240, 378, 12,
     L"中身に合わせて拡張子を .mp3 などに変える"},
};

void CheckDialogTemplate(HMODULE module)
{
    EXPECT_EQ(LanguagesOf(module, kTypeDialog, MAKEINTRESOURCEW(IDD_MAIN)),
              std::vector<WORD>{kJapanese});
    const BYTE *data;
    DWORD size;
    ASSERT_TRUE(LoadResourceBytes(module, kTypeDialog, MAKEINTRESOURCEW(IDD_MAIN), kJapanese, &data,
                                  &size));
    Template dlg;
    ASSERT_TRUE(ParseTemplate(data, size, &dlg));

    EXPECT_EQ(dlg.version, 1);
    EXPECT_EQ(dlg.signature, 0xFFFF);
    EXPECT_EQ(dlg.helpId, 0u);
    EXPECT_EQ(dlg.exStyle, 0u);
    EXPECT_EQ(dlg.style, (DWORD)(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                                 DS_MODALFRAME | DS_CENTER | DS_SETFONT | DS_FIXEDSYS))
        << std::hex << dlg.style;
    EXPECT_EQ(dlg.x, 0);
    EXPECT_EQ(dlg.y, 0);
    EXPECT_EQ(dlg.cx, 388);
    EXPECT_EQ(dlg.cy, 275);
    EXPECT_EQ(dlg.menu, L"");
    EXPECT_EQ(dlg.className, L"");
    EXPECT_EQ(dlg.title, L"Korvane");
    EXPECT_EQ(dlg.pointSize, 8);
    EXPECT_EQ(dlg.weight, 400);
    EXPECT_EQ(dlg.italic, 0);
    EXPECT_EQ(dlg.charset, 1);
    EXPECT_EQ(dlg.face, L"MS Shell Dlg");

    ASSERT_EQ(dlg.items.size(), sizeof kControls / sizeof kControls[0]);
    for (size_t i = 0; i < dlg.items.size(); i++) {
        const TemplateItem &item = dlg.items[i];
        const ExpectedControl &want = kControls[i];
        SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(want.id));
        EXPECT_EQ(item.id, want.id);
        EXPECT_EQ(item.helpId, 0u);
        EXPECT_EQ(item.exStyle, 0u);
        EXPECT_EQ(item.style, want.style) << std::hex << item.style;
        EXPECT_EQ(item.className, want.className);
        EXPECT_EQ(item.text, want.text);
        EXPECT_EQ(item.x, want.x);
        EXPECT_EQ(item.y, want.y);
        EXPECT_EQ(item.cx, want.cx);
        EXPECT_EQ(item.cy, want.cy);
        EXPECT_EQ(item.extraBytes, 0);
    }
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colorCount, reserved;
    WORD planes, bitCount;
    DWORD bytesInRes;
    WORD id;
};
#pragma pack(pop)

void CheckIcon(HMODULE module)
{
    EXPECT_EQ(LanguagesOf(module, kTypeGroupIcon, MAKEINTRESOURCEW(IDI_MAIN)),
              std::vector<WORD>{kJapanese});
    const BYTE *data;
    DWORD size;
    ASSERT_TRUE(LoadResourceBytes(module, kTypeGroupIcon, MAKEINTRESOURCEW(IDI_MAIN), kJapanese,
                                  &data, &size));
    ASSERT_GE(size, 6u);
    WORD reserved = *(const WORD *)data, type = *(const WORD *)(data + 2);
    WORD count = *(const WORD *)(data + 4);
    EXPECT_EQ(reserved, 0);
    EXPECT_EQ(type, 1);
    ASSERT_EQ(size, 6u + count * sizeof(GroupIconEntry));

    std::set<int> sizes;
    for (WORD i = 0; i < count; i++) {
        GroupIconEntry entry;
        memcpy(&entry, data + 6 + i * sizeof entry, sizeof entry);
        int side = entry.width == 0 ? 256 : entry.width;
        SCOPED_TRACE("image of " + std::to_string(side) + " pixels");
        sizes.insert(side);
        EXPECT_EQ(entry.height, entry.width);
        EXPECT_EQ(entry.bitCount, 8);

        /* The image itself: a bitmap of that size and depth, 256 colours. */
        const BYTE *image;
        DWORD imageSize;
        ASSERT_TRUE(LoadResourceBytes(module, kTypeIcon, MAKEINTRESOURCEW(entry.id), kJapanese,
                                      &image, &imageSize));
        EXPECT_EQ(imageSize, entry.bytesInRes);
        ASSERT_GE(imageSize, sizeof(BITMAPINFOHEADER));
        BITMAPINFOHEADER header;
        memcpy(&header, image, sizeof header);
        EXPECT_EQ(header.biSize, sizeof header);
        EXPECT_EQ(header.biWidth, side);
        EXPECT_EQ(header.biHeight, 2 * side);
        EXPECT_EQ(header.biBitCount, 8);
        DWORD maskRow = (side + 31) / 32 * 4;
        EXPECT_GE(imageSize, sizeof header + 256 * 4 + side * side + maskRow * side);
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 32, 48}));
}

void CheckManifest(HMODULE module)
{
    std::vector<WORD> languages = LanguagesOf(module, kTypeManifest, kManifestId);
    ASSERT_EQ(languages.size(), 1u) << "exactly one manifest";
    const BYTE *data;
    DWORD size;
    ASSERT_TRUE(LoadResourceBytes(module, kTypeManifest, kManifestId, languages[0], &data, &size));
    std::string text((const char *)data, size);
    EXPECT_EQ(text.find("<?xml"), 0u);

    size_t level = text.find("<requestedExecutionLevel");
    ASSERT_NE(level, std::string::npos) << text;
    std::string element = text.substr(level, text.find('>', level) - level);
    EXPECT_NE(element.find("level=\"asInvoker\""), std::string::npos) << element;
    EXPECT_NE(element.find("uiAccess=\"false\""), std::string::npos) << element;
    EXPECT_EQ(text.find("<requestedExecutionLevel", level + 1), std::string::npos);

    std::string lower = text;
    for (char &c : lower)
        c = (char)tolower((unsigned char)c);
    EXPECT_EQ(lower.find("microsoft.windows.common-controls"), std::string::npos) << text;
    EXPECT_EQ(lower.find("<dependency"), std::string::npos) << text;

    /* Aware of the system DPI, so that a scaled display shows the dialog
     * laid out at its DPI rather than stretched; never per monitor, since
     * the dialog does not lay itself out again at run time. */
    size_t aware = text.find("<dpiAware");
    ASSERT_NE(aware, std::string::npos) << text;
    size_t content = text.find('>', aware) + 1;
    std::string awareElement = text.substr(aware, content - aware);
    EXPECT_NE(awareElement.find("xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\""),
              std::string::npos)
        << awareElement;
    EXPECT_EQ(text.substr(content, text.find('<', content) - content), "true");
    size_t settings = text.find("<windowsSettings");
    EXPECT_TRUE(settings < aware && text.find("</windowsSettings>", aware) != std::string::npos);
    EXPECT_EQ(lower.find("permonitor"), std::string::npos) << text;
    EXPECT_EQ(lower.find("<dpiawareness"), std::string::npos) << text;
}

TEST(DialogResources, TemplateIconAndManifestOfThisProgram)
{
    HMODULE self = GetModuleHandleW(NULL);
    CheckDialogTemplate(self);
    CheckIcon(self);
    CheckManifest(self);
    /* The system reads the manifest as declaring this process DPI-aware
     * (the call exists from Windows Vista on). */
    typedef BOOL(WINAPI * IsProcessDpiAwareFn)(void);
    IsProcessDpiAwareFn isAware = (IsProcessDpiAwareFn)(void (*)(void))GetProcAddress(
        GetModuleHandleW(L"user32.dll"), "IsProcessDPIAware");
    if (isAware != NULL) {
        EXPECT_TRUE(isAware());
    }
    /* The icon loads at the two sizes the window uses. */
    for (int side : {16, 32}) {
        HICON icon = (HICON)LoadImageW(self, MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON, side, side, 0);
        EXPECT_NE(icon, (HICON)NULL) << side;
        if (icon != NULL)
            DestroyIcon(icon);
    }
}

TEST(DialogResources, TemplateIconAndManifestOfKorvaneExe)
{
    std::wstring exe = ExeDir() + L"\\Korvane.exe";
    if (!FileExists(exe))
        GTEST_SKIP() << "Korvane.exe is not built";
    HMODULE module = LoadLibraryExW(exe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, (HMODULE)NULL);
    CheckDialogTemplate(module);
    CheckIcon(module);
    CheckManifest(module);
    FreeLibrary(module);
}

/* One string of the version resource's table for language and code page
 * (as "041104b0"). */
std::wstring VersionString(std::vector<BYTE> &info, const wchar_t *table, const wchar_t *name)
{
    std::wstring query = std::wstring(L"\\StringFileInfo\\") + table + L"\\" + name;
    void *value = NULL;
    UINT units = 0;
    if (!VerQueryValueW(info.data(), query.c_str(), &value, &units) || value == NULL)
        return L"(missing)";
    return (const wchar_t *)value;
}

/* Read as the file's properties page reads it: the language and code page
 * listed under Translation name the table its strings come from. */
TEST(DialogResources, VersionOfKorvaneExeAsItsPropertiesPageReadsIt)
{
    std::wstring exe = ExeDir() + L"\\Korvane.exe";
    if (!FileExists(exe))
        GTEST_SKIP() << "Korvane.exe is not built";
    DWORD unused = 0, size = GetFileVersionInfoSizeW(exe.c_str(), &unused);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO *fixed = NULL;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", (void **)&fixed, &length));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS,
              (DWORD)MAKELONG(KORVANE_VERSION_MINOR, KORVANE_VERSION_MAJOR));
    EXPECT_EQ(fixed->dwFileVersionLS, (DWORD)MAKELONG(0, KORVANE_VERSION_PATCH));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);

    WORD *translation = NULL;
    ASSERT_TRUE(
        VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", (void **)&translation, &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], kJapanese);
    EXPECT_EQ(translation[1], 1200);
    wchar_t table[16];
    _snwprintf(table, 16, L"%04x%04x", translation[0], translation[1]);

    const std::wstring version = Widen(KORVANE_VERSION_TEXT);
    EXPECT_EQ(VersionString(info, table, L"FileVersion"), version);
    EXPECT_EQ(VersionString(info, table, L"ProductVersion"), version);
    EXPECT_EQ(VersionString(info, table, L"ProductName"), L"Korvane");
    EXPECT_EQ(VersionString(info, table, L"OriginalFilename"), L"Korvane.exe");
    EXPECT_NE(VersionString(info, table, L"LegalCopyright").find(L"Copyright"), std::wstring::npos);
    /* Japanese as written, not the UTF-8 bytes of the resource script taken
     * for another code page. */
    EXPECT_EQ(VersionString(info, table, L"FileDescription"),
              L"RIFF形式で包まれたMP3を元のMP3に戻すツール");
}

/* ---- The program itself ---- */

TEST_F(DialogTest, TheProgramLoadsItsOptionsTakesItsArgumentsAndExitsWithZeroOnClose)
{
    std::wstring built = ExeDir() + L"\\Korvane.exe";
    if (!FileExists(built))
        GTEST_SKIP() << "Korvane.exe is not built";
    /* Kept where a Japanese user might keep it: in code page 932 the last
     * byte of ソ and 表 is a backslash, and 𠮷 and the emoji are surrogate
     * pairs, so the program's folder and its settings file are found only
     * through the wide-character interfaces. */
    std::wstring home = FreshDir(L"ソフト表"), dir = home + L"\\𠮷😀";
    MakeDir(dir);
    std::wstring exe = dir + L"\\Korvane.exe", settings = dir + L"\\settings.ini";
    ASSERT_TRUE(CopyFileW(built.c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(WriteBytes(settings, Utf16File(L"ModifyTimes=7\r\nIncludeSubDirectory=0\r\n")));

    /* Started from another folder with a folder and a file as arguments,
     * as the shell starts it with what was dropped onto its icon: the
     * folder is searched with the options read, the file is taken as it
     * is, and nothing starts by itself. */
    std::wstring music = home + L"\\曲 フォルダ", song = home + L"\\噂の 歌.wav";
    MakeDir(music);
    MakeDir(music + L"\\sub");
    for (const std::wstring &path :
         {music + L"\\a.mp3", music + L"\\b.wav", music + L"\\sub\\c.mp3", song})
        ASSERT_TRUE(WriteBytes(path, Bytes(64, 0x55))) << Narrow(path);
    PROCESS_INFORMATION process;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    HWND window = StartProgram(exe, L"\"" + music + L"\" \"" + song + L"\"", temp, &process);
    ASSERT_NE(process.hProcess, (HANDLE)NULL);
    EXPECT_NE(window, (HWND)NULL);
    if (window != NULL) {
        EXPECT_EQ(SendDlgItemMessageW(window, IDC_KEEP_TIMES, BM_GETCHECK, 0, 0), BST_CHECKED);
        EXPECT_EQ(SendDlgItemMessageW(window, IDC_FILTER_MP3, BM_GETCHECK, 0, 0), BST_CHECKED);
        EXPECT_EQ(SendDlgItemMessageW(window, IDC_SUBFOLDERS, BM_GETCHECK, 0, 0), BST_UNCHECKED);
        EXPECT_TRUE(WaitUntil([&] { return EntryTexts(window).size() >= 2; }, 5000));
        Sleep(300);
        EXPECT_EQ(EntryTexts(window), (std::vector<std::wstring>{music + L"\\a.mp3", song}));
        EXPECT_EQ(Title(window), L"Korvane");
        EXPECT_EQ(ReadBytes(song), Bytes(64, 0x55));
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    EXPECT_EQ(FinishStartedProgram(process), 0u) << "not 0, or did not end after WM_CLOSE";
    EXPECT_TRUE(SettingsFileIs(settings,
                               L"ModifyTimes=7\r\nFilterExtension=1\r\nIncludeSubDirectory="
                               L"0\r\nKeepRiffTags=1\r\nFixExtension=1\r\n"))
        << SettingsText(settings);
    RemoveTree(home);
}

/* The test command runs these tests a second time in a Japanese prefix and
 * says so here: that run proves nothing unless Wine really took the
 * Japanese code page. */
TEST(Locale, AnsiCodePageIsTheOneThisRunIsFor)
{
    const char *wanted = getenv("KORVANE_ANSI_CODE_PAGE");
    if (wanted == NULL)
        GTEST_SKIP() << "this run asks for no code page";
    EXPECT_EQ(GetACP(), (UINT)atoi(wanted));
}

} // namespace
