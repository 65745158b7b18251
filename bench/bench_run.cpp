/*
 * bench_run.cpp: what a run through the dialog costs beyond the conversions
 * themselves.
 *
 * 1,000 wrapped files of 100 KiB each are converted through the real dialog
 * (timed from the start click until the button reads "変換開始" again) and
 * by calling ConvertFile on each in a plain loop, the files written afresh
 * before every pass. The passes alternate; the best of each kind is kept and
 * their ratio printed (the aim is at most 1.2).
 */
#include <stdio.h>
#include <string>
#include <vector>

#include "core/convert.h"
#include "res/resource.h"
#include "settings/settings.h"
#include "tests/dialog_driver.h"
#include "tests/test_files.h"
#include "bench/bench_clock.h"

static const int kFiles = 1000;
static const size_t kFileBytes = 100 * 1024;
static const int kRounds = 3;

/* A RIFF/WAVE of exactly kFileBytes whose data chunk holds MPEG audio. */
static Bytes WrappedFile()
{
    Bytes empty = Riff("WAVE", Join({Mp3FormatChunk(), Chunk("data", {})}));
    Bytes audio = Pattern(kFileBytes - empty.size(), 3);
    audio[0] = 0xFF;
    audio[1] = 0xFB;
    return Riff("WAVE", Join({Mp3FormatChunk(), Chunk("data", audio)}));
}

static bool WriteAll(const std::vector<std::wstring> &paths, const Bytes &file)
{
    for (const std::wstring &path : paths) {
        if (!WriteBytes(path, file))
            return false;
    }
    return true;
}

/* Returns the seconds taken, or a negative value when a file went wrong. */
static double DialogPass(HWND dialog, const std::vector<std::wstring> &paths)
{
    static const std::wstring converted = L"\n > 正常に変換されました。";
    SendMessageW(EntryListOf(dialog), LB_RESETCONTENT, 0, 0);
    AddEntries(dialog, paths);
    double start = Seconds();
    ClickButton(dialog, IDOK);
    if (!WaitUntil([&] { return ButtonText(dialog, IDOK) == L"変換開始"; }, 600000))
        return -1;
    double elapsed = Seconds() - start;
    std::vector<std::wstring> texts = EntryTexts(dialog);
    for (size_t i = 0; i < paths.size(); i++) {
        if (i >= texts.size() || texts[i] != paths[i] + converted)
            return -1;
    }
    return elapsed;
}

static double LoopPass(const std::vector<std::wstring> &paths)
{
    double start = Seconds();
    int failures = 0;
    for (const std::wstring &path : paths)
        failures += ConvertFile(path.c_str(), Settings.modifyTimes) != STATUS_CONVERTED;
    double elapsed = Seconds() - start;
    return failures == 0 ? elapsed : -1;
}

int main()
{
    std::wstring dir = FreshDir(L"bench_run");
    std::vector<std::wstring> paths;
    for (int i = 0; i < kFiles; i++)
        paths.push_back(dir + L"\\" + std::to_wstring(i) + L".mp3");
    Bytes file = WrappedFile();

    DeleteFileW(SettingsPath().c_str());
    HWND dialog = StartDialog();
    if (dialog == NULL) {
        fprintf(stderr, "the dialog did not open\n");
        return 1;
    }
    double bestDialog = 1e30, bestLoop = 1e30;
    bool ok = true;
    for (int round = 0; round < kRounds && ok; round++) {
        ok = WriteAll(paths, file);
        double viaDialog = ok ? DialogPass(dialog, paths) : -1;
        ok = viaDialog >= 0 && WriteAll(paths, file);
        double viaLoop = ok ? LoopPass(paths) : -1;
        ok = ok && viaLoop >= 0;
        if (ok) {
            printf("round %d: dialog %.3f s, loop %.3f s\n", round + 1, viaDialog, viaLoop);
            bestDialog = viaDialog < bestDialog ? viaDialog : bestDialog;
            bestLoop = viaLoop < bestLoop ? viaLoop : bestLoop;
        }
    }
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    WaitDialogEnd(10000);
    DeleteFileW(SettingsPath().c_str());
    RemoveTree(dir);
    if (!ok) {
        fprintf(stderr, "a file was not converted as expected\n");
        return 1;
    }
    printf("%d files of %u KiB, best of %d\n", kFiles, (unsigned)(kFileBytes / 1024), kRounds);
    printf("through the dialog: %.3f s\n", bestDialog);
    printf("plain ConvertFile loop: %.3f s\n", bestLoop);
    printf("ratio: %.3f (aim: at most 1.2)\n", bestDialog / bestLoop);
    return 0;
}
