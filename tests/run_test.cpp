/*
 * run_test.cpp: the conversion run end to end, through the real dialog on a
 * thread of its own and real files: one status per entry, stopping, the
 * keep-times option taken at the start, the list frozen while a run goes on,
 * closing the window during a run, what the list and the title bar show
 * of a long run, the failures selected at its end, and the names that
 * follow the content.
 *
 * The cases that act during a run give it large files to chew on and check
 * afterwards that their actions really fell while the run was still at work
 * on them.
 */
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <string>
#include <vector>

#include "batch/entry_list.h"
#include "batch/run.h"
#include "res/resource.h"
#include "tests/dialog_driver.h"
#include "tests/test_files.h"

static const std::wstring kChecking = L"\n > ファイルを検査しています...";
static const std::wstring kNotNeeded = L"\n > ファイルを修正する必要がありませんでした。";
static const std::wstring kConverted = L"\n > 正常に変換されました。";
static const std::wstring kOpenFailed = L"\n > ファイルを開けません。";
static const std::wstring kBadFormat = L"\n > 破損したファイルまたは未対応の形式です。";
static const std::wstring kConvertedNameTaken =
    L"\n > 正常に変換されました（同じ名前のファイルがあるため拡張子は変えていません）。";
static const std::wstring kNotNeededNameTaken =
    L"\n > ファイルを修正する必要がありませんでした"
    L"（同じ名前のファイルがあるため拡張子は変えていません）。";
static const std::wstring kConvertedNotRenamed =
    L"\n > 正常に変換されました（拡張子を変更できませんでした）。";
static const std::wstring kNotNeededNotRenamed =
    L"\n > ファイルを修正する必要がありませんでした（拡張子を変更できませんでした）。";
static const std::wstring kStartText = L"変換開始";
static const std::wstring kStopText = L"変換中止";
static const wchar_t kQuestion[] = L"ファイルの変換中ですが、中止して終了しますか？";
static const std::wstring kTitle = L"Korvane";

/* Large enough that converting it takes a good fraction of a second. */
static const uint32_t kBigMiB = 160;
static const DWORD kRunTimeoutMs = 120000;

/* MPEG audio as a data chunk holds it: a frame sync, then filler. */
static Bytes Audio(size_t count, unsigned seed)
{
    Bytes audio = Pattern(count, seed);
    audio[0] = 0xFF;
    audio[1] = 0xFB;
    return audio;
}

/* The same with the frame header's second byte given: 0xFB, 0xFD and 0xFF
 * are MPEG-1 Layer III, II and I; 0xF9 has the reserved layer 00. */
static Bytes LayerAudio(size_t count, unsigned seed, unsigned char second)
{
    Bytes audio = Audio(count, seed);
    audio[1] = second;
    return audio;
}

static Bytes WrappedWave(const Bytes &audio)
{
    return Riff("WAVE", Join({Mp3FormatChunk(), Chunk("data", audio)}));
}

/* The start of a RIFF/WAVE holding mib MiB of audio, up to its audio. */
static Bytes BigHead(uint32_t mib)
{
    Bytes head = Riff("WAVE", Join({Mp3FormatChunk(), ChunkClaiming("data", mib << 20, {})}));
    PutLE32(head, 4, (uint32_t)(head.size() - 8 + (mib << 20)));
    return head;
}

/* The audio is one block of a MiB, repeated. */
static bool WriteBigWave(const std::wstring &path, uint32_t mib = kBigMiB)
{
    const DWORD block = 1u << 20;
    Bytes head = BigHead(mib), audio = Audio(block, 5);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok =
        WriteFile(file, head.data(), (DWORD)head.size(), &written, NULL) && written == head.size();
    for (uint32_t i = 0; ok && i < mib; i++)
        ok = WriteFile(file, audio.data(), block, &written, NULL) && written == block;
    CloseHandle(file);
    return ok;
}

/* A big file's size and first bytes. */
static Bytes HeadOf(const std::wstring &path, size_t count, DWORD *size)
{
    Bytes head(count);
    DWORD read = 0;
    *size = 0;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return Bytes();
    *size = GetFileSize(file, NULL);
    if (!ReadFile(file, head.data(), (DWORD)count, &read, NULL))
        read = 0;
    CloseHandle(file);
    head.resize(read);
    return head;
}

/* Converted, a big file is its audio alone. */
static bool BigIsConverted(const std::wstring &path, uint32_t mib = kBigMiB)
{
    DWORD size = 0;
    return HeadOf(path, 64, &size) == Audio(64, 5) && size == mib << 20;
}

static bool BigIsUntouched(const std::wstring &path, uint32_t mib)
{
    DWORD size = 0;
    Bytes head = BigHead(mib);
    return HeadOf(path, head.size(), &size) == head && size == head.size() + (mib << 20);
}

/* Files that take several seconds to convert one after another. Under Wine
 * without a window manager, taking a message box down takes about two
 * seconds, and the run must still be going when the answer takes effect. */
static const int kSeriesFiles = 12;
static const uint32_t kSeriesMiB = 32;

/* One entry alone: polled while a run goes on, so it asks the list for no
 * more than it needs. */
static std::wstring EntryText(HWND dialog, int index)
{
    HWND list = EntryListOf(dialog);
    int length = (int)SendMessageW(list, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR)
        return std::wstring();
    /* A run may replace the entry with its longer status text meanwhile. */
    std::wstring text(std::max(length + 1, PATH_BUFFER_UNITS), L'\0');
    if (SendMessageW(list, LB_GETTEXT, index, (LPARAM)&text[0]) == LB_ERR)
        return std::wstring();
    text.resize(wcslen(text.c_str()));
    return text;
}

static int TopIndex(HWND list)
{
    return (int)SendMessageW(list, LB_GETTOPINDEX, 0, 0);
}

/* How many entries the list shows whole at a time. */
static int WholeLines(HWND list)
{
    RECT client;
    GetClientRect(list, &client);
    int height = (int)SendMessageW(list, LB_GETITEMHEIGHT, 0, 0);
    return height > 0 ? (client.bottom - client.top) / height : 0;
}

static bool IsBeingChecked(HWND dialog, int index)
{
    std::wstring text = EntryText(dialog, index);
    return text.size() > kChecking.size() &&
           text.compare(text.size() - kChecking.size(), kChecking.size(), kChecking) == 0;
}

/* The last entry the run has reached: the file in hand, or the one just
 * done whose status is about to be shown. -1 before the first. */
static int LastReached(HWND dialog)
{
    std::vector<std::wstring> texts = EntryTexts(dialog);
    for (int i = (int)texts.size() - 1; i >= 0; i--) {
        if (texts[i].find(L'\n') != std::wstring::npos)
            return i;
    }
    return -1;
}

/* The same, or -1 when the list could not be read whole: a dialog that
 * ends destroys its list while it is being read, and the entries read
 * then come back empty or missing. */
static int LastReachedWhole(HWND dialog, size_t entries)
{
    std::vector<std::wstring> texts = EntryTexts(dialog);
    if (texts.size() != entries)
        return -1;
    for (const std::wstring &text : texts) {
        if (text.empty())
            return -1;
    }
    for (int i = (int)texts.size() - 1; i >= 0; i--) {
        if (texts[i].find(L'\n') != std::wstring::npos)
            return i;
    }
    return -1;
}

static bool WaitChecking(HWND dialog, int index)
{
    return WaitUntil([&] { return IsBeingChecked(dialog, index); }, 30000);
}

static bool WaitIdle(HWND dialog, DWORD timeoutMs = kRunTimeoutMs)
{
    return WaitUntil([&] { return ButtonText(dialog, IDOK) == kStartText; }, timeoutMs);
}

static std::vector<std::wstring> WithSuffixes(const std::vector<std::wstring> &paths,
                                              const std::vector<std::wstring> &suffixes)
{
    std::vector<std::wstring> texts;
    for (size_t i = 0; i < paths.size(); i++)
        texts.push_back(paths[i] + suffixes[i]);
    return texts;
}

static HWND WaitConfirmation()
{
    HWND box = NULL;
    WaitUntil(
        [&] {
            box = FindTopWindow(L"#32770", L"確認");
            return box != NULL && IsWindowVisible(box);
        },
        10000);
    return box;
}

static void Answer(HWND box, int id)
{
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(box, id));
}

struct BoxContents {
    std::vector<std::wstring> texts;
    std::vector<int> buttons;
    int defaultButton = 0;
    bool icon = false;
};

static BOOL CALLBACK CollectChild(HWND child, LPARAM param)
{
    BoxContents *box = (BoxContents *)param;
    if (!IsWindowVisible(child))
        return TRUE;
    wchar_t className[32] = {0}, text[256] = {0};
    GetClassNameW(child, className, 32);
    GetWindowTextW(child, text, 256);
    LONG style = GetWindowLongW(child, GWL_STYLE);
    if (lstrcmpiW(className, L"Button") == 0) {
        box->buttons.push_back(GetDlgCtrlID(child));
        if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            box->defaultButton = GetDlgCtrlID(child);
    } else if (lstrcmpiW(className, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
        box->icon = box->icon || SendMessageW(child, STM_GETICON, 0, 0) != 0;
    } else if (lstrcmpiW(className, L"Static") == 0) {
        box->texts.push_back(text);
    }
    return TRUE;
}

/* The question asked when the window is closed during a run. */
static void CheckConfirmation(HWND box, HWND dialog)
{
    BoxContents contents;
    EnumChildWindows(box, CollectChild, (LPARAM)&contents);
    std::sort(contents.buttons.begin(), contents.buttons.end());
    EXPECT_EQ(std::vector<std::wstring>{kQuestion}, contents.texts);
    EXPECT_EQ((std::vector<int>{IDOK, IDCANCEL}), contents.buttons);
    EXPECT_FALSE(contents.icon);
    /* Wine's DM_GETDEFID does not follow the box's default; the style does. */
    EXPECT_EQ(IDOK, contents.defaultButton);
    EXPECT_EQ(dialog, GetWindow(box, GW_OWNER));
}

class RunTest : public ::testing::Test
{
  protected:
    HWND dialog = NULL;
    std::wstring dir;

    void SetUp() override
    {
        DeleteFileW(SettingsPath().c_str());
        dir = FreshDir(L"run_test");
        dialog = StartDialog();
        ASSERT_TRUE(dialog != NULL);
        /* The cases are about other things than the names, which they
         * keep; the renaming has cases of its own that switch it on. */
        SetFixExtension(false);
    }

    void SetFixExtension(bool on)
    {
        if (IsChecked(dialog, IDC_FIX_EXTENSION) != on)
            ClickControl(dialog, IDC_FIX_EXTENSION);
        ASSERT_EQ(on, IsChecked(dialog, IDC_FIX_EXTENSION));
    }

    /* Whatever state a failed case left: answer a pending question, stop
     * the run, close the window. */
    void TearDown() override
    {
        if (DialogRunning()) {
            if (HWND box = FindTopWindow(L"#32770", L"確認"))
                Answer(box, IDCANCEL);
            if (ButtonText(dialog, IDOK) == kStopText)
                ClickButton(dialog, IDOK);
            WaitUntil([&] { return !DialogRunning() || ButtonText(dialog, IDOK) == kStartText; },
                      kRunTimeoutMs);
            PostMessageW(dialog, WM_CLOSE, 0, 0);
        }
        WaitDialogEnd(10000);
        DeleteFileW(SettingsPath().c_str());
        RemoveTree(dir);
    }

    std::wstring Path(const std::wstring &name)
    {
        return dir + L"\\" + name;
    }

    /* The series the closing cases run over, written and listed. */
    bool ListSeries(std::vector<std::wstring> *paths)
    {
        for (int i = 0; i < kSeriesFiles; i++) {
            paths->push_back(Path(std::to_wstring(i) + L".wav"));
            if (!WriteBigWave(paths->back(), kSeriesMiB))
                return false;
        }
        AddEntries(dialog, *paths);
        return true;
    }
};

TEST_F(RunTest, MixedListGetsOneStatusPerEntryAndASecondRunFindsNothingToFix)
{
    /* An empty list: the run ends at once. */
    ClickButton(dialog, IDOK);
    ASSERT_TRUE(WaitIdle(dialog, 5000));
    EXPECT_TRUE(AcceptsDrops(dialog));
    EXPECT_EQ(L"Korvane - 完了: 変換 0 件 / 不要 0 件 / 失敗 0 件", Title(dialog));

    Bytes tag = Id3Tag(100), tagged = Audio(999, 1), rmp3 = Audio(4000, 2);
    Bytes japanese = Audio(2048, 3), heldAudio = Audio(500, 4);
    std::wstring taggedPath = Path(L"tagged.wav"), rmp3Path = Path(L"riff.rmp"),
                 plainPath = Path(L"plain.mp3"), damagedPath = Path(L"damaged.wav"),
                 missingPath = Path(L"missing.wav"), heldPath = Path(L"held.wav"),
                 japanesePath = Path(L"日本語の曲.mp3");
    Bytes taggedFile =
        Join({tag, Zeros(3),
              Riff("WAVE", Join({Mp3FormatChunk(), Chunk("fact", Pattern(4, 9)),
                                 Chunk("data", tagged), Chunk("LIST", Pattern(30, 8))}))});
    Bytes plainFile = Join({tag, Zeros(2), Audio(700, 6)});
    Bytes damagedFile =
        Riff("WAVE", Join({Mp3FormatChunk(), ChunkClaiming("data", 5000, Audio(100, 7))}));
    ASSERT_TRUE(WriteBytes(taggedPath, taggedFile));
    ASSERT_TRUE(WriteBytes(rmp3Path, Riff("RMP3", Chunk("data", rmp3))));
    ASSERT_TRUE(WriteBytes(plainPath, plainFile));
    ASSERT_TRUE(WriteBytes(damagedPath, damagedFile));
    ASSERT_TRUE(WriteBytes(heldPath, WrappedWave(heldAudio)));
    ASSERT_TRUE(WriteBytes(japanesePath, WrappedWave(japanese)));
    /* Open elsewhere without write sharing: the run cannot open it. */
    HANDLE held = CreateFileW(heldPath.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);

    ASSERT_TRUE(DropPaths(dialog, {taggedPath, rmp3Path, plainPath, damagedPath}));
    /* The list has changed: the title no longer sums up the last run. */
    EXPECT_EQ(kTitle, Title(dialog));
    /* The second entry for the tagged file carries the suffix of an earlier run. */
    AddEntries(dialog, {missingPath, heldPath, taggedPath + kOpenFailed});
    ASSERT_TRUE(DropPaths(dialog, {japanesePath}));
    std::vector<std::wstring> paths = {taggedPath,  rmp3Path, plainPath,  damagedPath,
                                       missingPath, heldPath, taggedPath, japanesePath};

    ClickButton(dialog, IDOK);
    ASSERT_TRUE(WaitIdle(dialog));
    EXPECT_EQ(WithSuffixes(paths, {kConverted, kConverted, kNotNeeded, kBadFormat, kOpenFailed,
                                   kOpenFailed, kNotNeeded, kConverted}),
              EntryTexts(dialog));
    EXPECT_EQ(Join({tag, Zeros(3), tagged}), ReadBytes(taggedPath));
    EXPECT_EQ(rmp3, ReadBytes(rmp3Path));
    EXPECT_EQ(japanese, ReadBytes(japanesePath));
    EXPECT_EQ(plainFile, ReadBytes(plainPath));
    EXPECT_EQ(damagedFile, ReadBytes(damagedPath));
    EXPECT_EQ(WrappedWave(heldAudio), ReadBytes(heldPath));
    EXPECT_FALSE(FileExists(missingPath));
    EXPECT_TRUE(AcceptsDrops(dialog));
    EXPECT_EQ(L"Korvane - 完了: 変換 3 件 / 不要 2 件 / 失敗 3 件", Title(dialog));

    /* Run again over the same list, the held file released meanwhile. */
    CloseHandle(held);
    ClickButton(dialog, IDOK);
    ASSERT_TRUE(WaitIdle(dialog));
    EXPECT_EQ(WithSuffixes(paths, {kNotNeeded, kNotNeeded, kNotNeeded, kBadFormat, kOpenFailed,
                                   kConverted, kNotNeeded, kNotNeeded}),
              EntryTexts(dialog));
    /* Counted afresh, not added to the first run's counts. */
    EXPECT_EQ(L"Korvane - 完了: 変換 1 件 / 不要 5 件 / 失敗 2 件", Title(dialog));
    EXPECT_EQ(Join({tag, Zeros(3), tagged}), ReadBytes(taggedPath));
    EXPECT_EQ(rmp3, ReadBytes(rmp3Path));
    EXPECT_EQ(heldAudio, ReadBytes(heldPath));
    EXPECT_EQ(damagedFile, ReadBytes(damagedPath));
}

/* Ordinary recordings dropped beside wrapped MP3s, as a music folder holds
 * them: each is left exactly as it was, times included, while the MPEG audio
 * around it is unwrapped. */
TEST_F(RunTest, RecordingsInOtherFormatsAreLeftAsTheyWere)
{
    std::wstring audio = AudioDir();
    ASSERT_FALSE(audio.empty()) << "KORVANE_AUDIO_DIR is not set";
    std::vector<std::wstring> paths, suffixes;
    std::vector<Bytes> before;
    std::vector<FileTimes> times;
    for (const OtherAudio &other : kOtherAudio) {
        paths.push_back(Path(other.name));
        before.push_back(ReadBytes(audio + L"\\" + other.name));
        ASSERT_GT(before.back().size(), 1000u) << "make_audio.sh has not made " << Narrow(audio);
        ASSERT_TRUE(WriteBytes(paths.back(), before.back()));
        times.emplace_back();
        /* Read back: not every file system keeps a creation time as set. */
        ASSERT_TRUE(SetPastTimes(paths.back(), &times.back()));
        ASSERT_TRUE(GetTimes(paths.back(), &times.back()));
        suffixes.push_back(kBadFormat);
    }
    /* The MPEG ones are renamed after their layers; the others keep their
     * names, as every file the run refuses does. */
    size_t others = paths.size();
    std::vector<std::wstring> renamed = paths;
    for (const wchar_t *mpeg : {L"sine_mp3", L"sine_mp2"}) {
        paths.push_back(Path(mpeg + std::wstring(L".wav")));
        renamed.push_back(Path(mpeg + std::wstring(mpeg[7] == L'3' ? L".mp3" : L".mp2")));
        before.push_back(ReadBytes(audio + L"\\" + mpeg + L".wav"));
        ASSERT_GT(ChunkPayload(before.back(), "data").size(), 1000u) << Narrow(mpeg);
        ASSERT_TRUE(WriteBytes(paths.back(), before.back()));
        suffixes.push_back(kConverted);
    }
    if (!IsChecked(dialog, IDC_KEEP_TIMES))
        ClickControl(dialog, IDC_KEEP_TIMES);
    SetFixExtension(true);
    ASSERT_TRUE(DropPaths(dialog, paths));

    ClickButton(dialog, IDOK);
    ASSERT_TRUE(WaitIdle(dialog));
    EXPECT_EQ(WithSuffixes(renamed, suffixes), EntryTexts(dialog));
    for (size_t i = 0; i < paths.size(); i++) {
        SCOPED_TRACE(Narrow(paths[i]));
        if (i >= others) {
            EXPECT_EQ(ChunkPayload(before[i], "data"), ReadBytes(renamed[i]));
            EXPECT_FALSE(FileExists(paths[i]));
            continue;
        }
        /* Reading the file may move its last-access time; the platform does
         * that, not the run. */
        FileTimes after;
        ASSERT_TRUE(GetTimes(paths[i], &after));
        EXPECT_EQ(0, CompareFileTime(&times[i].created, &after.created));
        EXPECT_EQ(0, CompareFileTime(&times[i].written, &after.written));
        EXPECT_EQ(before[i], ReadBytes(paths[i]));
    }
}

TEST_F(RunTest, JapaneseNamesAreDroppedAndConverted)
{
    /* Names as Japanese users have them. In code page 932 the last byte of
     * ソ, 表, 十 and 能 is a backslash, so code that went through the ANSI
     * interfaces, or cut such a name at that byte, would miss the file or
     * search the wrong folder; 𠮷 and the emoji are surrogate pairs. */
    std::wstring folder = Path(L"予定表"), sub = folder + L"\\ソフト𠮷", direct = Path(L"十");
    MakeDir(folder);
    MakeDir(sub);
    MakeDir(direct);
    std::vector<std::wstring> inFolder = {folder + L"\\ソ.mp3", folder + L"\\𠮷野家.mp3",
                                          sub + L"\\能😀.mp3", sub + L"\\表.mp3"};
    std::wstring dropped = direct + L"\\噂の🎵.mp3";
    std::vector<Bytes> audio;
    unsigned seed = 20;
    for (const std::wstring &path : inFolder) {
        audio.push_back(Audio(1500, seed++));
        ASSERT_TRUE(WriteBytes(path, WrappedWave(audio.back()))) << Narrow(path);
    }
    Bytes droppedAudio = Audio(1500, seed);
    ASSERT_TRUE(WriteBytes(dropped, Riff("RMP3", Chunk("data", droppedAudio))));

    ASSERT_TRUE(DropPaths(dialog, {dropped, folder}));
    ClickButton(dialog, IDOK);
    ASSERT_TRUE(WaitIdle(dialog));

    /* The dropped file first, then the folder's files in whatever order
     * the search met them. */
    std::vector<std::wstring> texts = EntryTexts(dialog);
    ASSERT_EQ(1 + inFolder.size(), texts.size());
    EXPECT_EQ(dropped + kConverted, texts[0]);
    std::vector<std::wstring> found(texts.begin() + 1, texts.end()), want;
    for (const std::wstring &path : inFolder)
        want.push_back(path + kConverted);
    std::sort(found.begin(), found.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(want, found);
    for (size_t i = 0; i < inFolder.size(); i++)
        EXPECT_EQ(audio[i], ReadBytes(inFolder[i])) << Narrow(inFolder[i]);
    EXPECT_EQ(droppedAudio, ReadBytes(dropped));
}

/* With the box on, a file converted or found plain takes the extension of
 * its first frame's layer; a name that fits already, or whose new name is
 * taken or would not fit, stays, and the entry says why. A refused file is
 * never renamed. The entries show the new names, so the second run finds
 * the files and has nothing left to fix; its failures are selected again. */
TEST_F(RunTest, NamesFollowTheContentWhenTheBoxIsOn)
{
    const unsigned char kLayer3 = 0xFB, kLayer2 = 0xFD, kReserved = 0xF9;
    /* With the box off, every name stays. */
    std::wstring offWave = Path(L"off.wav"), offPlain = Path(L"off-plain.wav");
    ASSERT_TRUE(WriteBytes(offWave, WrappedWave(Audio(900, 1))));
    ASSERT_TRUE(WriteBytes(offPlain, Audio(900, 2)));
    AddEntries(dialog, {offWave, offPlain});
    ClickButton(dialog, IDOK);
    ASSERT_TRUE(WaitIdle(dialog));
    EXPECT_EQ(WithSuffixes({offWave, offPlain}, {kConverted, kNotNeeded}), EntryTexts(dialog));
    EXPECT_EQ(Audio(900, 1), ReadBytes(offWave));
    EXPECT_FALSE(FileExists(Path(L"off.mp3")));
    EXPECT_FALSE(FileExists(Path(L"off-plain.mp3")));
    SendMessageW(EntryListOf(dialog), LB_RESETCONTENT, 0, 0);

    SetFixExtension(true);
    if (!IsChecked(dialog, IDC_KEEP_TIMES))
        ClickControl(dialog, IDC_KEEP_TIMES);
    Bytes pcm = Riff("WAVE", Join({Chunk("fmt ", {0x01, 0x00, 0x01, 0x00, 0x44, 0xAC, 0x00, 0x00,
                                                  0x88, 0x58, 0x01, 0x00, 0x02, 0x00, 0x10, 0x00}),
                                   Chunk("data", Pattern(4000, 9))}));
    std::wstring longName = Path(std::wstring(257 - dir.size() - 1, L'n'));
    ASSERT_EQ(257u, longName.size());
    struct Named {
        std::wstring name;
        Bytes bytes, audio;
        std::wstring first, firstName, second;
    } files[] = {
        {L"l3.wav", {}, LayerAudio(1200, 1, kLayer3), kConverted, L"l3.mp3", kNotNeeded},
        {L"l2.wav", {}, LayerAudio(1200, 2, kLayer2), kConverted, L"l2.mp2", kNotNeeded},
        {L"song.rmp", {}, LayerAudio(1200, 3, kLayer3), kConverted, L"song.mp3", kNotNeeded},
        {L"radio.rmp", {}, LayerAudio(1200, 4, kLayer2), kConverted, L"radio.mp2", kNotNeeded},
        {L"noext", {}, LayerAudio(1200, 5, kLayer2), kConverted, L"noext.mp2", kNotNeeded},
        {L"SHOUT.MP3", {}, LayerAudio(1200, 6, kLayer3), kConverted, L"SHOUT.MP3", kNotNeeded},
        {L"taken.wav",
         {},
         LayerAudio(1200, 7, kLayer3),
         kConvertedNameTaken,
         L"taken.wav",
         kNotNeededNameTaken},
        {L"plain.wav",
         Join({Id3Tag(40), Zeros(5), LayerAudio(900, 8, kLayer2)}),
         {},
         kNotNeeded,
         L"plain.mp2",
         kNotNeeded},
        {L"odd.wav",
         LayerAudio(900, 9, kReserved),
         {},
         kNotNeededNotRenamed,
         L"odd.wav",
         kNotNeededNotRenamed},
        {L"held.wav",
         LayerAudio(1200, 10, kLayer3),
         {},
         kNotNeededNotRenamed,
         L"held.wav",
         kNotNeededNotRenamed},
        {L"pcm.wav", pcm, {}, kBadFormat, L"pcm.wav", kBadFormat},
        {L"missing.wav", {}, {}, kOpenFailed, L"missing.wav", kOpenFailed},
        {longName.substr(dir.size() + 1),
         {},
         LayerAudio(1200, 11, kLayer3),
         kConvertedNotRenamed,
         longName.substr(dir.size() + 1),
         kNotNeededNotRenamed},
    };
    std::vector<std::wstring> paths, renamed, firstSuffixes, secondSuffixes;
    for (Named &file : files) {
        if (!file.audio.empty() && file.bytes.empty())
            file.bytes = file.name.find(L".rmp") != std::wstring::npos
                             ? Riff("RMP3", Chunk("data", file.audio))
                             : WrappedWave(file.audio);
        paths.push_back(Path(file.name));
        renamed.push_back(Path(file.firstName));
        firstSuffixes.push_back(file.first);
        secondSuffixes.push_back(file.second);
        if (!file.bytes.empty()) {
            ASSERT_TRUE(WriteBytes(paths.back(), file.bytes)) << Narrow(file.name);
        }
    }
    Bytes other = Pattern(300, 12);
    ASSERT_TRUE(WriteBytes(Path(L"taken.mp3"), other));
    /* The times a converted file keeps survive its rename. */
    FileTimes before;
    ASSERT_TRUE(SetPastTimes(paths[0], &before));
    ASSERT_TRUE(GetTimes(paths[0], &before));
    /* A plain file open elsewhere, sharing reads and writes but not the
     * delete a rename needs: not renamed. (A wrapped one held so could not
     * be converted either: its new content takes its place by a rename.) */
    HANDLE held = CreateFileW(paths[9].c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    AddEntries(dialog, paths);

    ClickButton(dialog, IDOK);
    ASSERT_TRUE(WaitIdle(dialog));
    EXPECT_EQ(WithSuffixes(renamed, firstSuffixes), EntryTexts(dialog));
    EXPECT_EQ(L"Korvane - 完了: 変換 8 件 / 不要 3 件 / 失敗 2 件", Title(dialog));
    EXPECT_EQ((std::vector<int>{10, 11}), SelectedIndices(dialog));
    /* Read before the contents are, which moves the last-access time. */
    FileTimes after;
    ASSERT_TRUE(GetTimes(renamed[0], &after));
    EXPECT_TRUE(SameTimes(before, after));
    for (size_t i = 0; i < paths.size(); i++) {
        const Named &file = files[i];
        SCOPED_TRACE(Narrow(file.name));
        if (file.bytes.empty())
            continue;
        EXPECT_EQ(!file.audio.empty() ? file.audio : file.bytes, ReadBytes(renamed[i]));
        EXPECT_EQ(paths[i] == renamed[i], FileExists(paths[i]));
    }
    EXPECT_EQ(other, ReadBytes(Path(L"taken.mp3")));

    /* Ctrl+C over the selected failures. */
    PressListKey(dialog, 'C', true);
    EXPECT_EQ(paths[10] + L"\t破損したファイルまたは未対応の形式です。\r\n" + paths[11] +
                  L"\tファイルを開けません。\r\n",
              ClipboardText());

    ClickButton(dialog, IDOK);
    ASSERT_TRUE(WaitIdle(dialog));
    CloseHandle(held);
    EXPECT_EQ(WithSuffixes(renamed, secondSuffixes), EntryTexts(dialog));
    EXPECT_EQ(L"Korvane - 完了: 変換 0 件 / 不要 11 件 / 失敗 2 件", Title(dialog));
    EXPECT_EQ((std::vector<int>{10, 11}), SelectedIndices(dialog));
}

TEST_F(RunTest, KeepTimesIsTakenOnceWhenTheRunStarts)
{
    std::wstring big = Path(L"big.wav");
    std::vector<std::wstring> small = {Path(L"one.wav"), Path(L"two.wav")};
    AddEntries(dialog, {big, small[0], small[1]});
    for (int keep = 1; keep >= 0; keep--) {
        SCOPED_TRACE(keep ? "box on at the start" : "box off at the start");
        ASSERT_TRUE(WriteBigWave(big));
        FileTimes before[2];
        for (int i = 0; i < 2; i++) {
            ASSERT_TRUE(WriteBytes(small[i], WrappedWave(Audio(3000, i))));
            /* Read back: not every file system keeps a creation time as set. */
            ASSERT_TRUE(SetPastTimes(small[i], &before[i]));
            ASSERT_TRUE(GetTimes(small[i], &before[i]));
        }
        if (IsChecked(dialog, IDC_KEEP_TIMES) != (keep != 0))
            ClickControl(dialog, IDC_KEEP_TIMES);
        ASSERT_EQ(keep != 0, IsChecked(dialog, IDC_KEEP_TIMES));

        ClickButton(dialog, IDOK);
        ASSERT_TRUE(WaitChecking(dialog, 0));
        ClickControl(dialog, IDC_KEEP_TIMES);
        EXPECT_EQ(keep == 0, IsChecked(dialog, IDC_KEEP_TIMES));
        bool duringFirstFile = IsBeingChecked(dialog, 0);
        ASSERT_TRUE(WaitIdle(dialog));
        ASSERT_TRUE(duringFirstFile) << "the big file was done before the box was clicked";

        EXPECT_EQ(WithSuffixes({big, small[0], small[1]}, {kConverted, kConverted, kConverted}),
                  EntryTexts(dialog));
        for (int i = 0; i < 2; i++) {
            FileTimes after;
            ASSERT_TRUE(GetTimes(small[i], &after));
            EXPECT_EQ(keep != 0, SameTimes(before[i], after)) << Narrow(small[i]);
        }
    }
}

TEST_F(RunTest, StopDuringTheThirdOfTenEntriesLeavesTheRestAsTheyWere)
{
    std::vector<std::wstring> paths, added;
    std::vector<Bytes> files(10);
    for (int i = 0; i < 10; i++) {
        paths.push_back(Path(std::to_wstring(i) + L".wav"));
        if (i == 2) {
            ASSERT_TRUE(WriteBigWave(paths[i]));
        } else {
            files[i] = WrappedWave(Audio(2000 + i, i));
            ASSERT_TRUE(WriteBytes(paths[i], files[i]));
        }
        /* Some entries still show the outcome of an earlier run. */
        added.push_back(i % 2 ? paths[i] + kOpenFailed : paths[i]);
    }
    AddEntries(dialog, added);

    ClickButton(dialog, IDOK);
    ASSERT_TRUE(WaitChecking(dialog, 2));
    ClickButton(dialog, IDOK);
    std::wstring buttonAfterStop = ButtonText(dialog, IDOK);
    bool duringThirdFile = IsBeingChecked(dialog, 2);
    ASSERT_TRUE(WaitIdle(dialog));
    ASSERT_TRUE(duringThirdFile) << "the third file was done before stop was pressed";
    /* The stop text stays until the file in hand is done. */
    EXPECT_EQ(kStopText, buttonAfterStop);

    std::vector<std::wstring> texts = EntryTexts(dialog);
    ASSERT_EQ(10u, texts.size());
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(paths[i] + kConverted, texts[i]);
    for (int i = 3; i < 10; i++) {
        EXPECT_EQ(added[i], texts[i]);
        EXPECT_EQ(files[i], ReadBytes(paths[i])) << Narrow(paths[i]);
    }
    EXPECT_EQ(Audio(2001, 1), ReadBytes(paths[1]));
    EXPECT_TRUE(BigIsConverted(paths[2]));
    EXPECT_TRUE(AcceptsDrops(dialog));
    EXPECT_EQ(L"Korvane - 中止: 変換 3 件 / 不要 0 件 / 失敗 0 件", Title(dialog));

    /* The next run starts again from the first entry and is not stopped. */
    ClickButton(dialog, IDOK);
    ASSERT_TRUE(WaitIdle(dialog));
    texts = EntryTexts(dialog);
    ASSERT_EQ(10u, texts.size());
    for (int i = 0; i < 10; i++)
        EXPECT_EQ(paths[i] + (i < 3 ? kNotNeeded : kConverted), texts[i]);
    EXPECT_EQ(L"Korvane - 完了: 変換 7 件 / 不要 3 件 / 失敗 0 件", Title(dialog));
    ASSERT_TRUE(DropPaths(dialog, {paths[0]}));
    EXPECT_EQ(kTitle, Title(dialog));
}

TEST_F(RunTest, DuringARunTheListIsFrozenAndTheWindowAnswers)
{
    std::wstring big = Path(L"big.wav"), small = Path(L"small.wav"), late = Path(L"late.wav");
    ASSERT_TRUE(WriteBigWave(big));
    ASSERT_TRUE(WriteBytes(small, WrappedWave(Audio(1000, 1))));
    ASSERT_TRUE(WriteBytes(late, WrappedWave(Audio(1000, 2))));
    AddEntries(dialog, {big, small, small});
    HWND list = EntryListOf(dialog);

    ClickButton(dialog, IDOK);
    ASSERT_TRUE(WaitChecking(dialog, 0));
    EXPECT_EQ(kStopText, ButtonText(dialog, IDOK));
    EXPECT_FALSE(AcceptsDrops(dialog));
    EXPECT_FALSE(DropPaths(dialog, {late}));

    SendMessageW(list, LB_SETSEL, TRUE, 1);
    PressListKey(dialog, VK_DELETE, false);
    EXPECT_EQ(3, (int)SendMessageW(list, LB_GETCOUNT, 0, 0));
    SendMessageW(list, LB_SETSEL, FALSE, -1);
    PressListKey(dialog, 'A', true);
    EXPECT_EQ((std::vector<int>{0, 1, 2}), SelectedIndices(dialog));

    /* Sent messages are answered at once while the file converts. The
     * title counts the entries. */
    wchar_t title[32] = {0};
    DWORD_PTR result = 0;
    EXPECT_NE(
        0, SendMessageTimeoutW(dialog, WM_GETTEXT, 32, (LPARAM)title, SMTO_NORMAL, 250, &result));
    EXPECT_STREQ(L"Korvane - 1 / 3", title);
    EXPECT_NE(0, SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_NORMAL, 250, &result));
    EXPECT_EQ(3u, result);
    bool duringFirstFile = IsBeingChecked(dialog, 0);
    ASSERT_TRUE(WaitIdle(dialog));
    ASSERT_TRUE(duringFirstFile) << "the big file was done before the checks";
    EXPECT_EQ(WithSuffixes({big, small, small}, {kConverted, kConverted, kNotNeeded}),
              EntryTexts(dialog));
    EXPECT_EQ(L"Korvane - 完了: 変換 2 件 / 不要 1 件 / 失敗 0 件", Title(dialog));

    /* Idle again: Delete and drops work. Deleting changes the list, so the
     * title no longer sums up the run. */
    SendMessageW(list, LB_SETSEL, TRUE, 0);
    PressListKey(dialog, VK_DELETE, false);
    EXPECT_EQ(2, (int)SendMessageW(list, LB_GETCOUNT, 0, 0));
    EXPECT_EQ(kTitle, Title(dialog));
    EXPECT_TRUE(DropPaths(dialog, {late}));
    EXPECT_EQ((std::vector<std::wstring>{small + kConverted, small + kNotNeeded, late}),
              EntryTexts(dialog));
}

/* A long run, as a folder of a few thousand songs makes. The list keeps the
 * entry being checked in view; a user who scrolls away is left alone until
 * they scroll back to the run. The title counts the entries and at the end
 * sums up the outcomes. The run waits on three big files for the checks. */
TEST_F(RunTest, ALongRunIsFollowedInTheListAndCountedInTheTitle)
{
    HWND list = EntryListOf(dialog);
    const int lines = WholeLines(list);
    ASSERT_GT(lines, 2);
    const int gone = 1000, count = gone + 3;
    const int first = 2 * lines, second = first + gone / 2, last = count - 1;
    std::vector<std::wstring> paths;
    for (int i = 0; i < count; i++) {
        bool big = i == first || i == second || i == last;
        paths.push_back(Path((big ? L"big-" : L"gone-") + std::to_wstring(i) + L".wav"));
        if (big) {
            ASSERT_TRUE(WriteBigWave(paths.back()));
        }
    }
    AddEntries(dialog, paths);

    ClickButton(dialog, IDOK);
    /* Followed from the top: the entry in hand is the last one shown whole. */
    ASSERT_TRUE(WaitChecking(dialog, first));
    EXPECT_EQ(first - lines + 1, TopIndex(list));
    SendMessageW(list, LB_SETTOPINDEX, 0, 0);
    ASSERT_TRUE(IsBeingChecked(dialog, first)) << "the file was done before the scroll";

    /* Scrolled away to the top, the user is left there. */
    ASSERT_TRUE(WaitChecking(dialog, second));
    EXPECT_EQ(0, TopIndex(list));
    /* The quick entries before it held the count back; the long file gets
     * its own number soon all the same. */
    std::wstring during = L"Korvane - " + std::to_wstring(second + 1) + L" / 1003";
    EXPECT_TRUE(WaitUntil([&] { return Title(dialog) == during; }, 2000)) << Narrow(Title(dialog));
    /* Scrolled back to where the run is, the list follows it again. */
    SendMessageW(list, LB_SETTOPINDEX, second - lines + 2, 0);
    ASSERT_TRUE(IsBeingChecked(dialog, second)) << "the file was done before the scroll";

    ASSERT_TRUE(WaitChecking(dialog, last));
    EXPECT_EQ(last - lines + 1, TopIndex(list));
    /* The last entry is always counted in the title. */
    EXPECT_EQ(L"Korvane - 1003 / 1003", Title(dialog));
    bool duringLastFile = IsBeingChecked(dialog, last);
    ASSERT_TRUE(WaitIdle(dialog));
    ASSERT_TRUE(duringLastFile) << "the run was over before the title was read";

    EXPECT_EQ(L"Korvane - 完了: 変換 3 件 / 不要 0 件 / 失敗 1,000 件", Title(dialog));
    /* The thousand failures are the selection, and the first of them is
     * scrolled back into view. */
    std::vector<int> failed;
    for (int i = 0; i < count; i++) {
        if (i != first && i != second && i != last)
            failed.push_back(i);
    }
    EXPECT_EQ(failed, SelectedIndices(dialog));
    EXPECT_EQ(0, TopIndex(list));
}

TEST_F(RunTest, CloseDuringARunCancelledLetsTheRunGoOn)
{
    std::vector<std::wstring> paths;
    ASSERT_TRUE(ListSeries(&paths));

    ClickButton(dialog, IDOK);
    ASSERT_TRUE(WaitChecking(dialog, 0));
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    HWND box = WaitConfirmation();
    ASSERT_TRUE(box != NULL);
    CheckConfirmation(box, dialog);
    Answer(box, IDCANCEL);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 10000));
    int current = LastReached(dialog);
    bool enabled = IsWindowEnabled(dialog) != FALSE;
    ASSERT_TRUE(WaitIdle(dialog));
    ASSERT_LT(current, kSeriesFiles - 1) << "the run was over before the answer";
    EXPECT_TRUE(enabled);

    /* The run went on to the last entry. */
    EXPECT_TRUE(DialogRunning());
    std::vector<std::wstring> texts = EntryTexts(dialog);
    ASSERT_EQ(paths.size(), texts.size());
    for (int i = 0; i < kSeriesFiles; i++) {
        EXPECT_EQ(paths[i] + kConverted, texts[i]);
        EXPECT_TRUE(BigIsConverted(paths[i], kSeriesMiB)) << i;
    }
    EXPECT_FALSE(FileExists(SettingsPath()));

    /* With no run going the window closes without a question. */
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    EXPECT_EQ(0, WaitDialogEnd(5000));
    EXPECT_TRUE(FileExists(SettingsPath()));
}

TEST_F(RunTest, CloseDuringARunConfirmedEndsAfterTheCurrentFile)
{
    std::vector<std::wstring> paths;
    ASSERT_TRUE(ListSeries(&paths));
    ClickControl(dialog, IDC_FILTER_MP3);
    ASSERT_FALSE(IsChecked(dialog, IDC_FILTER_MP3));

    ClickButton(dialog, IDOK);
    ASSERT_TRUE(WaitChecking(dialog, 0));
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    HWND box = WaitConfirmation();
    ASSERT_TRUE(box != NULL);
    CheckConfirmation(box, dialog);
    int asked = LastReached(dialog);
    Answer(box, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 10000));
    /* Asking the list goes through the dialog's thread, so the answer has
     * been acted on by the time it replies. While Wine takes the box down,
     * the run waits for the dialog at its next message; the file it has
     * reached is the one in hand when the answer takes effect. */
    int current = LastReachedWhole(dialog, paths.size());
    bool enabled = IsWindowEnabled(dialog) != FALSE;
    EXPECT_EQ(0, WaitDialogEnd(kRunTimeoutMs));
    /* Where the file in hand was done quickly, the window may be gone before
     * it could be asked. The files then tell how far the run went. */
    if (current < 0) {
        while (current + 1 < kSeriesFiles && BigIsConverted(paths[current + 1], kSeriesMiB))
            current++;
    }
    ASSERT_GE(current, asked) << "the run went back";
    ASSERT_LT(current, kSeriesFiles - 1) << "the run was over before the answer";
    EXPECT_FALSE(enabled);

    /* The file in hand was finished, the later ones not begun. */
    for (int i = 0; i < kSeriesFiles; i++) {
        if (i <= current)
            EXPECT_TRUE(BigIsConverted(paths[i], kSeriesMiB)) << i;
        else
            EXPECT_TRUE(BigIsUntouched(paths[i], kSeriesMiB)) << i;
    }
    ASSERT_TRUE(FileExists(SettingsPath()));
    dialog = StartDialog();
    ASSERT_TRUE(dialog != NULL);
    EXPECT_FALSE(IsChecked(dialog, IDC_FILTER_MP3));
    EXPECT_TRUE(IsChecked(dialog, IDC_SUBFOLDERS));
}

TEST_F(RunTest, QuestionAnsweredAfterTheRunEnded)
{
    std::wstring big = Path(L"big.wav"), small = Path(L"small.wav");
    for (int answer : {IDCANCEL, IDOK}) {
        SCOPED_TRACE(answer == IDOK ? "OK" : "Cancel");
        SendMessageW(EntryListOf(dialog), LB_RESETCONTENT, 0, 0);
        ASSERT_TRUE(WriteBigWave(big));
        AddEntries(dialog, {big});
        ClickButton(dialog, IDOK);
        ASSERT_TRUE(WaitChecking(dialog, 0));
        PostMessageW(dialog, WM_CLOSE, 0, 0);
        HWND box = WaitConfirmation();
        ASSERT_TRUE(box != NULL);
        /* The run goes on under the question and ends. */
        ASSERT_TRUE(WaitIdle(dialog));
        EXPECT_EQ(big + kConverted, EntryText(dialog, 0));
        EXPECT_TRUE(IsWindow(box));
        Answer(box, answer);
        if (answer == IDOK) {
            EXPECT_EQ(0, WaitDialogEnd(5000));
            EXPECT_TRUE(FileExists(SettingsPath()));
            break;
        }
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 10000));
        EXPECT_TRUE(DialogRunning());
        EXPECT_TRUE(IsWindowEnabled(dialog));
        EXPECT_FALSE(FileExists(SettingsPath()));

        /* Still usable: a dropped file converts in a new run. */
        ASSERT_TRUE(WriteBytes(small, WrappedWave(Audio(1000, 1))));
        ASSERT_TRUE(DropPaths(dialog, {small}));
        ClickButton(dialog, IDOK);
        ASSERT_TRUE(WaitIdle(dialog));
        EXPECT_EQ(WithSuffixes({big, small}, {kNotNeeded, kConverted}), EntryTexts(dialog));
    }
}

static DWORD WINAPI DoNothing(LPVOID)
{
    return 0;
}

/* Reserves address space until no more can be had in pieces of minBytes,
 * so that no new thread finds room for its stack. A 32-bit process runs out
 * of its 2 GiB (4 GiB when large-address-aware on 64-bit Windows), in Wine's
 * WoW64 mode as on 32-bit Windows. A 64-bit one has terabytes, and under
 * Wine each reservation is a mapping of the host's: it runs out of mappings
 * (the host's per-process limit) long before it runs out of addresses, so
 * it takes smaller pieces, which keeps the bookkeeping for them small.
 * Either way the test proves with a probe that no thread can be made. */
static std::vector<void *> ReserveAddressSpace(SIZE_T minBytes)
{
    std::vector<void *> taken;
    const SIZE_T largest = sizeof(void *) > 4 ? (SIZE_T)1 << 24 : (SIZE_T)1 << 28;
    for (SIZE_T size = largest; size >= minBytes; size /= 2) {
        while (void *p = VirtualAlloc(NULL, size, MEM_RESERVE, PAGE_NOACCESS))
            taken.push_back(p);
    }
    return taken;
}

TEST_F(RunTest, WhenNoThreadCanBeMadeTheDialogStaysIdle)
{
    std::wstring wave = Path(L"wave.wav");
    Bytes file = WrappedWave(Audio(1000, 1));
    ASSERT_TRUE(WriteBytes(wave, file));
    AddEntries(dialog, {wave});

    std::vector<void *> taken = ReserveAddressSpace(256 * 1024);
    HANDLE probe = CreateThread(NULL, 0, DoNothing, NULL, 0, NULL);
    if (probe == NULL)
        ClickButton(dialog, IDOK);
    for (void *p : taken)
        VirtualFree(p, 0, MEM_RELEASE);
    if (probe != NULL) {
        WaitForSingleObject(probe, INFINITE);
        CloseHandle(probe);
    }
    ASSERT_TRUE(probe == NULL) << "threads could still be made";

    EXPECT_EQ(0, RunState.busy);
    EXPECT_EQ(kStartText, ButtonText(dialog, IDOK));
    EXPECT_TRUE(AcceptsDrops(dialog));
    EXPECT_EQ(std::vector<std::wstring>{wave}, EntryTexts(dialog));
    EXPECT_EQ(file, ReadBytes(wave));

    /* With room again the button starts a run as usual. */
    ClickButton(dialog, IDOK);
    ASSERT_TRUE(WaitIdle(dialog));
    EXPECT_EQ(wave + kConverted, EntryText(dialog, 0));
}
