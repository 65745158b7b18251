/*
 * entry_list_test.cpp: the entry list of the real dialog under Wine. Real
 * folder trees are dropped onto it with the options set through the check
 * boxes; the list's keys are pressed as the user would press them.
 */
#include <gtest/gtest.h>

#include <algorithm>

#include "batch/run.h"
#include "dialog_driver.h"
#include "res/resource.h"
#include "settings/settings.h"
#include "test_files.h"

namespace
{

typedef std::vector<std::wstring> Texts;

/* A drop runs the whole search inside one message; a search that does not
 * end must fail the program, not block it forever. */
const DWORD kDropTimeoutMs = 30000;

struct DropJob {
    HWND dialog;
    Texts paths;
    bool accepted;
};

DWORD WINAPI DropThread(LPVOID param)
{
    DropJob *job = (DropJob *)param;
    job->accepted = DropPaths(job->dialog, job->paths);
    return 0;
}

bool Drop(HWND dialog, const Texts &paths)
{
    DropJob job = {dialog, paths, false};
    HANDLE thread = CreateThread(NULL, 0, DropThread, &job, 0, NULL);
    if (thread == NULL)
        return false;
    if (WaitForSingleObject(thread, kDropTimeoutMs) != WAIT_OBJECT_0) {
        fprintf(stderr, "FAILED: a drop did not return within %lu ms (the search does not end)\n",
                kDropTimeoutMs);
        fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    CloseHandle(thread);
    return job.accepted;
}

void MakeFile(const std::wstring &path)
{
    ASSERT_TRUE(WriteBytes(path, Bytes(16, 0x55))) << Narrow(path);
}

/* The folder of this program, where the build leaves prepared test data. */
std::wstring ProgramFolder()
{
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(NULL, module, MAX_PATH);
    std::wstring path = module;
    return path.substr(0, path.rfind(L'\\'));
}

std::wstring Join(const std::wstring &dir, const std::wstring &relative)
{
    return dir + L"\\" + relative;
}

Texts Under(const std::wstring &dir, const Texts &relatives)
{
    Texts paths;
    for (const std::wstring &relative : relatives)
        paths.push_back(Join(dir, relative));
    return paths;
}

Texts Sorted(Texts texts)
{
    std::sort(texts.begin(), texts.end());
    return texts;
}

/* The names of a folder as the platform's search returns them, unsorted. */
Texts Listing(const std::wstring &dir)
{
    Texts names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

int IndexIn(const Texts &names, const std::wstring &name)
{
    auto at = std::find(names.begin(), names.end(), name);
    return at == names.end() ? -1 : (int)(at - names.begin());
}

/* Where a path below base is met by a depth-first walk in platform order:
 * the position of each of its components in its folder's listing. */
std::vector<int> WalkRank(const std::wstring &base, const std::wstring &path)
{
    std::vector<int> rank;
    std::wstring dir = base, rest = path.substr(base.size() + 1);
    for (;;) {
        size_t cut = rest.find(L'\\');
        std::wstring name = rest.substr(0, cut);
        rank.push_back(IndexIn(Listing(dir), name));
        if (cut == std::wstring::npos)
            return rank;
        dir = Join(dir, name);
        rest = rest.substr(cut + 1);
    }
}

/* The entries are the expected files, each placed where the walk met it. */
void ExpectWalkOrder(const std::wstring &base, const Texts &entries, const Texts &expected)
{
    EXPECT_EQ(Sorted(entries), Sorted(expected));
    for (size_t i = 1; i < entries.size(); i++) {
        EXPECT_LT(WalkRank(base, entries[i - 1]), WalkRank(base, entries[i]))
            << Narrow(entries[i - 1]) << " listed before " << Narrow(entries[i]);
    }
}

void ClearList(HWND dialog)
{
    SendMessageW(EntryListOf(dialog), LB_RESETCONTENT, 0, 0);
}

void SetOption(HWND dialog, int id, int *field, bool on)
{
    if (IsChecked(dialog, id) != on)
        ClickControl(dialog, id);
    ASSERT_EQ(IsChecked(dialog, id), on);
    ASSERT_EQ(*field != 0, on);
}

void SetFolderOptions(HWND dialog, bool filter, bool subfolders)
{
    SetOption(dialog, IDC_FILTER_MP3, &Settings.filterExtension, filter);
    SetOption(dialog, IDC_SUBFOLDERS, &Settings.includeSubDirectory, subfolders);
}

/* Every test opens the real dialog with the default options: no settings
 * file is left next to this program before or after. */
class EntryList : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        DeleteFileW(SettingsPath().c_str());
        dialog = StartDialog();
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(IsChecked(dialog, IDC_FILTER_MP3));
        ASSERT_TRUE(IsChecked(dialog, IDC_SUBFOLDERS));
    }
    void TearDown() override
    {
        RunState.busy = 0;
        if (dialog != NULL) {
            PostMessageW(dialog, WM_CLOSE, 0, 0);
            EXPECT_EQ(WaitDialogEnd(10000), 0);
        }
        DeleteFileW(SettingsPath().c_str());
    }
    HWND dialog = NULL;
};

/* ---- Searching dropped folders ---- */

/* A folder with matching and non-matching names at the top, in a subfolder
 * met in the middle of the listing, one level deeper, in a folder whose own
 * name ends in .mp3, and behind dot names. */
std::wstring MakeMixedTree()
{
    std::wstring base = FreshDir(L"entry-mixed");
    for (const wchar_t *name :
         {L"a1.mp3", L"b.MP3", L"c.wav", L"k.Mp3", L"z9.mp3", L"archive.mp3.bak", L"noext", L"mp3",
          L"\x66f2.mp3", L"v1.2.mp3", L".hidden.mp3", L"h.mp3"})
        MakeFile(Join(base, name));
    SetFileAttributesW(Join(base, L"h.mp3").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    for (const wchar_t *name : {L"m-sub", L"m-sub\\deeper", L"dir.mp3", L".cache", L"empty"})
        MakeDir(Join(base, name));
    for (const wchar_t *name : {L"m-sub\\d.mp3", L"m-sub\\e.txt", L"m-sub\\deeper\\f.mP3",
                                L"dir.mp3\\g.mp3", L".cache\\x.mp3"})
        MakeFile(Join(base, name));
    return base;
}

TEST_F(EntryList, FolderOptionsAreReadAtEachDrop)
{
    std::wstring base = MakeMixedTree();
    /* Depth first only shows when files follow the subfolder in the listing. */
    Texts top = Listing(base);
    ASSERT_LT(IndexIn(top, L"m-sub"), IndexIn(top, L"z9.mp3"));
    ASSERT_NE(IndexIn(top, L"m-sub"), -1);

    const Texts topMp3 = {L"a1.mp3",     L"b.MP3",    L"k.Mp3", L"z9.mp3",
                          L"\x66f2.mp3", L"v1.2.mp3", L"h.mp3"};
    const Texts topOthers = {L"c.wav", L"archive.mp3.bak", L"noext", L"mp3"};
    const Texts deepMp3 = {L"m-sub\\d.mp3", L"m-sub\\deeper\\f.mP3", L"dir.mp3\\g.mp3"};
    struct Case {
        bool filter, subfolders;
        std::vector<Texts> parts;
    } cases[] = {
        {true, true, {topMp3, deepMp3}},
        {false, true, {topMp3, topOthers, deepMp3, {L"m-sub\\e.txt"}}},
        {false, false, {topMp3, topOthers}},
        {true, false, {topMp3}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "filter " << c.filter << ", subfolders " << c.subfolders);
        SetFolderOptions(dialog, c.filter, c.subfolders);
        Texts expected;
        for (const Texts &part : c.parts) {
            Texts full = Under(base, part);
            expected.insert(expected.end(), full.begin(), full.end());
        }
        ClearList(dialog);
        ASSERT_TRUE(Drop(dialog, {base}));
        ExpectWalkOrder(base, EntryTexts(dialog), expected);
    }

    /* Options changed between two drops apply to the second drop only. */
    ClearList(dialog);
    SetFolderOptions(dialog, true, false);
    ASSERT_TRUE(Drop(dialog, {Join(base, L"m-sub")}));
    SetFolderOptions(dialog, false, false);
    ASSERT_TRUE(Drop(dialog, {Join(base, L"m-sub")}));
    Texts entries = EntryTexts(dialog);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0], Join(base, L"m-sub\\d.mp3"));
    Texts second(entries.begin() + 1, entries.end());
    EXPECT_EQ(Sorted(second), Sorted(Under(base, {L"m-sub\\d.mp3", L"m-sub\\e.txt"})));

    /* A folder the options take nothing from leaves the list as it was and
     * says so in the title; once they take its files, the title is plain. */
    std::wstring wavs = FreshDir(L"entry-wav-only");
    MakeFile(Join(wavs, L"a.wav"));
    MakeFile(Join(wavs, L"b.wav"));
    SetFolderOptions(dialog, true, true);
    ASSERT_TRUE(Drop(dialog, {wavs}));
    EXPECT_EQ(EntryTexts(dialog), entries);
    EXPECT_EQ(Title(dialog), L"Korvane - 追加できるファイルがありませんでした");
    SetFolderOptions(dialog, false, true);
    ASSERT_TRUE(Drop(dialog, {wavs}));
    EXPECT_EQ(EntryTexts(dialog).size(), entries.size() + 2);
    EXPECT_EQ(Title(dialog), L"Korvane");
    RemoveTree(wavs);
    RemoveTree(base);
}

TEST_F(EntryList, DotNamesDirectDropsAndDropOrder)
{
    std::wstring base = MakeMixedTree();
    std::wstring wav = Join(base, L"c.wav"), mp3 = Join(base, L"a1.mp3");

    /* Dot names are passed over in a search but taken when dropped
     * themselves; a dropped file is taken whatever its extension. */
    ASSERT_TRUE(Drop(dialog, {Join(base, L".hidden.mp3")}));
    ASSERT_TRUE(Drop(dialog, {Join(base, L".cache")}));
    ASSERT_TRUE(Drop(dialog, {wav}));
    ASSERT_TRUE(Drop(dialog, {wav}));
    EXPECT_EQ(EntryTexts(dialog),
              Under(base, {L".hidden.mp3", L".cache\\x.mp3", L"c.wav", L"c.wav"}));

    /* One drop of several items keeps the drop's order: a file, a folder
     * searched in place, a path that names nothing (taken as a file), an
     * empty folder, and a file again. */
    ClearList(dialog);
    std::wstring missing = Join(base, L"gone.mp3");
    ASSERT_TRUE(Drop(dialog, {wav, Join(base, L"m-sub"), missing, Join(base, L"empty"), mp3}));
    Texts entries = EntryTexts(dialog);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries.front(), wav);
    ExpectWalkOrder(base, Texts(entries.begin() + 1, entries.begin() + 3),
                    Under(base, {L"m-sub\\d.mp3", L"m-sub\\deeper\\f.mP3"}));
    EXPECT_EQ(entries[3], missing);
    EXPECT_EQ(entries[4], mp3);

    /* A folder named with a trailing backslash, as a drive root is, gets the
     * separator all the same: its entries carry a doubled backslash. */
    ClearList(dialog);
    std::wstring sub = Join(base, L"m-sub");
    ASSERT_TRUE(Drop(dialog, {sub + L"\\"}));
    ExpectWalkOrder(sub + L"\\", EntryTexts(dialog),
                    {sub + L"\\\\d.mp3", sub + L"\\\\deeper\\f.mP3"});

    /* A real drive root, subfolders off: its own files, after "C:\\". */
    ClearList(dialog);
    SetFolderOptions(dialog, false, false);
    std::wstring rootFile = L"C:\\korvane-entry-list-root.wav";
    bool madeRootFile = WriteBytes(rootFile, Bytes(4, 1));
    Texts rootFiles;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(L"C:\\*", &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
        if (found.cFileName[0] != L'.' && !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            rootFiles.push_back(std::wstring(L"C:\\\\") + found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    ASSERT_TRUE(Drop(dialog, {L"C:\\"}));
    EXPECT_EQ(EntryTexts(dialog), rootFiles);
    if (madeRootFile) {
        EXPECT_NE(IndexIn(EntryTexts(dialog), L"C:\\\\korvane-entry-list-root.wav"), -1);
        DeleteFileW(rootFile.c_str());
    }
    RemoveTree(base);
}

TEST_F(EntryList, LinkedFoldersAreSearchedOncePerDrop)
{
    /* Real directory links, made beside this program by make_link_loop.sh:
     * one back to its own folder, two back up the tree, one to another
     * music folder. Links are followed, but a drop searches each folder
     * once, so every file is listed once; the next drop searches afresh. */
    std::wstring links = Join(ProgramFolder(), L"link-loop");
    ASSERT_TRUE(FileExists(Join(links, L"up\\sub\\back1\\sub\\b.mp3")))
        << "the links are made by tests/make_link_loop.sh before this test";
    ASSERT_TRUE(Drop(dialog, {Join(links, L"self")}));
    EXPECT_EQ(EntryTexts(dialog), Under(links, {L"self\\a.mp3"}));
    ClearList(dialog);
    Texts upFiles = Under(links, {L"up\\a.mp3", L"up\\sub\\b.mp3", L"up\\sub\\more\\c.mp3"});
    ASSERT_TRUE(Drop(dialog, {Join(links, L"up")}));
    EXPECT_EQ(Sorted(EntryTexts(dialog)), Sorted(upFiles));
    ASSERT_TRUE(Drop(dialog, {Join(links, L"up")}));
    Texts twice = upFiles;
    twice.insert(twice.end(), upFiles.begin(), upFiles.end());
    EXPECT_EQ(Sorted(EntryTexts(dialog)), Sorted(twice));
}

TEST_F(EntryList, ListIsShownAndScrollsAfterALargeDrop)
{
    /* More entries than the list shows at once: once the drop is done the
     * list is visible again and its scroll bar spans every entry. */
    std::wstring base = FreshDir(L"entry-many");
    for (int i = 0; i < 60; i++)
        MakeFile(Join(base, L"track-" + std::to_wstring(i) + L".mp3"));
    HWND list = EntryListOf(dialog);
    ASSERT_TRUE(Drop(dialog, {base}));
    EXPECT_EQ(EntryTexts(dialog).size(), 60u);
    EXPECT_TRUE(IsWindowVisible(list));
    SCROLLINFO info = {};
    info.cbSize = sizeof(info);
    info.fMask = SIF_RANGE | SIF_PAGE;
    ASSERT_TRUE(GetScrollInfo(list, SB_VERT, &info));
    EXPECT_EQ(info.nMax, 59);
    EXPECT_GT(info.nPage, 0u);
    EXPECT_LT(info.nPage, 60u);
    RemoveTree(base);
}

/* ---- Paths that do not fit MAX_PATH ---- */

std::wstring Letters(size_t count, wchar_t letter)
{
    return std::wstring(count, letter);
}

/* A name of exactly units units ending in .mp3. */
std::wstring Mp3Name(size_t units, wchar_t letter)
{
    return Letters(units - 4, letter) + L".mp3";
}

TEST_F(EntryList, PathsTooLongToComposeAreSkippedWhole)
{
    /* Below a folder of 200 units: files and folders whose composed paths
     * fall on both sides of the 260-unit limit. */
    std::wstring base = FreshDir(L"entry-long");
    ASSERT_LT(base.size(), 150u);
    std::wstring parent = Join(base, Letters(200 - base.size() - 1, L'p'));
    ASSERT_EQ(parent.size(), 200u);
    MakeDir(parent);
    MakeFile(Join(base, L"short.mp3"));
    std::wstring fits = Join(parent, Mp3Name(58, L'f'));
    ASSERT_EQ(fits.size(), 259u);
    MakeFile(fits);
    MakeFile(Join(parent, Mp3Name(59, L'g')));
    /* Folders of 253, 257, 258, 259 and 260 units: only the first two can
     * be searched, and only the first has a file that fits. */
    std::wstring folders[5];
    const wchar_t letters[5] = {L'a', L'b', L'c', L'd', L'e'};
    const size_t lengths[5] = {253, 257, 258, 259, 260};
    for (int i = 0; i < 5; i++) {
        folders[i] = Join(parent, Letters(lengths[i] - parent.size() - 1, letters[i]));
        ASSERT_EQ(folders[i].size(), lengths[i]);
        MakeDir(folders[i]);
        MakeFile(Join(folders[i], L"x.mp3"));
        MakeFile(Join(folders[i], L"xy.mp3"));
        MakeDir(Join(folders[i], L"s"));
        MakeFile(Join(folders[i], L"s\\y.mp3"));
    }
    ASSERT_TRUE(Drop(dialog, {base}));
    Texts entries = EntryTexts(dialog);
    ExpectWalkOrder(base, entries, {Join(base, L"short.mp3"), fits, Join(folders[0], L"x.mp3")});
    for (const std::wstring &entry : entries) {
        EXPECT_LE(entry.size(), 259u);
        EXPECT_TRUE(FileExists(entry)) << Narrow(entry);
    }
    /* Nine items met are left out for their length, and the title says
     * so: g's file of 260 units, the folder of 260 units, the folders of 258
     * and 259 units (their search pattern does not fit), xy.mp3 and s\y.mp3
     * of the 253-unit folder, and x.mp3, xy.mp3 and s of the 257-unit one. */
    EXPECT_EQ(Title(dialog), L"Korvane - 9 件はパスが長すぎるため追加できませんでした");

    /* A chain of real folders all named alike, each a folder of its own:
     * every level is searched until its paths no longer fit, then the
     * search ends. */
    ClearList(dialog);
    std::wstring chain = FreshDir(L"entry-chain");
    Texts expected;
    std::wstring level = chain;
    while (level.size() < 320) {
        MakeFile(Join(level, L"a.mp3"));
        if (Join(level, L"a.mp3").size() <= 259)
            expected.push_back(Join(level, L"a.mp3"));
        level = Join(level, L"loop");
        MakeDir(level);
    }
    Texts names = Listing(chain);
    if (IndexIn(names, L"loop") < IndexIn(names, L"a.mp3"))
        std::reverse(expected.begin(), expected.end());
    ASSERT_TRUE(Drop(dialog, {chain}));
    EXPECT_EQ(EntryTexts(dialog), expected);
    EXPECT_GT(expected.size(), 30u);

    /* Dropped names of 260 units or more are skipped, files and folders
     * alike; the rest of the drop is taken. */
    ClearList(dialog);
    std::wstring longFolder = Join(base, Letters(280 - base.size() - 1, L'q'));
    MakeDir(longFolder);
    MakeFile(Join(longFolder, L"a.mp3"));
    std::wstring name259 = Join(base, Letters(259 - base.size() - 1, L'n'));
    std::wstring name260 = Join(base, Letters(260 - base.size() - 1, L'n'));
    std::wstring name400 = Join(base, Letters(400 - base.size() - 1, L'n'));
    std::wstring shortFile = Join(base, L"short.mp3");
    ASSERT_TRUE(Drop(dialog, {name259, name260, longFolder, name400, shortFile}));
    EXPECT_EQ(EntryTexts(dialog), Texts({name259, shortFile}));
    EXPECT_EQ(Title(dialog), L"Korvane - 3 件はパスが長すぎるため追加できませんでした");
    /* Told just the same when nothing else was dropped. */
    ASSERT_TRUE(Drop(dialog, {longFolder}));
    EXPECT_EQ(EntryTexts(dialog), Texts({name259, shortFile}));
    EXPECT_EQ(Title(dialog), L"Korvane - 1 件はパスが長すぎるため追加できませんでした");
    RemoveTree(chain);
    RemoveTree(base);
}

/* ---- The list's keys ---- */

bool FocusIs(HWND window)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(DialogThreadId(), &info) && info.hwndFocus == window;
}

/* Tab posted to the list, so that it meets the dialog's own loop as a typed
 * key does, with Shift held (in the key state the dialog manager reads)
 * until the focus has reached target. */
bool TabFromListReaches(HWND dialog, bool shift, HWND target)
{
    HWND list = EntryListOf(dialog);
    bool reached = false;
    WithKeyHeld(VK_SHIFT, shift, [&] {
        PostMessageW(list, WM_KEYDOWN, VK_TAB, 1);
        PostMessageW(list, WM_KEYUP, VK_TAB, 0xC0000001);
        reached = WaitUntil([&] { return FocusIs(target); }, 2000);
    });
    return reached;
}

void SelectOnly(HWND dialog, const std::vector<int> &indices)
{
    HWND list = EntryListOf(dialog);
    SendMessageW(list, LB_SETSEL, FALSE, -1);
    for (int index : indices)
        SendMessageW(list, LB_SETSEL, TRUE, index);
}

TEST_F(EntryList, DeleteAndSelectAllKeys)
{
    HWND list = EntryListOf(dialog);
    const Texts five = {L"C:\\e0.mp3", L"C:\\e1.mp3", L"C:\\e2.mp3", L"C:\\e3.mp3", L"C:\\e4.mp3"};

    /* Delete removes a scattered selection, first entry included. */
    AddEntries(dialog, five);
    SelectOnly(dialog, {0, 2, 3});
    PressListKey(dialog, VK_DELETE, false);
    EXPECT_EQ(EntryTexts(dialog), Texts({five[1], five[4]}));
    SelectOnly(dialog, {1});
    PressListKey(dialog, VK_DELETE, false);
    EXPECT_EQ(EntryTexts(dialog), Texts({five[1]}));
    PressListKey(dialog, VK_DELETE, false);
    EXPECT_EQ(EntryTexts(dialog), Texts({five[1]})) << "nothing was selected";

    /* Ctrl+A selects every entry; A alone leaves the selection as it is. */
    ClearList(dialog);
    AddEntries(dialog, five);
    SelectOnly(dialog, {1});
    PressListKey(dialog, 'A', false);
    EXPECT_EQ(SelectedIndices(dialog), std::vector<int>({1}));
    PressListKey(dialog, 'A', true);
    EXPECT_EQ(SelectedIndices(dialog), std::vector<int>({0, 1, 2, 3, 4}));

    /* During a run Delete does nothing, while Ctrl+A still selects. */
    SelectOnly(dialog, {3});
    RunState.busy = 1;
    PressListKey(dialog, VK_DELETE, false);
    EXPECT_EQ(EntryTexts(dialog), five);
    PressListKey(dialog, 'A', true);
    EXPECT_EQ(SelectedIndices(dialog), std::vector<int>({0, 1, 2, 3, 4}));
    RunState.busy = 0;
    PressListKey(dialog, VK_DELETE, false);
    EXPECT_TRUE(EntryTexts(dialog).empty());

    /* Ctrl+A on the empty list selects nothing and breaks nothing. */
    PressListKey(dialog, 'A', true);
    EXPECT_TRUE(SelectedIndices(dialog).empty());
    AddEntries(dialog, {five[0]});
    EXPECT_TRUE(SelectedIndices(dialog).empty());

    /* The list asks for every key but Tab: Enter there starts no run,
     * while Tab and Shift+Tab leave it for the next and the previous
     * control in the tab order. */
    EXPECT_EQ(SendMessageW(list, WM_GETDLGCODE, 0, 0), (LRESULT)DLGC_WANTALLKEYS);
    SendMessageW(dialog, WM_NEXTDLGCTL, (WPARAM)list, TRUE);
    ASSERT_TRUE(WaitUntil([&] { return FocusIs(list); }, 2000));
    PostMessageW(list, WM_KEYDOWN, VK_RETURN, 1);
    /* A posted selection marks the point where the key has been handled. */
    AddEntries(dialog, {five[1]});
    SelectOnly(dialog, {});
    PostMessageW(list, LB_SETSEL, TRUE, 1);
    ASSERT_TRUE(WaitUntil([&] { return SelectedIndices(dialog) == std::vector<int>({1}); }, 2000));
    Sleep(300);
    EXPECT_TRUE(FocusIs(list));
    EXPECT_EQ(EntryTexts(dialog), Texts({five[0], five[1]})) << "no run was started";
    EXPECT_TRUE(TabFromListReaches(dialog, false, GetDlgItem(dialog, IDC_KEEP_TIMES)));
    SendMessageW(dialog, WM_NEXTDLGCTL, (WPARAM)list, TRUE);
    ASSERT_TRUE(WaitUntil([&] { return FocusIs(list); }, 2000));
    EXPECT_TRUE(TabFromListReaches(dialog, true, GetDlgItem(dialog, IDOK)));

    /* The same keys on a check box do move on and do start a run. */
    HWND box = GetDlgItem(dialog, IDC_KEEP_TIMES);
    SendMessageW(dialog, WM_NEXTDLGCTL, (WPARAM)box, TRUE);
    ASSERT_TRUE(WaitUntil([&] { return FocusIs(box); }, 2000));
    PostMessageW(box, WM_KEYDOWN, VK_TAB, 1);
    EXPECT_TRUE(WaitUntil([&] { return !FocusIs(box); }, 2000));
    SendMessageW(dialog, WM_NEXTDLGCTL, (WPARAM)box, TRUE);
    PostMessageW(box, WM_KEYDOWN, VK_RETURN, 1);
    EXPECT_TRUE(WaitUntil(
        [&] {
            Texts texts = EntryTexts(dialog);
            return !RunState.busy && texts.size() == 2 &&
                   texts[1].find(L"\n > ") != std::wstring::npos;
        },
        5000));
}

/* Ctrl+C copies the selection in the list's order, one line per entry:
 * the path, a tab and the message without the line feed and " > ". */
TEST_F(EntryList, CtrlCCopiesTheSelectedEntriesAsText)
{
    const Texts entries = {
        L"C:\\音楽\\a.mp3\n > 正常に変換されました。",
        L"C:\\音楽\\b.mp3",
        L"C:\\音楽\\c c.wav\n > ファイルを検査しています...",
        L"C:\\音楽\\d.wav\n > ファイルを開けません。",
        L"C:\\音楽\\e.mp3\n > ファイルを修正する必要がありませんでした"
        L"（同じ名前のファイルがあるため拡張子は変えていません）。",
    };
    AddEntries(dialog, entries);
    ASSERT_TRUE(SetClipboardText(L"before"));

    /* C alone, and Ctrl+C with nothing selected, leave the clipboard alone. */
    SelectOnly(dialog, {0});
    PressListKey(dialog, 'C', false);
    EXPECT_EQ(ClipboardText(), L"before");
    SelectOnly(dialog, {});
    PressListKey(dialog, 'C', true);
    EXPECT_EQ(ClipboardText(), L"before");

    SelectOnly(dialog, {4, 0, 1, 2});
    PressListKey(dialog, 'C', true);
    EXPECT_EQ(ClipboardText(), L"C:\\音楽\\a.mp3\t正常に変換されました。\r\n"
                               L"C:\\音楽\\b.mp3\r\n"
                               L"C:\\音楽\\c c.wav\r\n"
                               L"C:\\音楽\\e.mp3\tファイルを修正する必要がありませんでした"
                               L"（同じ名前のファイルがあるため拡張子は変えていません）。\r\n")
        << Narrow(ClipboardText());
    /* Copying changes nothing in the list. */
    EXPECT_EQ(EntryTexts(dialog), entries);
    EXPECT_EQ(SelectedIndices(dialog), std::vector<int>({0, 1, 2, 4}));

    /* During a run it copies all the same. */
    RunState.busy = 1;
    SelectOnly(dialog, {3});
    PressListKey(dialog, 'C', true);
    RunState.busy = 0;
    EXPECT_EQ(ClipboardText(), L"C:\\音楽\\d.wav\tファイルを開けません。\r\n");
}

/* ---- The command line ---- */

/* What the shell and a command prompt pass: a folder relative to the
 * current folder with a backslash at its end, a quoted path with spaces, a
 * Japanese name relative to the current folder, a file that does not exist
 * and a name too long for a path; the program's own name first. */
TEST_F(EntryList, CommandLineArgumentsAreAddedAsADropOfThemWould)
{
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitDialogEnd(10000), 0);
    dialog = NULL;
    std::wstring base = FreshDir(L"entry-arguments");
    std::wstring folder = Join(base, L"folder"), spaced = Join(base, L"with space");
    MakeDir(folder);
    MakeDir(Join(folder, L"sub"));
    MakeDir(spaced);
    for (const wchar_t *name : {L"folder\\a.mp3", L"folder\\b.wav", L"folder\\sub\\c.mp3",
                                L"with space\\my song.wav", L"予定表.mp3"})
        MakeFile(Join(base, name));
    std::wstring missing = Join(base, L"missing.mp3");
    std::wstring tooLong = Join(base, Letters(280, L'n'));
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(base.c_str()));
    std::wstring commandLine = L"\"" + base + L"\\not an entry.exe\" folder\\ \"" + spaced +
                               L"\\my song.wav\" 予定表.mp3 " + missing + L" " + tooLong;
    dialog = StartDialog(true, commandLine.c_str());
    SetCurrentDirectoryW(previous);
    ASSERT_NE(dialog, nullptr);

    ASSERT_TRUE(WaitUntil([&] { return EntryTexts(dialog).size() >= 5; }, 5000))
        << EntryTexts(dialog).size();
    Texts entries = EntryTexts(dialog);
    ASSERT_EQ(entries.size(), 5u);
    ExpectWalkOrder(folder, Texts(entries.begin(), entries.begin() + 2),
                    Under(folder, {L"a.mp3", L"sub\\c.mp3"}));
    EXPECT_EQ(Texts(entries.begin() + 2, entries.end()),
              Texts({Join(spaced, L"my song.wav"), Join(base, L"予定表.mp3"), missing}));
    EXPECT_EQ(Title(dialog), L"Korvane - 1 件はパスが長すぎるため追加できませんでした");
    /* Nothing starts by itself. */
    Sleep(300);
    EXPECT_EQ(RunState.busy, 0);
    EXPECT_EQ(EntryTexts(dialog), entries);

    /* The program's name alone adds nothing and tells nothing. */
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitDialogEnd(10000), 0);
    dialog = StartDialog(true, L"\"C:\\Korvane\\Korvane.exe\"");
    ASSERT_NE(dialog, nullptr);
    Sleep(300);
    EXPECT_TRUE(EntryTexts(dialog).empty());
    EXPECT_EQ(Title(dialog), L"Korvane");
    RemoveTree(base);
}

} // namespace
