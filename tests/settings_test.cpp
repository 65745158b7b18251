/*
 * settings_test.cpp: settings.ini under Wine. Saving and loading real files,
 * the parser's reading of values and keys, and the parser run over generated
 * and mutated texts that end right at a page the process may not touch.
 */
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "test_files.h"

using namespace std::string_literals;

namespace
{

/* The text as it lies in the file: little-endian units, with or without the mark. */
Bytes Utf16(const std::wstring &text, bool mark = true)
{
    Bytes bytes;
    if (mark)
        bytes = {0xFF, 0xFE};
    for (wchar_t unit : text) {
        bytes.push_back((unsigned char)(unit & 0xFF));
        bytes.push_back((unsigned char)(unit >> 8));
    }
    return bytes;
}

Bytes Concat(Bytes head, const Bytes &tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

void SetAll(int modifyTimes, int filterExtension, int includeSubDirectory, int keepRiffTags = 1,
            int fixExtension = 1)
{
    Settings.modifyTimes = modifyTimes;
    Settings.filterExtension = filterExtension;
    Settings.includeSubDirectory = includeSubDirectory;
    Settings.keepRiffTags = keepRiffTags;
    Settings.fixExtension = fixExtension;
}

#define EXPECT_SETTINGS(m, f, i)                                                                   \
    do {                                                                                           \
        EXPECT_EQ(m, Settings.modifyTimes);                                                        \
        EXPECT_EQ(f, Settings.filterExtension);                                                    \
        EXPECT_EQ(i, Settings.includeSubDirectory);                                                \
    } while (0)

/* One writable page between two no-access pages: a text placed at its end is
 * followed by nothing readable, one placed at its start by nothing before. */
struct GuardedPage {
    wchar_t *start;
    size_t units;
};

GuardedPage MakeGuardedPage()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    DWORD bytes = info.dwPageSize, old;
    unsigned char *base =
        (unsigned char *)VirtualAlloc(NULL, 3 * bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (base == NULL || !VirtualProtect(base, bytes, PAGE_NOACCESS, &old) ||
        !VirtualProtect(base + 2 * bytes, bytes, PAGE_NOACCESS, &old))
        return {NULL, 0};
    return {(wchar_t *)(base + bytes), bytes / sizeof(wchar_t)};
}

const GuardedPage page = MakeGuardedPage();

/* The text's last unit is the last one before the upper no-access page. */
wchar_t *AtEnd(const std::wstring &text)
{
    wchar_t *at = page.start + page.units - text.size();
    wmemcpy(at, text.data(), text.size());
    return at;
}

/* The text starts the page and is followed by lines whose values would show
 * if the parser read on. */
wchar_t *AtStart(const std::wstring &text)
{
    static const std::wstring bait =
        L"4242\r\nModifyTimes=4242\r\nFilterExtension=4242\r\nIncludeSubDirectory=4242\r\n";
    for (size_t i = text.size(); i < page.units; i++)
        page.start[i] = bait[i % bait.size()];
    wmemcpy(page.start, text.data(), text.size());
    return page.start;
}

/* Pieces of text separated by "|". */
std::vector<std::wstring> Split(const std::wstring &text)
{
    std::vector<std::wstring> pieces(1);
    for (wchar_t unit : text) {
        if (unit == L'|')
            pieces.emplace_back();
        else
            pieces.back() += unit;
    }
    return pieces;
}

/* Parses text with the defaults in force; the text ends at a no-access page. */
int Parse(const std::wstring &text)
{
    SetDefaultSettings();
    return ParseSettings(AtEnd(text), text.size());
}

int ModifyTimesFrom(const std::wstring &value)
{
    Parse(L"ModifyTimes=" + value + L"\r\n");
    return Settings.modifyTimes;
}

std::wstring SettingsPath(const std::wstring &dir)
{
    return dir + L"\\settings.ini";
}

/* ---- Saving and loading real files ---- */

TEST(SettingsFile, DefaultsAreSavedAsFiveExactLines)
{
    SetAll(7, 7, 7, 7, 7);
    SetDefaultSettings();
    EXPECT_SETTINGS(0, 1, 1);
    EXPECT_EQ(1, Settings.keepRiffTags);
    EXPECT_EQ(1, Settings.fixExtension);

    std::wstring path = SettingsPath(FreshDir(L"settings-defaults"));
    /* A longer file already there is replaced, not overwritten at its start. */
    ASSERT_TRUE(WriteBytes(path, Bytes(500, 'x')));
    EXPECT_EQ(1, SaveSettings(path.c_str()));
    Bytes expected = {0xFF, 0xFE};
    for (char c : std::string("ModifyTimes=0\r\nFilterExtension=1\r\nIncludeSubDirectory=1\r\n"
                              "KeepRiffTags=1\r\nFixExtension=1\r\n")) {
        expected.push_back((unsigned char)c);
        expected.push_back(0);
    }
    ASSERT_EQ(180u, expected.size());
    EXPECT_EQ(expected, ReadBytes(path));
}

TEST(SettingsFile, SavedValuesReadBackTheSame)
{
    std::wstring path = SettingsPath(FreshDir(L"settings-roundtrip"));
    const int cases[][5] = {{0, 0, 0, 0, 0},
                            {1, 0, 1, 1, 0},
                            {-1, 5, 123456789, 3, 1},
                            {2147483647, -2147483647 - 1, -42, 0, -9}};
    for (const auto &values : cases) {
        SetAll(values[0], values[1], values[2], values[3], values[4]);
        ASSERT_EQ(1, SaveSettings(path.c_str()));
        SetAll(99, 99, 99, 99, 99);
        EXPECT_EQ(1, LoadSettings(path.c_str()));
        EXPECT_SETTINGS(values[0], values[1], values[2]);
        EXPECT_EQ(values[3], Settings.keepRiffTags);
        EXPECT_EQ(values[4], Settings.fixExtension);
    }
    EXPECT_EQ(Utf16(L"ModifyTimes=2147483647\r\nFilterExtension=-2147483648\r\n"
                    L"IncludeSubDirectory=-42\r\nKeepRiffTags=0\r\nFixExtension=-9\r\n"),
              ReadBytes(path));
}

/* An older version's file has three or four keys: the later ones keep
 * their defaults, and are written back after them. */
TEST(SettingsFile, UnknownKeysAreDroppedAndUntouchedValuesKept)
{
    std::wstring path = SettingsPath(FreshDir(L"settings-keep"));
    ASSERT_TRUE(WriteBytes(path, Utf16(L"Language=ja\r\nModifyTimes=5\r\nWindowX=300\r\n"
                                       L"IncludeSubDirectory=0x10\r\n")));
    SetDefaultSettings();
    EXPECT_EQ(1, LoadSettings(path.c_str()));
    EXPECT_SETTINGS(5, 1, 16);
    EXPECT_EQ(1, Settings.keepRiffTags);
    EXPECT_EQ(1, SaveSettings(path.c_str()));
    EXPECT_EQ(Utf16(L"ModifyTimes=5\r\nFilterExtension=1\r\nIncludeSubDirectory=16\r\n"
                    L"KeepRiffTags=1\r\nFixExtension=1\r\n"),
              ReadBytes(path));
    ASSERT_TRUE(WriteBytes(path, Utf16(L"ModifyTimes=1\r\nFilterExtension=0\r\n"
                                       L"IncludeSubDirectory=0\r\nKeepRiffTags=0\r\n")));
    SetAll(0, 1, 1, 1, 0);
    SetDefaultSettings();
    EXPECT_EQ(1, LoadSettings(path.c_str()));
    EXPECT_SETTINGS(1, 0, 0);
    EXPECT_EQ(0, Settings.keepRiffTags);
    EXPECT_EQ(1, Settings.fixExtension);
    EXPECT_EQ(1, SaveSettings(path.c_str()));
    EXPECT_EQ(Utf16(L"ModifyTimes=1\r\nFilterExtension=0\r\nIncludeSubDirectory=0\r\n"
                    L"KeepRiffTags=0\r\nFixExtension=1\r\n"),
              ReadBytes(path));
}

TEST(SettingsFile, FilesThatAreNotReadLeaveTheDefaults)
{
    std::wstring dir = FreshDir(L"settings-ignored");
    std::wstring path = SettingsPath(dir);
    const std::wstring body = L"ModifyTimes=1\r\nFilterExtension=0\r\nIncludeSubDirectory=0\r\n";

    SetDefaultSettings();
    EXPECT_EQ(0, LoadSettings(path.c_str())); /* missing */
    EXPECT_SETTINGS(0, 1, 1);

    const Bytes ignored[] = {
        Bytes(),                                                     /* empty */
        {0xFF},                                                      /* one byte: no whole unit */
        Utf16(body, false),                                          /* no mark */
        Concat({0xFE, 0xFF}, Utf16(body, false)),                    /* big-endian mark */
        Concat({0xEF, 0xBB, 0xBF}, Bytes(body.begin(), body.end())), /* UTF-8 with its mark */
        Bytes(body.begin(), body.end()),                             /* UTF-8 without */
    };
    for (const Bytes &bytes : ignored) {
        ASSERT_TRUE(WriteBytes(path, bytes));
        SetDefaultSettings();
        EXPECT_EQ(0, LoadSettings(path.c_str())) << bytes.size() << " bytes";
        EXPECT_SETTINGS(0, 1, 1);
    }

    /* A file somebody else holds open without sharing cannot be read. */
    ASSERT_TRUE(WriteBytes(path, Utf16(body)));
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    SetDefaultSettings();
    EXPECT_EQ(0, LoadSettings(path.c_str()));
    EXPECT_SETTINGS(0, 1, 1);
    CloseHandle(held);
    EXPECT_EQ(1, LoadSettings(path.c_str()));
    EXPECT_SETTINGS(1, 0, 0);
}

TEST(SettingsFile, MarkAloneEmptyLinesAndOddLength)
{
    std::wstring path = SettingsPath(FreshDir(L"settings-odd"));

    ASSERT_TRUE(WriteBytes(path, {0xFF, 0xFE}));
    SetDefaultSettings();
    EXPECT_EQ(1, LoadSettings(path.c_str()));
    EXPECT_SETTINGS(0, 1, 1);

    /* The odd last byte '2' would make the value 12 if it were read as a unit. */
    Bytes odd = Utf16(L"FilterExtension=0\r\nModifyTimes=1");
    odd.push_back('2');
    ASSERT_TRUE(WriteBytes(path, odd));
    SetDefaultSettings();
    EXPECT_EQ(1, LoadSettings(path.c_str()));
    EXPECT_SETTINGS(1, 0, 1);

    ASSERT_TRUE(WriteBytes(path, {0xFF, 0xFE, '9'}));
    SetDefaultSettings();
    EXPECT_EQ(1, LoadSettings(path.c_str()));
    EXPECT_SETTINGS(0, 1, 1);
}

TEST(SettingsFile, UnwritablePlacesReturnZero)
{
    std::wstring dir = FreshDir(L"settings-unwritable");
    SetAll(1, 0, 0);
    EXPECT_EQ(0, SaveSettings((dir + L"\\missing\\settings.ini").c_str()));
    EXPECT_FALSE(FileExists(dir + L"\\missing"));
    EXPECT_EQ(0, SaveSettings(dir.c_str())); /* a folder, not a file */

    /* A file held open without sharing keeps its content. */
    std::wstring path = SettingsPath(dir);
    ASSERT_TRUE(WriteBytes(path, {'k', 'e', 'e', 'p'}));
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(0, SaveSettings(path.c_str()));
    CloseHandle(held);
    EXPECT_EQ(Bytes({'k', 'e', 'e', 'p'}), ReadBytes(path));
}

/* ---- What the parser makes of values, keys and lines ---- */

TEST(ParseSettings, ValuesConvertLikeWcstolWithBaseZero)
{
    ASSERT_TRUE(page.start != NULL);
    EXPECT_EQ(16, ModifyTimesFrom(L"0x10"));
    EXPECT_EQ(31, ModifyTimesFrom(L"0X1f"));
    EXPECT_EQ(8, ModifyTimesFrom(L"010"));
    EXPECT_EQ(0, ModifyTimesFrom(L"08"));
    EXPECT_EQ(1, ModifyTimesFrom(L" 1"));
    EXPECT_EQ(3, ModifyTimesFrom(L"\t 3"));
    EXPECT_EQ(0, ModifyTimesFrom(L"on"));
    EXPECT_EQ(0, ModifyTimesFrom(L""));
    EXPECT_EQ(0, ModifyTimesFrom(L"=5"));
    EXPECT_EQ(-5, ModifyTimesFrom(L"-5"));
    EXPECT_EQ(7, ModifyTimesFrom(L"+7"));
    EXPECT_EQ(12, ModifyTimesFrom(L"12abc"));
    EXPECT_EQ(12, ModifyTimesFrom(L"12 34"));
    EXPECT_EQ(2147483647, ModifyTimesFrom(L"99999999999"));
    EXPECT_EQ(2147483647, ModifyTimesFrom(L"0x80000000"));
    EXPECT_EQ(-2147483647 - 1, ModifyTimesFrom(L"-2147483648"));
    EXPECT_EQ(-2147483647 - 1, ModifyTimesFrom(L"-99999999999999999999"));
    /* A NUL ends the value even though the line goes on. */
    EXPECT_EQ(1, ModifyTimesFrom(L"1\0"
                                 L"2"s));
}

TEST(ParseSettings, KeysMatchExactlyAndTheLaterOneWins)
{
    for (const std::wstring &line : Split(L"modifytimes=1|MODIFYTIMES=1|ModifyTimes =1|"
                                          L" ModifyTimes=1|ModifyTime=1|ModifyTimesX=1|=1|"
                                          L"ModifyTimes")) {
        EXPECT_EQ(1, Parse(line + L"\r\n")) << Narrow(line);
        EXPECT_SETTINGS(0, 1, 1);
    }
    Parse(L"ModifyTimes=3\r\nFilterExtension=0\r\nModifyTimes=4\r\nModifyTimes=x\r\n");
    EXPECT_SETTINGS(0, 0, 1);
    Parse(L"IncludeSubDirectory=2\r\nModifyTimes=3\r\nIncludeSubDirectory=9\r\n");
    EXPECT_SETTINGS(3, 1, 9);
    /* A NUL ends the key; what lies between it and "=" does not count. */
    Parse(L"ModifyTimes\0junk=7\r\nFilterExtension=0\0"
          L"5\r\n"s);
    EXPECT_SETTINGS(7, 0, 1);
}

TEST(ParseSettings, LineEnds)
{
    /* A line without "=" is skipped and the parse goes on. */
    EXPECT_EQ(1, Parse(L"[Settings]\r\nModifyTimes=1\r\n"));
    EXPECT_SETTINGS(1, 1, 1);
    /* The last line may lack its CR, or end in a lone CR. */
    EXPECT_EQ(1, Parse(L"FilterExtension=0\r\nModifyTimes=6"));
    EXPECT_SETTINGS(6, 0, 1);
    EXPECT_EQ(1, Parse(L"ModifyTimes=3\r"));
    EXPECT_SETTINGS(3, 1, 1);
    /* LF-only line ends make one line: only the first "=" splits it. */
    EXPECT_EQ(1, Parse(L"ModifyTimes=2\nFilterExtension=0\nIncludeSubDirectory=0\n"));
    EXPECT_SETTINGS(2, 1, 1);
    /* The unit after a CR is skipped whatever it is; empty lines are harmless. */
    Parse(L"ModifyTimes=1\rXFilterExtension=0\r\rIncludeSubDirectory=0\r\n\r\n\r\n");
    EXPECT_SETTINGS(1, 0, 0);
    EXPECT_EQ(1, Parse(L""));
    EXPECT_SETTINGS(0, 1, 1);
    /* A NUL where a line starts ends the parse early; earlier lines stay. */
    EXPECT_EQ(0, Parse(L"ModifyTimes=1\r\n\0FilterExtension=0\r\n"s));
    EXPECT_SETTINGS(1, 1, 1);
}

/* ---- Never outside the text ---- */

/* The parse as a plain model: each line cut at its first CR, split at its
 * first "=", key and value cut at their first NUL, the value through wcstol.
 * Gives the result followed by the three fields. */
typedef std::array<int, 4> Outcome;

Outcome Model(const std::wstring &text)
{
    Outcome out = {0, 0, 1, 1};
    const std::wstring keys[] = {L"ModifyTimes", L"FilterExtension", L"IncludeSubDirectory"};
    size_t start = 0;
    while (start < text.size() && text[start] != 0) {
        size_t cr = std::min(text.find(L'\r', start), text.size());
        std::wstring line = text.substr(start, cr - start);
        size_t equals = line.find(L'=');
        for (int i = 0; equals != std::wstring::npos && i < 3; i++) {
            if (line.substr(0, equals).c_str() == keys[i])
                out[i + 1] = (int)wcstol(line.substr(equals + 1).c_str(), NULL, 0);
        }
        start = cr + 2;
    }
    out[0] = start >= text.size();
    return out;
}

std::wstring Generated(std::mt19937 &random)
{
    static const std::vector<std::wstring> pieces =
        Split(L"ModifyTimes|FilterExtension|IncludeSubDirectory|modifyTimes|Modify|=|=|\r\n|"
              L"\r|\n|\0| |0x|0|-|+|7|19|on|\t"s);
    std::wstring text;
    size_t count = random() % 24;
    for (size_t i = 0; i < count; i++) {
        size_t pick = random() % (pieces.size() + 3);
        if (pick < pieces.size())
            text += pieces[pick];
        else if (pick == pieces.size())
            text += std::wstring(random() % 300, L' ');
        else if (pick == pieces.size() + 1)
            text += std::wstring(random() % 40 + 1, (wchar_t)(L'0' + random() % 10));
        else
            text += (wchar_t)(random() % 128);
    }
    return text;
}

std::wstring Mutated(std::mt19937 &random)
{
    std::wstring text = L"ModifyTimes=1\r\nFilterExtension=0\r\nIncludeSubDirectory=0x1F\r\n";
    size_t edits = random() % 4;
    for (size_t i = 0; i < edits && !text.empty(); i++) {
        size_t at = random() % text.size();
        static const wchar_t units[] = {L'\r', L'\n', L'=', L'\0', L' ', L'9', L'x', L'-'};
        switch (random() % 3) {
        case 0:
            text[at] = units[random() % 8];
            break;
        case 1:
            text.erase(at, 1 + random() % 6);
            break;
        default:
            text.insert(at, 1, units[random() % 8]);
        }
    }
    /* Cut anywhere: mid-key, after "=", between CR and LF, at a lone CR. */
    text.resize(random() % (text.size() + 1));
    return text;
}

TEST(ParseSettings, StaysInsideTextsThatEndAtAnInaccessiblePage)
{
    ASSERT_TRUE(page.start != NULL);
    std::mt19937 random(20240611);
    int mismatches = 0;
    for (int round = 0; round < 40000; round++) {
        std::wstring text = round % 2 ? Generated(random) : Mutated(random);
        ASSERT_LE(text.size(), page.units);
        Outcome expected = Model(text);
        for (int placement = 0; placement < 2; placement++) {
            wchar_t *at = placement ? AtStart(text) : AtEnd(text);
            SetDefaultSettings();
            Outcome got = {ParseSettings(at, text.size()), Settings.modifyTimes,
                           Settings.filterExtension, Settings.includeSubDirectory};
            if (got != expected && ++mismatches <= 5) {
                EXPECT_EQ(expected, got)
                    << "round " << round << ", placed at the " << (placement ? "start" : "end");
            }
        }
    }
    EXPECT_EQ(0, mismatches);
}

} // namespace
