/*
 * convert_test.cpp: converting files on a real disk under Wine, through a
 * temporary beside each file that takes its place.
 *
 * Failures the platform can produce on demand are produced for real (missing
 * paths, files held open elsewhere, sparse files of 4 GiB); the rest (time
 * stamps, short or failed reads and writes, the temporary's creation, the
 * flush, the replacement) come from
 * the seams in convert_seams.h, which this build of ConvertFile calls instead
 * of the platform. Files converted from real ffmpeg audio are left in
 * KORVANE_AUDIO_DIR for check_decodes.sh.
 */
#define KORVANE_SEAMS_CONTROL_ONLY
#include "convert_seams.h"

#include <gtest/gtest.h>

#include <string.h>
#include <random>
#include <string>

#include "core/convert.h"
#include "test_files.h"

namespace
{

/* ---- Helpers ---- */

Bytes Slice(const Bytes &bytes, size_t from, size_t to)
{
    return Bytes(bytes.begin() + from, bytes.begin() + to);
}

/* A WAVE as encoders write it: format, fact, data (odd length: a pad byte
 * follows) and a trailing list chunk. */
Bytes TaggedWave(const Bytes &payload, Bytes *expected)
{
    Bytes prefix = Join({Id3Tag(30), Zeros(3)});
    *expected = Join({prefix, payload});
    return Join(
        {prefix, Riff("WAVE", Join({Mp3FormatChunk(), Chunk("fact", Pattern(4, 8)),
                                    Chunk("data", payload), Chunk("LIST", Pattern(26, 9))}))});
}

Bytes Rmp3(const Bytes &payload)
{
    return Riff("RMP3", Chunk("data", payload));
}

/* Runs ConvertFile and checks that every handle it opened was closed and
 * every buffer it took was released, whatever the outcome. */
int Convert(const std::wstring &path, int keepTimes, int keepRiffTags = 0)
{
    int status = ConvertFile(path.c_str(), keepTimes, keepRiffTags);
    int opened = 0, closed = 0, taken = 0, released = 0;
    for (const SeamRecord &r : SeamLog()) {
        opened += r.call == SEAM_CREATE_FILE && r.ok;
        closed += r.call == SEAM_CLOSE_HANDLE;
        taken += r.call == SEAM_MALLOC && r.ok;
        released += r.call == SEAM_FREE && r.handle != NULL;
    }
    EXPECT_EQ(opened, closed) << "handles left open, status " << status;
    EXPECT_EQ(taken, released) << "buffers not released, status " << status;
    return status;
}

struct Snapshot {
    Bytes bytes;
    FileTimes times;
};

/* Writes the file, gives it times in the past and records them as the
 * platform reports them (it may keep no separate creation time). The file is
 * not read again, so its last-access time stays where it was set. */
Snapshot Prepare(const std::wstring &path, const Bytes &bytes)
{
    Snapshot snap;
    FileTimes past;
    EXPECT_TRUE(WriteBytes(path, bytes));
    EXPECT_TRUE(SetPastTimes(path, &past));
    EXPECT_TRUE(GetTimes(path, &snap.times));
    snap.bytes = bytes;
    return snap;
}

bool SameFileTime(const FILETIME &a, const FILETIME &b)
{
    return CompareFileTime(&a, &b) == 0;
}

std::string Show(const FileTimes &t)
{
    char text[100];
    const FILETIME *all[3] = {&t.created, &t.accessed, &t.written};
    std::string shown;
    for (const FILETIME *f : all) {
        snprintf(text, sizeof text, " %08lx%08lx", f->dwHighDateTime, f->dwLowDateTime);
        shown += text;
    }
    return shown;
}

/* Bytes, creation and last-write time as before. Reading a file may move its
 * last-access time (the platform does that, not the tool), so that one is
 * compared only where the file was never read. */
void ExpectUntouched(const std::wstring &path, const Snapshot &before, bool wasRead)
{
    FileTimes now;
    ASSERT_TRUE(GetTimes(path, &now));
    EXPECT_TRUE(SameFileTime(now.created, before.times.created));
    EXPECT_TRUE(SameFileTime(now.written, before.times.written));
    if (!wasRead) {
        EXPECT_TRUE(SameFileTime(now.accessed, before.times.accessed));
    }
    EXPECT_EQ(ReadBytes(path), before.bytes);
}

/* All three times as before; checked before the file is read again. */
void ExpectTimesKept(const std::wstring &path, const Snapshot &before)
{
    FileTimes now;
    ASSERT_TRUE(GetTimes(path, &now));
    EXPECT_TRUE(SameTimes(now, before.times)) << Show(now) << " vs" << Show(before.times);
}

/* No temporary of a conversion is left in the folder. */
::testing::AssertionResult NoTemporaryIn(const std::wstring &dir)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((dir + L"\\~*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return ::testing::AssertionSuccess();
    FindClose(search);
    return ::testing::AssertionFailure() << "left behind: " << Narrow(found.cFileName);
}

/* The nth call of that kind on the whole way, or while looking at the head. */
const SeamRecord *NthRecord(SeamCall call, int nth, bool head = false)
{
    for (const SeamRecord &r : SeamLog())
        if (r.call == call && r.head == head && --nth == 0)
            return &r;
    return NULL;
}

int IndexOf(const SeamRecord *record)
{
    return record ? (int)(record - SeamLog().data()) : -1;
}

/* Another opener of the same file, held as long as the object lives. */
struct OtherHandle {
    HANDLE handle;
    OtherHandle(const std::wstring &path, DWORD access, DWORD share)
        : handle(CreateFileW(path.c_str(), access, share, NULL, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, NULL))
    {
    }
    ~OtherHandle()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};

/* ---- Successful conversions ---- */

TEST(ConvertFile, RewritesWrappedFilesInPlace)
{
    std::wstring dir = FreshDir(L"convert-rewrite");
    Bytes payload = Frame(1000);

    /* RMP3 with nothing after the RIFF end: shorter by the RIFF header and
     * the data chunk's header, nothing else. */
    std::wstring rmp3 = dir + L"\\rmp3.mp3";
    ASSERT_TRUE(WriteBytes(rmp3, Rmp3(payload)));
    SeamReset();
    EXPECT_EQ(Convert(rmp3, 0), STATUS_CONVERTED);
    EXPECT_EQ(ReadBytes(rmp3), payload);
    EXPECT_EQ(ReadBytes(rmp3).size(), Rmp3(payload).size() - 20);
    /* Times are not put back when not asked for; only the creation time
     * goes from the original to the new file. */
    ASSERT_EQ(SeamCount(SEAM_GET_FILE_TIME), 1);
    ASSERT_EQ(SeamCount(SEAM_SET_FILE_TIME), 1);
    EXPECT_EQ(NthRecord(SEAM_GET_FILE_TIME, 1)->args[0], 1u);
    EXPECT_EQ(NthRecord(SEAM_SET_FILE_TIME, 1)->args[0], 1u);
    EXPECT_EQ(NthRecord(SEAM_SET_FILE_TIME, 1)->handle, NthRecord(SEAM_CREATE_FILE, 2)->handle);

    /* Tag, zero bytes, and an odd data payload between other chunks, under a
     * Japanese name (the wide-character path all the way down). */
    std::wstring tagged = dir + L"\\タグ付き 曲.mp3";
    Bytes expected;
    Snapshot before = Prepare(tagged, TaggedWave(Frame(999), &expected));
    SeamReset();
    EXPECT_EQ(Convert(tagged, 0), STATUS_CONVERTED);
    EXPECT_EQ(ReadBytes(tagged), expected);
    FileTimes after;
    ASSERT_TRUE(GetTimes(tagged, &after));
    EXPECT_FALSE(SameFileTime(after.written, before.times.written));

    /* Two data chunks, and a tag block appended after the RIFF end: the
     * payloads in order, the appended bytes gone. */
    std::wstring two = dir + L"\\two.mp3";
    Bytes second = Pattern(301, 4);
    ASSERT_TRUE(WriteBytes(
        two,
        Join({Riff("WAVE", Join({Mp3FormatChunk(), Chunk("data", payload), Chunk("data", second)})),
              Pattern(128, 5)})));
    SeamReset();
    EXPECT_EQ(Convert(two, 0), STATUS_CONVERTED);
    EXPECT_EQ(ReadBytes(two), Join({payload, second}));

    /* A converted file is plain audio: a second run leaves it alone. */
    SeamReset();
    EXPECT_EQ(Convert(two, 1), STATUS_NOT_NEEDED);
    EXPECT_EQ(ReadBytes(two), Join({payload, second}));
}

TEST(ConvertFile, KeepsAllThreeTimesOfAConvertedFile)
{
    std::wstring dir = FreshDir(L"convert-times");
    Bytes expected;
    const Bytes files[] = {Rmp3(Frame(5000)), TaggedWave(Frame(777), &expected)};
    for (const Bytes &file : files) {
        std::wstring path = dir + L"\\kept.mp3";
        Snapshot before = Prepare(path, file);
        SeamReset();
        EXPECT_EQ(Convert(path, 1), STATUS_CONVERTED);
        ExpectTimesKept(path, before);
        EXPECT_LT(ReadBytes(path).size(), file.size());
    }
}

/* The calls the conversion makes, as the platform sees them: how the file
 * and the temporary are opened and shared, reads and writes of at most
 * 1 MiB, nothing written to the original, the temporary flushed and closed
 * before the original is closed and replaced, and times restored through an
 * open made after the replacement. */
TEST(ConvertFile, UsesThePlatformAsAgreed)
{
    std::wstring dir = FreshDir(L"convert-platform");
    std::wstring path = dir + L"\\agreed.mp3";
    Bytes expected;
    Bytes file = TaggedWave(Frame(2500 * 1024 + 1), &expected);
    Prepare(path, file);

    /* While the file is being converted, others may read it but not write;
     * the temporary is hidden while it is written. */
    bool othersRead = false, othersWrite = true, tempHidden = false;
    DWORD writeError = 0;
    SeamReset();
    SeamSetHook(SEAM_READ_FILE, [&](int) {
        OtherHandle reader(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
        othersRead = reader.handle != INVALID_HANDLE_VALUE;
        OtherHandle writer(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
        othersWrite = writer.handle != INVALID_HANDLE_VALUE;
        writeError = GetLastError();
    });
    SeamSetHook(SEAM_WRITE_FILE, [&](int) {
        DWORD marks = GetFileAttributesW(NthRecord(SEAM_CREATE_FILE, 2)->path.c_str());
        tempHidden = marks != INVALID_FILE_ATTRIBUTES && (marks & FILE_ATTRIBUTE_HIDDEN);
    });
    EXPECT_EQ(Convert(path, 1), STATUS_CONVERTED);
    EXPECT_TRUE(othersRead);
    EXPECT_FALSE(othersWrite);
    EXPECT_EQ(writeError, (DWORD)ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(tempHidden);

    /* The head is looked at through a handle of its own, for reading,
     * sharing reading and writing, closed before the file is opened for
     * writing; the times are read there, before the head moves the
     * last-access time. */
    ASSERT_EQ(SeamHeadCount(SEAM_CREATE_FILE), 1);
    const SeamRecord *headOpen = NthRecord(SEAM_CREATE_FILE, 1, true);
    EXPECT_EQ(headOpen->args[0], (DWORD)GENERIC_READ);
    EXPECT_EQ(headOpen->args[1], (DWORD)(FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_EQ(headOpen->args[2], (DWORD)OPEN_EXISTING);
    for (const SeamRecord &r : SeamLog()) {
        if (!r.head)
            continue;
        EXPECT_TRUE(r.call == SEAM_CREATE_FILE || r.call == SEAM_GET_FILE_TIME ||
                    r.call == SEAM_GET_FILE_SIZE || r.call == SEAM_READ_FILE ||
                    r.call == SEAM_CLOSE_HANDLE)
            << "call " << r.call << " on the head";
        if (r.call == SEAM_READ_FILE) {
            EXPECT_LE(r.args[0], 16u << 10);
        }
    }
    const SeamRecord *headTimes = NthRecord(SEAM_GET_FILE_TIME, 1, true);
    ASSERT_TRUE(headTimes != NULL);
    EXPECT_EQ(headTimes->args[0], 3u);
    EXPECT_LT(IndexOf(headTimes), IndexOf(NthRecord(SEAM_READ_FILE, 1, true)));
    EXPECT_EQ(NthRecord(SEAM_CLOSE_HANDLE, 1, true)->handle, headOpen->handle);
    EXPECT_EQ(SeamCount(SEAM_GET_FILE_TIME), 0);

    /* The original, the temporary beside it under a short hidden name, and
     * the re-open for the times. */
    ASSERT_EQ(SeamCount(SEAM_CREATE_FILE), 3);
    const SeamRecord *open = NthRecord(SEAM_CREATE_FILE, 1);
    const SeamRecord *temp = NthRecord(SEAM_CREATE_FILE, 2);
    const SeamRecord *reopen = NthRecord(SEAM_CREATE_FILE, 3);
    for (const SeamRecord *r : {open, reopen}) {
        EXPECT_EQ(r->args[0], (DWORD)(GENERIC_READ | GENERIC_WRITE));
        EXPECT_EQ(r->args[1], (DWORD)FILE_SHARE_READ);
        EXPECT_EQ(r->args[2], (DWORD)OPEN_EXISTING);
        EXPECT_EQ(r->args[3], (DWORD)FILE_ATTRIBUTE_NORMAL);
        EXPECT_TRUE(r->path == path);
    }
    EXPECT_EQ(temp->args[0], (DWORD)GENERIC_WRITE);
    EXPECT_EQ(temp->args[1], 0u);
    EXPECT_EQ(temp->args[2], (DWORD)CREATE_NEW);
    EXPECT_EQ(temp->args[3], (DWORD)(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY));
    std::wstring folder = dir + L"\\";
    ASSERT_EQ(temp->path.size(), folder.size() + 9);
    EXPECT_TRUE(temp->path.compare(0, folder.size(), folder) == 0);
    std::wstring name = temp->path.substr(folder.size());
    EXPECT_TRUE(name[0] == L'~' && name.substr(5) == L".tmp" &&
                wcsspn(name.c_str() + 1, L"0123456789ABCDEF") == 4)
        << Narrow(name);

    /* Reads of the original and writes of the temporary, each of 1 MiB at
     * most; the original is never written, moved in or cut. */
    int reads = 0, writes = 0;
    for (const SeamRecord &r : SeamLog()) {
        if (r.head || (r.call != SEAM_READ_FILE && r.call != SEAM_WRITE_FILE))
            continue;
        EXPECT_LE(r.args[0], 1u << 20);
        EXPECT_EQ(r.handle, r.call == SEAM_READ_FILE ? open->handle : temp->handle);
        (r.call == SEAM_READ_FILE ? reads : writes)++;
    }
    EXPECT_GE(writes, 3) << "the audio was not copied in blocks";
    EXPECT_EQ(SeamCount(SEAM_SET_FILE_POINTER) + SeamCount(SEAM_SET_END_OF_FILE), 0);

    /* Flushed, closed; the original closed; then the temporary, carrying the
     * original's attributes, renamed over it in one step, and re-opened. */
    ASSERT_EQ(SeamCount(SEAM_FLUSH_FILE_BUFFERS), 1);
    ASSERT_EQ(SeamCount(SEAM_MOVE_FILE_EX), 1);
    ASSERT_EQ(SeamCount(SEAM_SET_FILE_TIME), 1);
    const SeamRecord *flush = NthRecord(SEAM_FLUSH_FILE_BUFFERS, 1);
    const SeamRecord *closeTemp = NthRecord(SEAM_CLOSE_HANDLE, 1);
    const SeamRecord *closeOriginal = NthRecord(SEAM_CLOSE_HANDLE, 2);
    const SeamRecord *replace = NthRecord(SEAM_MOVE_FILE_EX, 1);
    const SeamRecord *unmark = NthRecord(SEAM_SET_FILE_ATTRIBUTES, 1);
    const SeamRecord *setTimes = NthRecord(SEAM_SET_FILE_TIME, 1);
    EXPECT_EQ(flush->handle, temp->handle);
    EXPECT_LT(IndexOf(NthRecord(SEAM_WRITE_FILE, writes)), IndexOf(flush));
    EXPECT_EQ(closeTemp->handle, temp->handle);
    EXPECT_LT(IndexOf(flush), IndexOf(closeTemp));
    EXPECT_EQ(closeOriginal->handle, open->handle);
    EXPECT_LT(IndexOf(closeTemp), IndexOf(closeOriginal));
    EXPECT_LT(IndexOf(closeOriginal), IndexOf(replace));
    ASSERT_NE(unmark, nullptr);
    EXPECT_TRUE(unmark->path == temp->path);
    EXPECT_LT(IndexOf(unmark), IndexOf(replace));
    EXPECT_TRUE(replace->path == temp->path && replace->path2 == path);
    EXPECT_EQ(replace->args[0], (DWORD)(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    EXPECT_LT(IndexOf(replace), IndexOf(reopen));
    EXPECT_EQ(setTimes->handle, reopen->handle);
    EXPECT_EQ(setTimes->args[0], 3u);
    EXPECT_EQ(ReadBytes(path), expected);
    EXPECT_TRUE(NoTemporaryIn(dir));
}

/* ---- Files left as they are ---- */

TEST(ConvertFile, LeavesFilesItDoesNotConvertUntouched)
{
    std::wstring dir = FreshDir(L"convert-untouched");
    const char text[] = "Not audio at all, just a note saved as .mp3\r\n";
    Bytes truncated = Riff("WAVE", Join({Mp3FormatChunk(), Chunk("data", Frame(400))}));
    truncated.resize(truncated.size() - 100);
    struct Case {
        const char *what;
        Bytes bytes;
        int status;
    } cases[] = {
        {"plain frames", Frame(600), STATUS_NOT_NEEDED},
        {"tag, zeros, frames", Join({Id3Tag(50), Zeros(9), Frame(300)}), STATUS_NOT_NEEDED},
        {"text file", Bytes(text, text + sizeof text - 1), STATUS_BAD_FORMAT},
        {"empty file", Bytes(), STATUS_BAD_FORMAT},
        /* MPEG 2.5, as 8 kHz encoders write it, is plain audio; the
         * reserved patterns beside it are not. */
        {"MPEG 2.5 frame", Join({{0xFF, 0xE3}, Pattern(200, 1)}), STATUS_NOT_NEEDED},
        {"reserved layer", Join({{0xFF, 0xE1}, Pattern(200, 1)}), STATUS_BAD_FORMAT},
        {"reserved version", Join({{0xFF, 0xEB}, Pattern(200, 1)}), STATUS_BAD_FORMAT},
        /* The byte after the last one is the guard, never half a sync. */
        {"zeros and a last 0xFF", {0x00, 0x00, 0xFF}, STATUS_BAD_FORMAT},
        {"AVI", Riff("AVI ", Chunk("data", Frame(200))), STATUS_BAD_FORMAT},
        {"lower-case rmp3", Riff("rmp3", Chunk("data", Frame(200))), STATUS_BAD_FORMAT},
        {"WAVE without data", Riff("WAVE", Mp3FormatChunk()), STATUS_BAD_FORMAT},
        {"data cut short", truncated, STATUS_BAD_FORMAT},
    };
    for (const Case &c : cases) {
        for (int keepTimes = 0; keepTimes <= 1; keepTimes++) {
            SCOPED_TRACE(std::string(c.what) + (keepTimes ? ", keeping times" : ""));
            std::wstring path = dir + L"\\left.mp3";
            Snapshot before = Prepare(path, c.bytes);
            SeamReset();
            EXPECT_EQ(Convert(path, keepTimes), c.status);
            ExpectUntouched(path, before, true);
            EXPECT_EQ(SeamCount(SEAM_SET_FILE_POINTER) + SeamCount(SEAM_WRITE_FILE) +
                          SeamCount(SEAM_SET_END_OF_FILE) + SeamCount(SEAM_SET_FILE_TIME),
                      0);
        }
    }
}

TEST(ConvertFile, FilesThatCannotBeOpenedAreNotTouched)
{
    std::wstring dir = FreshDir(L"convert-open");
    SeamReset();
    EXPECT_EQ(Convert(dir + L"\\missing.mp3", 1), STATUS_OPEN_FAILED);
    EXPECT_EQ(Convert(dir + L"\\no such folder\\file.mp3", 0), STATUS_OPEN_FAILED);
    EXPECT_EQ(Convert(dir, 0), STATUS_OPEN_FAILED);
    EXPECT_FALSE(FileExists(dir + L"\\missing.mp3"));

    std::wstring path = dir + L"\\held.mp3";
    Bytes file = Rmp3(Frame(2000));
    /* Held by a reader that does not share writing, then by a writer: the
     * file can't be opened for writing, and is left as it was. */
    const DWORD holders[][2] = {{GENERIC_READ, FILE_SHARE_READ},
                                {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE}};
    for (const DWORD *holder : holders) {
        Snapshot before = Prepare(path, file);
        OtherHandle other(path, holder[0], holder[1]);
        ASSERT_NE(other.handle, INVALID_HANDLE_VALUE);
        SeamReset();
        EXPECT_EQ(Convert(path, 1), STATUS_OPEN_FAILED);
        EXPECT_EQ(SeamCount(SEAM_READ_FILE), 0);
        CloseHandle(other.handle);
        other.handle = INVALID_HANDLE_VALUE;
        ExpectUntouched(path, before, true);
    }

    /* A plain MP3 that a player holds open, sharing reading only, needs
     * nothing, and its head says so; it is never opened for writing. */
    std::wstring plainPath = dir + L"\\playing.mp3";
    Snapshot plainBefore = Prepare(plainPath, Join({Id3Tag(200), Zeros(41), Frame(3000)}));
    {
        OtherHandle player(plainPath, GENERIC_READ, FILE_SHARE_READ);
        ASSERT_NE(player.handle, INVALID_HANDLE_VALUE);
        SeamReset();
        EXPECT_EQ(Convert(plainPath, 1), STATUS_NOT_NEEDED);
        EXPECT_EQ(SeamCount(SEAM_CREATE_FILE), 0);
    }
    ExpectUntouched(plainPath, plainBefore, true);

    /* A reader that lets others write keeps the new file from taking the
     * file's place, whether or not it shares deletion too: the file stays
     * as it was, and no temporary is left. */
    for (DWORD share : {(DWORD)(FILE_SHARE_READ | FILE_SHARE_WRITE),
                        (DWORD)(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)}) {
        SCOPED_TRACE(share);
        Snapshot before = Prepare(path, file);
        {
            OtherHandle reader(path, GENERIC_READ, share);
            SeamReset();
            EXPECT_EQ(Convert(path, 1), STATUS_WRITE_FAILED);
        }
        ExpectUntouched(path, before, true);
        EXPECT_TRUE(NoTemporaryIn(dir));
    }
}

/* ---- Time stamps that can't be read or set ---- */

TEST(ConvertFile, TimeStampFailures)
{
    std::wstring dir = FreshDir(L"convert-time-failures");
    std::wstring path = dir + L"\\times.mp3";
    Bytes payload = Frame(3000), file = Rmp3(payload);

    /* Reading them fails, beside the head and again on the whole way:
     * nothing else is done. */
    Snapshot before = Prepare(path, file);
    SeamReset();
    SeamFailHeadCall(SEAM_GET_FILE_TIME, 1);
    SeamFailCall(SEAM_GET_FILE_TIME, 1);
    EXPECT_EQ(Convert(path, 1), STATUS_TIME_FAILED);
    EXPECT_EQ(SeamCount(SEAM_READ_FILE), 0);
    ExpectUntouched(path, before, true);

    /* Setting them fails after the rewrite: the content is converted. */
    Prepare(path, file);
    SeamReset();
    SeamFailCall(SEAM_SET_FILE_TIME, 1);
    EXPECT_EQ(Convert(path, 1), STATUS_TIME_FAILED);
    EXPECT_EQ(ReadBytes(path), payload);

    /* The re-open after the replacement (the third open, after the
     * original's and the temporary's) fails, once through the seam and once
     * for real because someone took the file meanwhile. */
    Prepare(path, file);
    SeamReset();
    SeamFailCall(SEAM_CREATE_FILE, 3);
    EXPECT_EQ(Convert(path, 1), STATUS_OPEN_FAILED);
    EXPECT_EQ(ReadBytes(path), payload);
    EXPECT_EQ(SeamCount(SEAM_SET_FILE_TIME), 0);

    Prepare(path, file);
    HANDLE taker = INVALID_HANDLE_VALUE;
    SeamReset();
    SeamSetHook(SEAM_CREATE_FILE, [&](int nth) {
        if (nth == 3)
            taker = CreateFileW(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    });
    EXPECT_EQ(Convert(path, 1), STATUS_OPEN_FAILED);
    ASSERT_NE(taker, INVALID_HANDLE_VALUE);
    CloseHandle(taker);
    EXPECT_EQ(ReadBytes(path), payload);
}

/* ---- Size, memory and reading ---- */

TEST(ConvertFile, SizeMemoryAndReadFailures)
{
    std::wstring dir = FreshDir(L"convert-read");
    std::wstring path = dir + L"\\read.mp3";
    Bytes payload = Frame(2500), file = Rmp3(payload);

    /* No copy block: nothing is read, no temporary made. */
    Snapshot before = Prepare(path, file);
    SeamReset();
    SeamFailCall(SEAM_MALLOC, 1);
    EXPECT_EQ(Convert(path, 1), STATUS_NO_MEMORY);
    EXPECT_EQ(SeamCount(SEAM_READ_FILE), 0);
    EXPECT_EQ(SeamCount(SEAM_CREATE_FILE), 1);
    ExpectUntouched(path, before, true);

    /* The size can't be learned: nothing is taken or read. */
    before = Prepare(path, file);
    SeamReset();
    SeamFailCall(SEAM_GET_FILE_SIZE, 1);
    EXPECT_EQ(Convert(path, 1), STATUS_READ_FAILED);
    EXPECT_EQ(SeamCount(SEAM_MALLOC) + SeamCount(SEAM_READ_FILE), 0);
    ExpectUntouched(path, before, true);

    /* A conversion takes the one block, of 1 MiB and the room for two
     * paths, whatever the file's size. */
    Prepare(path, file);
    SeamReset();
    EXPECT_EQ(Convert(path, 1), STATUS_CONVERTED);
    ASSERT_EQ(SeamCount(SEAM_MALLOC), 1);
    EXPECT_LE(NthRecord(SEAM_MALLOC, 1)->args[0], (1u << 20) + (140u << 10));
    int reads = SeamCount(SEAM_READ_FILE);
    ASSERT_GE(reads, 3);

    /* Each read of the whole way fails: the file stays as it was, and no
     * temporary is left, whether or not writing had begun. A read that
     * brings fewer bytes than asked is asked again for the rest. */
    for (int nth = 1; nth <= reads; nth++) {
        SCOPED_TRACE("read " + std::to_string(nth));
        before = Prepare(path, file);
        SeamReset();
        SeamFailCall(SEAM_READ_FILE, nth);
        EXPECT_EQ(Convert(path, 1), STATUS_READ_FAILED);
        EXPECT_EQ(SeamCount(SEAM_MOVE_FILE_EX) + SeamCount(SEAM_SET_FILE_TIME), 0);
        ExpectUntouched(path, before, true);
        EXPECT_TRUE(NoTemporaryIn(dir));

        Prepare(path, file);
        SeamReset();
        SeamShortTransfer(SEAM_READ_FILE, nth, 1);
        EXPECT_EQ(Convert(path, 0), STATUS_CONVERTED);
        EXPECT_EQ(ReadBytes(path), payload);
    }
}

/* ---- Writing ---- */

/* Every step before the replacement can fail: the temporary's creation,
 * each write (or a write that comes up short), the flush, the replacement
 * itself. Each leaves the file byte for byte as it was, its times too, and
 * no temporary beside it. */
TEST(ConvertFile, EveryStepThatFailsLeavesTheFileAndNoTemporary)
{
    std::wstring dir = FreshDir(L"convert-write");
    std::wstring path = dir + L"\\write.mp3";
    Bytes expected;
    Bytes file = TaggedWave(Frame(2200 * 1024 + 1), &expected);
    Prepare(path, file);
    SeamReset();
    ASSERT_EQ(Convert(path, 0), STATUS_CONVERTED);
    int writes = SeamCount(SEAM_WRITE_FILE);
    ASSERT_GE(writes, 3);

    struct Step {
        std::string what;
        SeamCall call;
        int nth;
        bool shortOnly;
        SeamCall also; /* fails as well, when not SEAM_CALL_KINDS */
    };
    std::vector<Step> steps = {
        {"the temporary's creation", SEAM_CREATE_FILE, 2, false, SEAM_CALL_KINDS},
        {"the flush", SEAM_FLUSH_FILE_BUFFERS, 1, false, SEAM_CALL_KINDS},
        {"the replacement", SEAM_MOVE_FILE_EX, 1, false, SEAM_CALL_KINDS}};
    for (int nth = 1; nth <= writes; nth++) {
        steps.push_back(
            {"write " + std::to_string(nth), SEAM_WRITE_FILE, nth, false, SEAM_CALL_KINDS});
        steps.push_back(
            {"short write " + std::to_string(nth), SEAM_WRITE_FILE, nth, true, SEAM_CALL_KINDS});
    }
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        Snapshot before = Prepare(path, file);
        SeamReset();
        if (step.shortOnly)
            SeamShortTransfer(step.call, step.nth, 1);
        else
            SeamFailCall(step.call, step.nth);
        if (step.also != SEAM_CALL_KINDS)
            SeamFailCall(step.also, 1);
        EXPECT_EQ(Convert(path, 1), STATUS_WRITE_FAILED);
        EXPECT_EQ(SeamCount(SEAM_SET_FILE_TIME), 0);
        ExpectUntouched(path, before, true);
        EXPECT_TRUE(NoTemporaryIn(dir));
    }

    /* A failing close is not looked at: the temporary was flushed. */
    Snapshot before = Prepare(path, file);
    SeamReset();
    SeamFailCall(SEAM_CLOSE_HANDLE, 1);
    EXPECT_EQ(Convert(path, 1), STATUS_CONVERTED);
    ExpectTimesKept(path, before);
    EXPECT_EQ(ReadBytes(path), expected);
}

/* ---- Tags kept from the RIFF ---- */

Bytes Id3v1Block(const char *title)
{
    Bytes block = Zeros(128);
    memcpy(block.data(), "TAG", 3);
    memcpy(block.data() + 3, title, strlen(title));
    return block;
}

Bytes InfoList(std::initializer_list<Bytes> entries)
{
    return Chunk("LIST", Join({Bytes{'I', 'N', 'F', 'O'}, Join(entries)}));
}

Bytes Text(const char *text)
{
    return Bytes(text, text + strlen(text) + 1);
}

TEST(ConvertFile, TagsOfTheRiffLeadTheMp3ByteForByteWhereAsked)
{
    std::wstring dir = FreshDir(L"convert-riff-tags");
    std::wstring path = dir + L"\\tagged.wav";
    Bytes payload = Frame(3001);
    /* A tag in an id3 chunk, with the chunk's own padding after it, and an
     * INFO list it wins over. */
    Bytes tag = Id3Tag(300);
    Bytes wave = Riff("WAVE", Join({Mp3FormatChunk(), InfoList({Chunk("INAM", Text("other"))}),
                                    Chunk("data", payload), Chunk("id3 ", Join({tag, Zeros(7)}))}));
    Prepare(path, wave);
    SeamReset();
    EXPECT_EQ(Convert(path, 1, 1), STATUS_CONVERTED);
    /* The tag, then the audio at once: no zero bytes between. */
    EXPECT_EQ(ReadBytes(path), Join({tag, payload}));
    SeamReset();
    EXPECT_EQ(Convert(path, 1, 1), STATUS_NOT_NEEDED);

    /* Asked not to, or called as ever: today's output, the payload alone. */
    for (int asked = 0; asked <= 1; asked++) {
        Prepare(path, wave);
        SeamReset();
        EXPECT_EQ(asked ? Convert(path, 0, 0) : (int)ConvertFile(path.c_str(), 0),
                  STATUS_CONVERTED);
        EXPECT_EQ(ReadBytes(path), payload);
    }

    /* A file that leads with a tag keeps it, and nothing is merged into it:
     * exactly the output without the option. */
    Bytes leading = Id3Tag(40);
    Prepare(path, Join({leading, Zeros(3), wave, Id3v1Block("after")}));
    SeamReset();
    EXPECT_EQ(Convert(path, 0, 1), STATUS_CONVERTED);
    EXPECT_EQ(ReadBytes(path), Join({leading, Zeros(3), payload}));

    /* The memory for the tag can't be had: short of memory, untouched, no
     * temporary. The copy block is the first block asked for, the image of
     * the tag chunks the second, the tag's own the third. */
    for (int nth = 2; nth <= 3; nth++) {
        Snapshot before = Prepare(path, wave);
        SeamReset();
        SeamFailCall(SEAM_MALLOC, nth);
        EXPECT_EQ(Convert(path, 1, 1), STATUS_NO_MEMORY) << "block " << nth;
        EXPECT_EQ(SeamCount(SEAM_WRITE_FILE), 0);
        ExpectUntouched(path, before, true);
        EXPECT_TRUE(NoTemporaryIn(dir));
    }
}

/* An RMP3 has only 20 bytes before its audio, and its list after it: the
 * tag made from the list is longer. The tag leads the audio directly, its
 * size field says its frames and no padding, and the block ends the file;
 * the audio goes through in blocks. */
TEST(ConvertFile, ATagThatGrowsTheFileLeadsTheAudioDirectly)
{
    std::wstring dir = FreshDir(L"convert-grow");
    std::wstring path = dir + L"\\grow.rmp";
    Bytes audio = Frame(2300 * 1024 + 5);
    Bytes trailing = Id3v1Block("Korvane v1");
    Bytes file = Join(
        {Riff("RMP3", Join({Chunk("data", audio), InfoList({Chunk("INAM", Text("A title")),
                                                            Chunk("IART", Text("An artist"))})})),
         trailing});
    Snapshot before = Prepare(path, file);
    SeamReset();
    ASSERT_EQ(Convert(path, 1, 1), STATUS_CONVERTED);
    ExpectTimesKept(path, before);
    EXPECT_GE(SeamCount(SEAM_WRITE_FILE), 3);
    Bytes done = ReadBytes(path);
    ASSERT_GT(done.size(), audio.size() + 128);
    size_t tagBytes = done.size() - audio.size() - 128;
    ASSERT_GT(tagBytes, 20u);
    EXPECT_EQ(Slice(done, 0, 3), Bytes({'I', 'D', '3'}));
    size_t declared = (size_t)done[6] << 21 | done[7] << 14 | done[8] << 7 | done[9];
    EXPECT_EQ(declared + 10, tagBytes);
    EXPECT_NE(done[tagBytes - 1], 0) << "the tag ends in padding";
    EXPECT_EQ(Slice(done, tagBytes, done.size()), Join({audio, trailing}));
    SeamReset();
    EXPECT_EQ(Convert(path, 1, 1), STATUS_NOT_NEEDED);
}

/* ---- Files too big for a 32-bit size ---- */

/* What FILE_STANDARD_INFO holds; the headers of this build predate it. */
struct StandardInfo {
    LARGE_INTEGER allocationSize, endOfFile;
    DWORD numberOfLinks;
    BOOLEAN deletePending, directory;
};

/* Bytes the file takes on disk, or -1 when the platform can't tell. */
LONGLONG AllocatedBytes(const std::wstring &path)
{
    typedef BOOL(WINAPI * InfoByHandle)(HANDLE, int, LPVOID, DWORD);
    InfoByHandle query = (InfoByHandle)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                                              "GetFileInformationByHandleEx");
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    StandardInfo info;
    const int fileStandardInfo = 1;
    bool ok =
        query && file != INVALID_HANDLE_VALUE && query(file, fileStandardInfo, &info, sizeof info);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return ok ? info.allocationSize.QuadPart : -1;
}

LONGLONG FileSize(const std::wstring &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (LONGLONG)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

Bytes ReadHead(const std::wstring &path, DWORD count)
{
    Bytes head(count);
    DWORD read = 0;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return Bytes();
    ReadFile(file, head.data(), count, &read, NULL);
    CloseHandle(file);
    head.resize(read);
    return head;
}

/* A file of size bytes that starts with head; the rest is a hole, so it
 * costs the disk next to nothing. Deleted when the object goes. */
struct SparseFile {
    std::wstring path;
    bool made = false;
    SparseFile(const std::wstring &where, const Bytes &head, LONGLONG size) : path(where)
    {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE)
            return;
        DWORD unused = 0, written = 0;
        DeviceIoControl(file, FSCTL_SET_SPARSE, NULL, 0, NULL, 0, &unused, NULL);
        LARGE_INTEGER end;
        end.QuadPart = size;
        made = WriteFile(file, head.data(), (DWORD)head.size(), &written, NULL) &&
               written == head.size() && SetFilePointerEx(file, end, NULL, FILE_BEGIN) &&
               SetEndOfFile(file);
        CloseHandle(file);
    }
    ~SparseFile()
    {
        DeleteFileW(path.c_str());
    }
};

/* A file's size is kept in 64 bits all the way: one of 4 GiB or more, or
 * just under, with a wrapped RIFF at its head and a hole after the RIFF's
 * end, converts to that RIFF's audio; only the chunk headers and the audio
 * are read, and the one copy block is the memory it takes. A plain MP3 of
 * any size needs nothing, which its head tells. */
TEST(ConvertFile, FilesOfFourGigabytesOrMoreConvertWithoutLoading)
{
    std::wstring dir = FreshDir(L"convert-huge");
    Bytes payload = Frame(4000), head = Rmp3(payload);
    const LONGLONG fourGiB = 0x100000000LL;
    /* The allocation reading is real: written bytes show in it. */
    std::wstring dense = dir + L"\\dense.bin";
    ASSERT_TRUE(WriteBytes(dense, Pattern(1 << 20, 6)));
    EXPECT_GE(AllocatedBytes(dense), 1 << 20);
    DeleteFileW(dense.c_str());
    struct Case {
        LONGLONG size;
        bool plain;
    } cases[] = {
        {fourGiB + (LONGLONG)head.size(), false},
        {fourGiB - 1, false},
        {5 * fourGiB / 4, false},
        {fourGiB + 1000, true},
        {5 * fourGiB / 4, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.size);
        Bytes bytes = c.plain ? Join({Id3Tag(300), Frame(4000)}) : head;
        SparseFile sparse(dir + L"\\huge.mp3", bytes, c.size);
        ASSERT_TRUE(sparse.made);
        LONGLONG allocated = AllocatedBytes(sparse.path);
        ASSERT_GE(allocated, 0);
        ASSERT_LT(allocated, 1 << 20) << "the test file is not sparse";

        SeamReset();
        EXPECT_EQ(Convert(sparse.path, 1), c.plain ? STATUS_NOT_NEEDED : STATUS_CONVERTED);
        EXPECT_EQ(SeamCount(SEAM_MALLOC), c.plain ? 0 : 1);
        LONGLONG readBytes = 0;
        for (const SeamRecord &r : SeamLog())
            if (!r.head && r.call == SEAM_READ_FILE)
                readBytes += r.args[1];
        EXPECT_LT(readBytes, 64 << 10);
        EXPECT_EQ(FileSize(sparse.path), c.plain ? c.size : (LONGLONG)payload.size());
        EXPECT_EQ(ReadHead(sparse.path, (DWORD)bytes.size()), c.plain ? bytes : payload);
        EXPECT_TRUE(NoTemporaryIn(dir));
    }
    EXPECT_FALSE(FileExists(dir + L"\\huge.mp3"));
}

/* The head of a wrapped WAVE of fileBytes bytes whose one data chunk runs to
 * the end: headers, then the first frames of the payload. *headerBytes is
 * where the payload starts. */
Bytes LargeWaveHead(uint32_t fileBytes, const Bytes &firstFrames, uint32_t *headerBytes)
{
    Bytes format = Mp3FormatChunk();
    *headerBytes = 12 + (uint32_t)format.size() + 8;
    Bytes chunks = Join({format, ChunkClaiming("data", fileBytes - *headerBytes, firstFrames)});
    return RiffClaiming("WAVE", fileBytes - 8, chunks);
}

/* A file of a little over 1 GiB converts in the 32-bit program, whose
 * address space could never hold it twice, with the one copy block as the
 * memory it takes. The temporary beside it is written out whole. */
TEST(ConvertFile, AFileOfAGigabyteConvertsThroughOneBlock)
{
    if (sizeof(void *) > 4)
        GTEST_SKIP() << "for the 32-bit program";
    std::wstring dir = FreshDir(L"convert-large");
    ULARGE_INTEGER freeBytes;
    if (GetDiskFreeSpaceExW(dir.c_str(), &freeBytes, NULL, NULL) &&
        freeBytes.QuadPart < 2 * (ULONGLONG)0x40000000)
        GTEST_SKIP() << "less than 2 GiB free on the disk of " << Narrow(dir);
    Bytes frames = Frame(64 * 1024);
    uint32_t headerBytes;
    const uint32_t size = 1024 * (1u << 20) + 64 * 1024;
    Bytes head = LargeWaveHead(size, frames, &headerBytes);
    SparseFile sparse(dir + L"\\long.wav", head, size);
    ASSERT_TRUE(sparse.made);
    SeamReset();
    EXPECT_EQ(Convert(sparse.path, 1), STATUS_CONVERTED);
    ASSERT_EQ(SeamCount(SEAM_MALLOC), 1);
    EXPECT_LE(NthRecord(SEAM_MALLOC, 1)->args[0], (1u << 20) + (140u << 10));
    EXPECT_EQ(FileSize(sparse.path), (LONGLONG)(size - headerBytes));
    EXPECT_EQ(ReadHead(sparse.path, (DWORD)frames.size()), frames);
    EXPECT_TRUE(NoTemporaryIn(dir));
}

/* ---- Real audio ---- */

/* A well-formed ID3v2.3 tag with a title frame and some padding. */
Bytes TitleTag()
{
    const char title[] = "Korvane test";
    Bytes frame = Join({Bytes({'T', 'I', 'T', '2', 0, 0, 0, (unsigned char)sizeof title, 0, 0, 0}),
                        Bytes(title, title + sizeof title - 1)});
    Bytes body = Join({frame, Zeros(64)});
    return Join({Bytes({'I', 'D', '3', 3, 0, 0, 0, 0, 0, (unsigned char)body.size()}), body});
}

/* The format tag of a WAVE's first format chunk; 0x10000 when there is none. */
unsigned FormatTag(const Bytes &wave)
{
    Bytes format = ChunkPayload(wave, "fmt ");
    return format.size() >= 2 ? format[0] | format[1] << 8 : 0x10000;
}

TEST(RealAudio, FfmpegMpegInRiffConvertsToItsPayload)
{
    std::wstring dir = AudioDir();
    ASSERT_FALSE(dir.empty()) << "KORVANE_AUDIO_DIR is not set";
    struct Made {
        const wchar_t *source, *kind;
        unsigned formatTag;
        unsigned char syncMask, sync;
    } made[] = {{L"sine_mp3.wav", L"mp3", 0x0055, 0xF0, 0xF0},
                {L"sine_mp2.wav", L"mp2", 0x0050, 0xF0, 0xF0},
                {L"sine_8k.wav", L"8k", 0x0055, 0xF8, 0xE0}};
    for (const Made &m : made) {
        SCOPED_TRACE(Narrow(m.source));
        Bytes wave = ReadBytes(dir + L"\\" + m.source);
        ASSERT_GT(wave.size(), 1000u) << "make_audio.sh has not made " << Narrow(dir);
        ASSERT_EQ(memcmp(wave.data(), "RIFF", 4), 0);
        ASSERT_EQ(FormatTag(wave), m.formatTag);
        Bytes payload = ChunkPayload(wave, "data");
        ASSERT_GT(payload.size(), 1000u);
        /* ffmpeg stored MPEG audio, not PCM: the payload opens on a frame
         * sync, at 8 kHz that of MPEG 2.5 (version bits 00). */
        ASSERT_EQ(payload[0], 0xFF);
        ASSERT_EQ(payload[1] & m.syncMask, m.sync);

        Bytes rmp3 = wave;
        memcpy(&rmp3[8], "RMP3", 4);
        Bytes tag = TitleTag();
        std::wstring prefix = dir + L"\\converted_" + m.kind;
        struct Case {
            std::wstring path;
            Bytes bytes, expected;
        } cases[] = {
            {prefix + L"_wave.mp3", wave, payload},
            {prefix + L"_tagged.mp3", Join({tag, Zeros(2), wave}), Join({tag, Zeros(2), payload})},
            {prefix + L"_rmp3.mp3", rmp3, payload},
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(Narrow(c.path));
            Snapshot before = Prepare(c.path, c.bytes);
            SeamReset();
            EXPECT_EQ(Convert(c.path, 1), STATUS_CONVERTED);
            ExpectTimesKept(c.path, before);
            EXPECT_EQ(ReadBytes(c.path), c.expected);
            SeamReset();
            EXPECT_EQ(Convert(c.path, 1), STATUS_NOT_NEEDED);
        }
    }
}

/* Real tags kept from the RIFF, for check_tags.py to read back with a tag
 * reader of its own: ffmpeg's LIST/INFO in UTF-8, and an RMP3 whose INFO
 * holds code page 932 as Japanese software wrote it, decoded in the ANSI
 * code page of this run (932 in the Japanese one), which is left beside. */
TEST(RealAudio, TagsOfTheRiffAreKeptForAPlayerToRead)
{
    std::wstring dir = AudioDir();
    ASSERT_FALSE(dir.empty()) << "KORVANE_AUDIO_DIR is not set";
    Bytes tagged = ReadBytes(dir + L"\\tagged_info.wav");
    ASSERT_GT(tagged.size(), 1000u) << "make_audio.sh has not made " << Narrow(dir);
    ASSERT_GT(ChunkPayload(tagged, "LIST").size(), 20u) << "ffmpeg wrote no LIST/INFO";
    Bytes sine = ReadBytes(dir + L"\\sine_mp3.wav");
    Bytes payload = ChunkPayload(sine, "data");
    ASSERT_GT(payload.size(), 1000u);
    const unsigned char title[] = {0x93, 0xFA, 0x96, 0x7B, 0x8C, 0xEA, 0x82,
                                   0xCC, 0xC0, 0xB2, 0xC4, 0xD9, 0x00}; /* 日本語のﾀｲﾄﾙ */
    const unsigned char artist[] = {0x8E, 0x52, 0x93, 0x63, 0xB6, 0xC0, 0xB6, 0xC5, 0x00};
    Bytes rmp3 =
        Riff("RMP3", Join({Chunk("data", payload),
                           InfoList({Chunk("INAM", Bytes(title, title + sizeof title)),
                                     Chunk("IART", Bytes(artist, artist + sizeof artist))})}));
    struct Case {
        const wchar_t *name;
        const Bytes *bytes;
        Bytes audio;
    } cases[] = {{L"converted_info_wave.mp3", &tagged, ChunkPayload(tagged, "data")},
                 {L"converted_sjis_rmp3.mp3", &rmp3, payload}};
    for (const Case &c : cases) {
        std::wstring path = dir + L"\\" + c.name;
        SCOPED_TRACE(Narrow(path));
        ASSERT_TRUE(WriteBytes(path, *c.bytes));
        SeamReset();
        EXPECT_EQ(Convert(path, 1, 1), STATUS_CONVERTED);
        Bytes out = ReadBytes(path);
        ASSERT_GT(out.size(), c.audio.size() + 10);
        EXPECT_EQ(memcmp(out.data(), "ID3", 3), 0);
        EXPECT_EQ(Slice(out, out.size() - c.audio.size(), out.size()), c.audio);
        SeamReset();
        EXPECT_EQ(Convert(path, 1, 1), STATUS_NOT_NEEDED);
    }
    char codePage[16];
    snprintf(codePage, sizeof codePage, "%u\n", GetACP());
    EXPECT_TRUE(
        WriteBytes(dir + L"\\ansi_code_page.txt", Bytes(codePage, codePage + strlen(codePage))));
}

/* Recordings in PCM, float, A-law, mu-law, ADPCM or GSM: their data without
 * the format chunk could not be played, so they stay exactly as they are. */
TEST(RealAudio, FfmpegWavesOfOtherAudioAreLeftAlone)
{
    std::wstring dir = AudioDir();
    ASSERT_FALSE(dir.empty()) << "KORVANE_AUDIO_DIR is not set";
    std::wstring work = FreshDir(L"convert-other-audio") + L"\\left.wav";
    for (const OtherAudio &other : kOtherAudio) {
        SCOPED_TRACE(Narrow(other.name));
        Bytes wave = ReadBytes(dir + L"\\" + other.name);
        ASSERT_GT(wave.size(), 1000u) << "make_audio.sh has not made " << Narrow(dir);
        ASSERT_EQ(FormatTag(wave), other.formatTag);
        Bytes tagged = Join({TitleTag(), Zeros(2), wave});
        for (const Bytes *bytes : {&wave, &tagged}) {
            for (int keepTimes = 0; keepTimes <= 1; keepTimes++) {
                SCOPED_TRACE(std::string(bytes == &tagged ? "behind a tag" : "as made") +
                             (keepTimes ? ", keeping times" : ""));
                Snapshot before = Prepare(work, *bytes);
                SeamReset();
                EXPECT_EQ(Convert(work, keepTimes), STATUS_BAD_FORMAT);
                ExpectUntouched(work, before, true);
            }
        }
    }
}

} // namespace

namespace
{

/* ---- What the replacement keeps ---- */

/* A file whose path nearly fills MAX_PATH, in a folder where the
 * temporary's short name would pass it: the temporary is made under the
 * folder's long form and the file converts. */
TEST(ConvertFile, TheTemporaryFitsWhereverTheFilesPathFits)
{
    std::wstring dir = FreshDir(L"convert-long-path");
    std::wstring folder = dir + L"\\" + std::wstring(251 - dir.size() - 1, L'x');
    ASSERT_EQ(folder.size(), 251u);
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + folder).c_str(), NULL) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
    std::wstring path = folder + L"\\a.mp3";
    ASSERT_LT(path.size(), (size_t)MAX_PATH);
    Snapshot before = Prepare(path, Rmp3(Frame(3000)));
    SeamReset();
    EXPECT_EQ(Convert(path, 1), STATUS_CONVERTED);
    ExpectTimesKept(path, before);
    EXPECT_EQ(ReadBytes(path), Frame(3000));
    ASSERT_EQ(SeamCount(SEAM_CREATE_FILE), 3);
    EXPECT_EQ(NthRecord(SEAM_CREATE_FILE, 2)->path.compare(0, 4, L"\\\\?\\"), 0)
        << Narrow(NthRecord(SEAM_CREATE_FILE, 2)->path);
    EXPECT_TRUE(NoTemporaryIn(folder));
    DeleteFileW(path.c_str());
    RemoveDirectoryW((L"\\\\?\\" + folder).c_str());
}

/* The converted file takes the original's place with its attributes and
 * creation time, not the temporary's hidden and temporary marks; the
 * attributes are checked after a conversion that keeps the times too,
 * since setting those may touch them. */
TEST(ConvertFile, TheReplacementKeepsAttributesAndCreationTime)
{
    std::wstring dir = FreshDir(L"convert-attributes");
    std::wstring path = dir + L"\\marked.mp3";
    /* Wine marks every file for archiving: hidden is tested beside it. */
    const DWORD marks[] = {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_ARCHIVE};
    for (DWORD mark : marks) {
        for (int keepTimes = 0; keepTimes <= 1; keepTimes++) {
            SCOPED_TRACE(std::to_string(mark) + (keepTimes ? ", keeping times" : ""));
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            Snapshot before = Prepare(path, Rmp3(Frame(3000)));
            ASSERT_TRUE(SetFileAttributesW(path.c_str(), mark));
            SeamReset();
            EXPECT_EQ(Convert(path, keepTimes), STATUS_CONVERTED);
            EXPECT_EQ(GetFileAttributesW(path.c_str()), mark);
            FileTimes after;
            ASSERT_TRUE(GetTimes(path, &after));
            /* Wine reports the last-write time as the creation time: it
             * can be the same again only where the times are kept. */
            if (keepTimes || !SameFileTime(before.times.created, before.times.written)) {
                EXPECT_TRUE(SameFileTime(after.created, before.times.created))
                    << Show(after) << " vs" << Show(before.times);
            }
            EXPECT_EQ(ReadBytes(path), Frame(3000));
            EXPECT_TRUE(NoTemporaryIn(dir));
        }
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

} // namespace
