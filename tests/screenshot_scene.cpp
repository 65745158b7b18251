/*
 * screenshot_scene.cpp: sets the scene for the README's picture of the
 * window. It starts a copy of the real Korvane.exe, drops a few files of a
 * music folder onto it (wrapped MP3s, a plain MP3, a PCM recording, and a
 * song another program holds open), runs the conversion to its end and then
 * leaves the window as it is until the picture has been taken.
 *
 * Not a test, and not part of the test suite: scripts/screenshot.sh runs it
 * and takes the picture when it prints "ready", then creates the file
 * C:\Korvane\picture-taken; the scene then closes the program and clears
 * up.
 */
#include <windows.h>
#include <stdio.h>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/dialog_driver.h"
#include "tests/test_files.h"

static const wchar_t kMusic[] = L"C:\\音楽";
static const wchar_t kProgramDir[] = L"C:\\Korvane";
static const wchar_t kStart[] = L"変換開始";

static Bytes WrappedWave(const Bytes &audio)
{
    return Riff("WAVE", Join({Mp3FormatChunk(), Chunk("data", audio)}));
}

static Bytes PcmRecording()
{
    /* 16-bit stereo PCM at 44.1 kHz. */
    Bytes format = {0x01, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00,
                    0x10, 0xB1, 0x02, 0x00, 0x04, 0x00, 0x10, 0x00};
    return Riff("WAVE", Join({Chunk("fmt ", format), Chunk("data", Pattern(8000, 5))}));
}

/* The files, in the order they are dropped; the last is held open. */
static bool MakeMusic(std::vector<std::wstring> *paths)
{
    struct Song {
        const wchar_t *name;
        Bytes bytes;
    } songs[] = {
        {L"01 朝の歌.mp3", WrappedWave(Frame(6000))},
        {L"02 夜の歌.mp3", Riff("RMP3", Chunk("data", Frame(5000)))},
        {L"03 ラジオ.mp3", Frame(4000)},
        {L"04 録音.wav", PcmRecording()},
        {L"05 再生中の曲.mp3", WrappedWave(Frame(3000))},
    };
    RemoveTree(kMusic);
    MakeDir(kMusic);
    for (const Song &song : songs) {
        std::wstring path = std::wstring(kMusic) + L"\\" + song.name;
        if (!WriteBytes(path, song.bytes))
            return false;
        paths->push_back(path);
    }
    return true;
}

static bool Finished(HWND window, size_t entries)
{
    std::vector<std::wstring> texts = EntryTexts(window);
    if (texts.size() != entries || ButtonText(window, IDOK) != kStart)
        return false;
    for (const std::wstring &text : texts) {
        if (text.find(L"\n > ") == std::wstring::npos)
            return false;
    }
    return true;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: screenshot_scene KORVANE.EXE\n");
        return 2;
    }
    std::wstring built = Widen(argv[1]);
    std::wstring exe = std::wstring(kProgramDir) + L"\\Korvane.exe";
    std::wstring taken = std::wstring(kProgramDir) + L"\\picture-taken";
    std::vector<std::wstring> paths;
    HANDLE player = INVALID_HANDLE_VALUE;
    PROCESS_INFORMATION process = {};
    HWND window = NULL;
    int result = 1;

    RemoveTree(kProgramDir);
    MakeDir(kProgramDir);
    if (!CopyFileW(built.c_str(), exe.c_str(), FALSE) || !MakeMusic(&paths)) {
        fprintf(stderr, "could not lay out the files\n");
        goto cleanup;
    }
    /* A music player that has the last song open and lets nobody else in. */
    player = CreateFileW(paths.back().c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, NULL);
    if (player == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "could not hold the last song open\n");
        goto cleanup;
    }
    window = StartProgram(exe, L"", kProgramDir, &process);
    if (process.hProcess == NULL) {
        fprintf(stderr, "could not start Korvane.exe\n");
        goto cleanup;
    }
    if (window == NULL || !DropPathsInto(process.hProcess, window, paths)) {
        fprintf(stderr, "the window did not take the drop\n");
        goto cleanup;
    }
    ClickButton(window, IDOK);
    if (!WaitUntil([&] { return Finished(window, paths.size()); }, 30000)) {
        fprintf(stderr, "the run did not finish\n");
        goto cleanup;
    }
    printf("ready\n");
    fflush(stdout);
    WaitUntil([&] { return FileExists(taken); }, 60000);
    result = 0;

cleanup:
    if (process.hProcess != NULL) {
        if (window != NULL)
            PostMessageW(window, WM_CLOSE, 0, 0);
        FinishStartedProgram(process);
    }
    if (player != INVALID_HANDLE_VALUE)
        CloseHandle(player);
    RemoveTree(kMusic);
    RemoveTree(kProgramDir);
    return result;
}
