/*
 * test_files.h: real files and folders on disk for the Windows tests.
 */
#ifndef KORVANE_TESTS_TEST_FILES_H
#define KORVANE_TESTS_TEST_FILES_H

#include <windows.h>
#include <string>

#include "riff_builder.h"

/* A fresh, empty folder under the temporary directory, named after name. */
std::wstring FreshDir(const std::wstring &name);
void RemoveTree(const std::wstring &path);
void MakeDir(const std::wstring &path);

bool WriteBytes(const std::wstring &path, const Bytes &bytes);
Bytes ReadBytes(const std::wstring &path);
bool FileExists(const std::wstring &path);

/* All three times of a file, and a way to set them to a recognisable past. */
struct FileTimes {
    FILETIME created, accessed, written;
};
bool GetTimes(const std::wstring &path, FileTimes *times);
bool SetPastTimes(const std::wstring &path, FileTimes *times);
bool SameTimes(const FileTimes &a, const FileTimes &b);

/* The folder of real audio made by make_audio.sh, from KORVANE_AUDIO_DIR as
 * a Windows path; empty when the variable is not set. */
std::wstring AudioDir();

/* The files of that folder that hold audio other than MPEG, each with the
 * format tag ffmpeg writes for it (float comes as extensible, 0xFFFE). */
struct OtherAudio {
    const wchar_t *name;
    unsigned formatTag;
};
extern const OtherAudio kOtherAudio[6];

std::wstring Widen(const std::string &text);
std::string Narrow(const std::wstring &text);

#endif
