/*
 * planted_dll_test.cpp: Korvane.exe started from a folder where somebody
 * has left DLLs with system names, as a download folder may hold. Each of
 * them is the marker DLL, which leaves a file beside itself when its code
 * runs. The real program is started in its own process from that folder,
 * shows its window, takes a drop, converts a file and is closed; no marker
 * may appear. The limit the program sets on the search for DLLs it loads
 * later is checked apart: under Wine the system asks for none of the usual
 * names then, so this program runs a copy of itself from such a folder,
 * which loads one by name.
 */
#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>
#include <string>
#include <vector>

#include "platform/system_dlls.h"
#include "res/resource.h"
#include "tests/dialog_driver.h"
#include "tests/test_files.h"

namespace
{

/* System DLLs that are not all known DLLs, so that Windows may look for
 * them in the program's folder first: what the program's imports need in
 * turn, what the system loads later on the program's behalf (themes, input
 * methods, accessibility, composition, compatibility, COM), and the shell's
 * two, which the program itself loads. */
const wchar_t *const kPlantedNames[] = {
    L"shcore",   L"uxtheme",   L"version",  L"ole32",   L"rpcrt4",   L"imm32",
    L"dwmapi",   L"cryptbase", L"propsys",  L"userenv", L"setupapi", L"apphelp",
    L"oleacc",   L"clbcatq",   L"msctf",    L"winmm",   L"shell32",  L"shlwapi",
    L"comctl32", L"dbghelp",   L"wtsapi32", L"sspicli", L"cryptsp",
};

const std::wstring kConverted = L"\n > 正常に変換されました。";

std::wstring ThisProgram()
{
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(NULL, module, MAX_PATH);
    return module;
}

std::wstring BuildDir()
{
    std::wstring path = ThisProgram();
    return path.substr(0, path.rfind(L'\\'));
}

/* Runs a program with arguments and returns its exit code, or -1. */
DWORD RunProgram(const std::wstring &program, const std::wstring &arguments)
{
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    DWORD exitCode = (DWORD)-1;
    if (!CreateProcessW(program.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL,
                        &startup, &process))
        return exitCode;
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &exitCode);
    else
        TerminateProcess(process.hProcess, exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

/* The names of the DLLs whose code ran, from their markers in dir. */
std::vector<std::string> Markers(const std::wstring &dir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((dir + L"\\*.loaded").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            names.push_back(Narrow(found.cFileName));
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return names;
}

/* Without this the other case would pass whatever the program loads. */
TEST(PlantedDlls, TheMarkerDllLeavesAFileNamedAfterItselfWhenItsCodeRuns)
{
    std::wstring dir = FreshDir(L"marker"), copy = dir + L"\\copy.dll";
    ASSERT_TRUE(CopyFileW((BuildDir() + L"\\marker_dll.dll").c_str(), copy.c_str(), FALSE));
    HMODULE module = LoadLibraryW(copy.c_str());
    ASSERT_NE(module, (HMODULE)NULL);
    FreeLibrary(module);
    EXPECT_EQ(Markers(dir), std::vector<std::string>{"copy.dll.loaded"});
    RemoveTree(dir);
}

TEST(PlantedDlls, NoneRunsWhileTheProgramStartsTakesADropConvertsAndCloses)
{
    std::wstring dir = FreshDir(L"planted"), exe = dir + L"\\Korvane.exe";
    ASSERT_TRUE(CopyFileW((BuildDir() + L"\\Korvane.exe").c_str(), exe.c_str(), FALSE));
    for (const wchar_t *name : kPlantedNames) {
        std::wstring planted = dir + L"\\" + name + L".dll";
        ASSERT_TRUE(CopyFileW((BuildDir() + L"\\marker_dll.dll").c_str(), planted.c_str(), FALSE));
    }
    std::wstring music = FreshDir(L"planted-music"), song = music + L"\\song.mp3";
    Bytes audio = Join({{0xFF, 0xFB}, Pattern(4000, 3)});
    ASSERT_TRUE(WriteBytes(song, Riff("WAVE", Join({Mp3FormatChunk(), Chunk("data", audio)}))));

    /* Started as a double click starts it: in its own folder. */
    PROCESS_INFORMATION process;
    HWND window = StartProgram(exe, L"", dir.c_str(), &process);
    ASSERT_NE(process.hProcess, (HANDLE)NULL);
    EXPECT_NE(window, (HWND)NULL) << "Korvane.exe showed no window";
    if (window != NULL) {
        /* A folder, so that both shell functions are called. */
        EXPECT_TRUE(DropPathsInto(process.hProcess, window, {music}));
        EXPECT_EQ(EntryTexts(window), std::vector<std::wstring>{song});
        ClickButton(window, IDOK);
        /* Until the run is over, not just the entry's status: a close during
         * a run asks first, and nobody would answer. */
        EXPECT_TRUE(WaitUntil(
            [&] {
                return EntryTexts(window) == std::vector<std::wstring>{song + kConverted} &&
                       ButtonText(window, IDOK) == L"変換開始";
            },
            30000));
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    EXPECT_EQ(FinishStartedProgram(process), 0u) << "not 0, or did not end after WM_CLOSE";

    std::vector<std::string> markers = Markers(dir);
    std::string ran;
    for (const std::string &marker : markers)
        ran += " " + marker;
    EXPECT_TRUE(markers.empty()) << "code of DLLs from the program's folder ran:" << ran;
    RemoveTree(music);
    RemoveTree(dir);
}

/* dwmapi.dll is no known DLL, and Wine, too, takes one from the program's
 * folder when asked for it by name. */
TEST(PlantedDlls, OnceTheSearchIsLimitedADllLoadedByNamePassesTheProgramsFolderBy)
{
    std::wstring dir = FreshDir(L"planted-later"), copy = dir + L"\\copy.exe";
    ASSERT_TRUE(CopyFileW(ThisProgram().c_str(), copy.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((BuildDir() + L"\\marker_dll.dll").c_str(),
                          (dir + L"\\dwmapi.dll").c_str(), FALSE));
    /* Without the limit the planted one is taken: this check can see it. */
    EXPECT_EQ(RunProgram(copy, L"--load dwmapi.dll"), 0u);
    EXPECT_EQ(Markers(dir), std::vector<std::string>{"dwmapi.dll.loaded"});
    DeleteFileW((dir + L"\\dwmapi.dll.loaded").c_str());
    EXPECT_EQ(RunProgram(copy, L"--limit --load dwmapi.dll"), 0u);
    EXPECT_EQ(Markers(dir), std::vector<std::string>{});
    RemoveTree(dir);
}

} // namespace

/* "[--limit] --load NAME": the copy started by the case above. It limits the
 * search as the program does at start, loads the DLL by its name alone and
 * exits with 0 when some DLL of that name was loaded. */
int main(int argc, char **argv)
{
    int first = argc > 1 && strcmp(argv[1], "--limit") == 0 ? 2 : 1;
    if (argc == first + 2 && strcmp(argv[first], "--load") == 0) {
        if (first == 2)
            LimitDllSearchToSystem();
        return LoadLibraryA(argv[first + 1]) != NULL ? 0 : 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
