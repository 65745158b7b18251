/* test_files.cpp: file and folder helpers for the Windows tests. */
#include "test_files.h"

std::wstring Widen(const std::string &text)
{
    int units = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, NULL, 0);
    std::wstring wide(units > 0 ? units - 1 : 0, L'\0');
    if (units > 1)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], units);
    return wide;
}

std::string Narrow(const std::wstring &text)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, NULL, 0, NULL, NULL);
    std::string narrow(bytes > 0 ? bytes - 1 : 0, '\0');
    if (bytes > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &narrow[0], bytes, NULL, NULL);
    return narrow;
}

void RemoveTree(const std::wstring &path)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                RemoveTree(child);
            else if (!DeleteFileW(child.c_str()))
                RemoveDirectoryW(child.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

void MakeDir(const std::wstring &path)
{
    CreateDirectoryW(path.c_str(), NULL);
}

std::wstring FreshDir(const std::wstring &name)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring root = std::wstring(temp) + L"korvane-tests";
    MakeDir(root);
    std::wstring dir = root + L"\\" + name;
    RemoveTree(dir);
    MakeDir(dir);
    return dir;
}

bool WriteBytes(const std::wstring &path, const Bytes &bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, NULL);
    CloseHandle(file);
    return ok && written == bytes.size();
}

Bytes ReadBytes(const std::wstring &path)
{
    Bytes bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    DWORD size = GetFileSize(file, NULL), read = 0;
    bytes.resize(size);
    if (size > 0 && (!ReadFile(file, bytes.data(), size, &read, NULL) || read != size))
        bytes.clear();
    CloseHandle(file);
    return bytes;
}

bool FileExists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool GetTimes(const std::wstring &path, FileTimes *times)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BOOL ok = GetFileTime(file, &times->created, &times->accessed, &times->written);
    CloseHandle(file);
    return ok != 0;
}

/* Distinct times with non-zero 100 ns digits, years in the past, so that
 * any rewrite or rounding shows. */
bool SetPastTimes(const std::wstring &path, FileTimes *times)
{
    ULARGE_INTEGER base;
    base.QuadPart = 132000000000000000ULL + 1234567ULL; /* 2019, odd 100 ns units */
    ULARGE_INTEGER values[3] = {base, base, base};
    values[1].QuadPart += 36000000001ULL;
    values[2].QuadPart += 72000000003ULL;
    FILETIME *targets[3] = {&times->created, &times->accessed, &times->written};
    for (int i = 0; i < 3; i++) {
        targets[i]->dwLowDateTime = values[i].LowPart;
        targets[i]->dwHighDateTime = values[i].HighPart;
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BOOL ok = SetFileTime(file, &times->created, &times->accessed, &times->written);
    CloseHandle(file);
    return ok != 0;
}

static bool SameTime(const FILETIME &a, const FILETIME &b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

bool SameTimes(const FileTimes &a, const FileTimes &b)
{
    return SameTime(a.created, b.created) && SameTime(a.accessed, b.accessed) &&
           SameTime(a.written, b.written);
}

std::wstring AudioDir()
{
    wchar_t value[MAX_PATH];
    DWORD units = GetEnvironmentVariableW(L"KORVANE_AUDIO_DIR", value, MAX_PATH);
    if (units == 0 || units >= MAX_PATH)
        return L"";
    std::wstring dir = value;
    /* The build passes a Unix path; Wine shows the Unix root as drive Z:. */
    if (dir[0] == L'/') {
        for (wchar_t &unit : dir)
            unit = unit == L'/' ? L'\\' : unit;
        dir = L"Z:" + dir;
    }
    return dir;
}

const OtherAudio kOtherAudio[6] = {
    {L"pcm_s16.wav", 0x0001}, {L"float.wav", 0xFFFE},     {L"alaw.wav", 0x0006},
    {L"mulaw.wav", 0x0007},   {L"ima_adpcm.wav", 0x0011}, {L"gsm.wav", 0x0031},
};
