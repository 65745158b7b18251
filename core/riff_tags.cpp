/*
 * riff_tags.cpp: finding the tags a wrapped file keeps inside its RIFF and
 * making them into the ID3 tags of the MP3 it becomes.
 *
 * The chunks are walked with the walk of riff_walk.h, its size set to the
 * smaller of the RIFF's declared end and the file's size, so that neither a
 * chunk header nor a payload is ever read past either; a LIST's entries are
 * walked the same way, bounded by what is visible of the LIST. The walk only
 * notes where things are (offsets and lengths into the buffer, in fixed
 * arrays); the memory for a tag is taken once the walk is over, so a hostile
 * file can make no more allocations than a plain one.
 */
#include "riff_tags.h"

#include <stdlib.h>
#include <string.h>

#include "riff_walk.h"
#include "unwrap.h"

#ifdef KORVANE_TEST_SEAMS
/* The conversion tests refuse the tag's memory through the seam for malloc. */
#include "tests/convert_seams.h"
#endif

#define ID3_HEADER_BYTES   10
#define FRAME_HEADER_BYTES 10
#define CART_FIELDS_END    132
#define CART_FIELD_BYTES   64
#define MAX_USER_FRAMES    64
#define INFO_ID_BYTES      4
/* A built tag's frames stay within this; a frame that would pass it is
 * skipped whole, never cut. */
#define BUILT_FRAMES_CAP (1u << 20)
/* No text decoding spends more than four bytes on one UTF-16 unit (two bytes
 * written), so a longer value could never make a frame within the cap. It
 * is skipped before decoding, which also bounds the decoding buffer. */
#define MAX_VALUE_BYTES (2 * BUILT_FRAMES_CAP)

/* The frames a built tag can hold, in the order it holds them. */
enum {
    KIND_TIT2,
    KIND_TPE1,
    KIND_TALB,
    KIND_TRCK,
    KIND_TYER,
    KIND_TCON,
    KIND_COMM,
    KIND_TCOP,
    KIND_TSSE,
    KIND_TENC,
    KIND_TLAN,
    KIND_TCOM,
    TEXT_KINDS,
    KIND_TXXX = TEXT_KINDS,
    KIND_NONE
};

static const char *const kFrameIds[TEXT_KINDS + 1] = {"TIT2", "TPE1", "TALB", "TRCK", "TYER",
                                                      "TCON", "COMM", "TCOP", "TSSE", "TENC",
                                                      "TLAN", "TCOM", "TXXX"};

struct InfoMapping {
    const char *entryId;
    int kind;
};

static const InfoMapping kInfoMappings[] = {
    {"INAM", KIND_TIT2}, {"IART", KIND_TPE1}, {"IPRD", KIND_TALB}, {"IPRT", KIND_TRCK},
    {"ITRK", KIND_TRCK}, {"TRCK", KIND_TRCK}, {"ICRD", KIND_TYER}, {"IGNR", KIND_TCON},
    {"ICMT", KIND_COMM}, {"ICOP", KIND_TCOP}, {"ISFT", KIND_TSSE}, {"ITCH", KIND_TENC},
    {"ILNG", KIND_TLAN}, {"IMUS", KIND_TCOM},
};

/* A stretch of text in the loaded buffer; bytes 0 means none. */
struct TextRef {
    uint32_t offset;
    uint32_t bytes;
};

/* Where the walk found things, all as offsets into the buffer. */
struct FoundTags {
    uint32_t copyOffset, copyBytes; /* an ID3v2 tag taken as it stands; 0 bytes: none */
    bool hasInnerV1;
    uint32_t innerV1Offset; /* an ID3v1 block in an IID3 entry */
    TextRef text[TEXT_KINDS];
    bool cartSeen;
    TextRef cartText[2]; /* title and artist, for KIND_TIT2 and KIND_TPE1 */
    uint32_t userCount;
    uint32_t userIdOffset[MAX_USER_FRAMES];
    TextRef userText[MAX_USER_FRAMES];
};

static uint32_t ReadSynchsafe(const unsigned char *p)
{
    return (uint32_t)p[0] << 21 | (uint32_t)p[1] << 14 | (uint32_t)p[2] << 7 | (uint32_t)p[3];
}

static void PutSynchsafe(unsigned char *p, uint32_t value)
{
    p[0] = (unsigned char)((value >> 21) & 0x7F);
    p[1] = (unsigned char)((value >> 14) & 0x7F);
    p[2] = (unsigned char)((value >> 7) & 0x7F);
    p[3] = (unsigned char)(value & 0x7F);
}

static void PutBE32(unsigned char *p, uint32_t value)
{
    p[0] = (unsigned char)(value >> 24);
    p[1] = (unsigned char)(value >> 16);
    p[2] = (unsigned char)(value >> 8);
    p[3] = (unsigned char)value;
}

/* The length of the well-formed ID3v2 tag that begins the bytes and fits in
 * them, or 0. A v2.4 tag with a footer is refused: the check of a converted
 * file skips a leading tag by its size alone, without the footer, and would
 * then call the file damaged. */
static uint32_t UsableTagLength(const unsigned char *p, uint32_t bytes)
{
    if (bytes < ID3_HEADER_BYTES || memcmp(p, "ID3", 3) != 0)
        return 0;
    if (p[3] < 2 || p[3] > 4 || p[4] == 0xFF)
        return 0;
    if ((p[6] | p[7] | p[8] | p[9]) & 0x80)
        return 0;
    if (p[3] == 4 && (p[5] & 0x10))
        return 0;
    uint32_t tagSize = ReadSynchsafe(p + 6);
    if (tagSize > bytes - ID3_HEADER_BYTES)
        return 0;
    return ID3_HEADER_BYTES + tagSize;
}

static void NoteTagToCopy(FoundTags *found, const unsigned char *buffer, uint32_t offset,
                          uint32_t bytes)
{
    if (found->copyBytes != 0)
        return;
    found->copyOffset = offset;
    found->copyBytes = UsableTagLength(buffer + offset, bytes);
}

/* The text of a value: up to its first NUL, without trailing spaces. */
static TextRef ValueText(const unsigned char *buffer, uint32_t offset, uint32_t bytes)
{
    const unsigned char *nul = (const unsigned char *)memchr(buffer + offset, 0, bytes);
    TextRef text = {offset, nul != NULL ? (uint32_t)(nul - (buffer + offset)) : bytes};
    while (text.bytes > 0 && buffer[offset + text.bytes - 1] == ' ')
        text.bytes--;
    return text;
}

static bool IsPrintableId(const unsigned char *id)
{
    for (int i = 0; i < INFO_ID_BYTES; i++)
        if (id[i] < 0x20 || id[i] > 0x7E)
            return false;
    return true;
}

static int KindOfEntry(const unsigned char *id)
{
    for (size_t i = 0; i < sizeof kInfoMappings / sizeof kInfoMappings[0]; i++)
        if (IdEquals(id, kInfoMappings[i].entryId))
            return kInfoMappings[i].kind;
    return KIND_NONE;
}

/* A year is the four digits a date begins with; anything else is no year. */
static TextRef YearOf(const unsigned char *buffer, TextRef date)
{
    TextRef none = {0, 0};
    if (date.bytes < 4)
        return none;
    for (uint32_t i = 0; i < 4; i++)
        if (buffer[date.offset + i] < '0' || buffer[date.offset + i] > '9')
            return none;
    date.bytes = 4;
    return date;
}

static void NoteUserText(FoundTags *found, const unsigned char *buffer, uint32_t idOffset,
                         TextRef text)
{
    if (found->userCount == MAX_USER_FRAMES)
        return;
    for (uint32_t i = 0; i < found->userCount; i++)
        if (memcmp(buffer + found->userIdOffset[i], buffer + idOffset, INFO_ID_BYTES) == 0)
            return;
    found->userIdOffset[found->userCount] = idOffset;
    found->userText[found->userCount] = text;
    found->userCount++;
}

/* One entry of a LIST/INFO; bytes is what of its value is visible. */
static void NoteInfoEntry(FoundTags *found, const unsigned char *buffer, const RiffChunk *entry,
                          uint32_t bytes)
{
    const unsigned char *id = entry->id;
    uint32_t payload = (uint32_t)entry->payload;
    if (IdEquals(id, "IID3")) {
        NoteTagToCopy(found, buffer, payload, bytes);
        if (!found->hasInnerV1 && entry->payloadSize == ID3V1_BYTES && bytes == ID3V1_BYTES &&
            memcmp(buffer + payload, "TAG", 3) == 0) {
            found->hasInnerV1 = true;
            found->innerV1Offset = payload;
        }
        return;
    }
    if (!IsPrintableId(id))
        return;
    TextRef text = ValueText(buffer, payload, bytes);
    int kind = KindOfEntry(id);
    if (kind == KIND_TYER)
        text = YearOf(buffer, text);
    if (text.bytes == 0)
        return;
    if (kind == KIND_NONE)
        NoteUserText(found, buffer, (uint32_t)entry->offset, text);
    else if (found->text[kind].bytes == 0)
        found->text[kind] = text;
}

static void NoteInfoList(FoundTags *found, const unsigned char *buffer, uint32_t payload,
                         uint32_t bytes)
{
    ChunkWalk walk;
    RiffChunk entry;
    ByteSource source;
    MemorySource memory;
    if (bytes < 4 || !IdEquals(buffer + payload, "INFO"))
        return;
    uint32_t listEnd = payload + bytes;
    BeginMemorySource(&source, &memory, buffer, listEnd);
    BeginChunkWalk(&walk, &source, listEnd, (uint64_t)payload + 4, listEnd);
    while (NextChunk(&walk, &entry) == WALK_CHUNK)
        NoteInfoEntry(found, buffer, &entry, PayloadInFile(&walk, &entry));
}

/* Only the first cart chunk counts, whether or not it holds the fields. */
static void NoteCart(FoundTags *found, const unsigned char *buffer, uint32_t payload,
                     uint32_t bytes)
{
    if (found->cartSeen)
        return;
    found->cartSeen = true;
    if (bytes < CART_FIELDS_END)
        return;
    found->cartText[KIND_TIT2] = ValueText(buffer, payload + 4, CART_FIELD_BYTES);
    found->cartText[KIND_TPE1] =
        ValueText(buffer, payload + 4 + CART_FIELD_BYTES, CART_FIELD_BYTES);
}

static void WalkRiff(const unsigned char *buffer, uint32_t size, const RiffPlace *place,
                     FoundTags *found)
{
    ChunkWalk walk;
    RiffChunk chunk;
    ByteSource source;
    MemorySource memory;
    uint32_t riffLimit = place->riffEnd < size ? (uint32_t)place->riffEnd : size;
    BeginMemorySource(&source, &memory, buffer, size);
    BeginChunkWalk(&walk, &source, riffLimit, place->riffPos + RIFF_HEADER_BYTES, place->riffEnd);
    while (NextChunk(&walk, &chunk) == WALK_CHUNK) {
        uint32_t payload = (uint32_t)chunk.payload;
        uint32_t bytes = PayloadInFile(&walk, &chunk);
        if (IdEquals(chunk.id, "id3 ") || IdEquals(chunk.id, "ID3 "))
            NoteTagToCopy(found, buffer, payload, bytes);
        else if (IdEquals(chunk.id, "LIST"))
            NoteInfoList(found, buffer, payload, bytes);
        else if (IdEquals(chunk.id, "cart"))
            NoteCart(found, buffer, payload, bytes);
    }
}

/* The code point of the strict UTF-8 sequence at p and its length, or 0
 * for an overlong form, a surrogate, a value past U+10FFFF or a sequence
 * cut by the end. */
static uint32_t Utf8Sequence(const unsigned char *p, uint32_t left, uint32_t *codePoint)
{
    static const uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
    uint32_t length;
    if (p[0] < 0x80) {
        *codePoint = p[0];
        return 1;
    }
    if ((p[0] & 0xE0) == 0xC0)
        length = 2;
    else if ((p[0] & 0xF0) == 0xE0)
        length = 3;
    else if ((p[0] & 0xF8) == 0xF0)
        length = 4;
    else
        return 0;
    /* The lead byte keeps 7 - length bits of the value. */
    uint32_t value = p[0] & (0x7Fu >> length);
    if (length > left)
        return 0;
    for (uint32_t i = 1; i < length; i++) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        value = value << 6 | (p[i] & 0x3F);
    }
    if (value < kLeast[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *codePoint = value;
    return length;
}

/* UTF-16 units at out (room for bytes units), or 0 when not valid UTF-8. */
static uint32_t DecodeUtf8(const unsigned char *text, uint32_t bytes, uint16_t *out)
{
    uint32_t pos = 0, units = 0, codePoint, length;
    while (pos < bytes) {
        length = Utf8Sequence(text + pos, bytes - pos, &codePoint);
        if (length == 0)
            return 0;
        pos += length;
        if (codePoint < 0x10000) {
            out[units++] = (uint16_t)codePoint;
        } else {
            out[units++] = (uint16_t)(0xD800 + ((codePoint - 0x10000) >> 10));
            out[units++] = (uint16_t)(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
        }
    }
    return units;
}

static bool HasHighByte(const unsigned char *text, uint32_t bytes)
{
    for (uint32_t i = 0; i < bytes; i++)
        if (text[i] >= 0x80)
            return true;
    return false;
}

/* Decodes a value into out (room for twice its bytes); 0 when it gives no
 * text. Bytes that are not UTF-8 are the system's ANSI code page. */
static uint32_t DecodeValue(const unsigned char *text, uint32_t bytes, AnsiDecoder decode,
                            uint16_t *out)
{
    if (bytes == 0 || bytes > MAX_VALUE_BYTES)
        return 0;
    if (!HasHighByte(text, bytes)) {
        for (uint32_t i = 0; i < bytes; i++)
            out[i] = text[i];
        return bytes;
    }
    uint32_t units = DecodeUtf8(text, bytes, out);
    if (units != 0 || decode == NULL)
        return units;
    units = decode(text, bytes, out, 2 * bytes);
    return units <= 2 * bytes ? units : 0;
}

static bool AllAscii(const uint16_t *units, uint32_t count)
{
    for (uint32_t i = 0; i < count; i++)
        if (units[i] >= 0x80)
            return false;
    return true;
}

/* Encoding 0 holds the bytes as they are; 1 is UTF-16LE after FF FE. */
static uint32_t StringBytes(uint32_t units, int encoding)
{
    return encoding == 0 ? units : 2 + 2 * units;
}

static uint32_t TerminatorBytes(int encoding)
{
    return encoding == 0 ? 1 : 2;
}

static uint32_t FrameBodyBytes(int kind, uint32_t units, int encoding)
{
    uint32_t bytes = 1 + StringBytes(units, encoding);
    if (kind == KIND_COMM)
        bytes += 3 + StringBytes(0, encoding) + TerminatorBytes(encoding);
    else if (kind == KIND_TXXX)
        bytes += StringBytes(INFO_ID_BYTES, encoding) + TerminatorBytes(encoding);
    return bytes;
}

static unsigned char *PutString(unsigned char *out, const uint16_t *units, uint32_t count,
                                int encoding)
{
    if (encoding == 0) {
        for (uint32_t i = 0; i < count; i++)
            *out++ = (unsigned char)units[i];
        return out;
    }
    *out++ = 0xFF;
    *out++ = 0xFE;
    for (uint32_t i = 0; i < count; i++) {
        *out++ = (unsigned char)(units[i] & 0xFF);
        *out++ = (unsigned char)(units[i] >> 8);
    }
    return out;
}

static unsigned char *PutTerminator(unsigned char *out, int encoding)
{
    memset(out, 0, TerminatorBytes(encoding));
    return out + TerminatorBytes(encoding);
}

/* Writes a frame of kind (userId: the description of a TXXX) at out. */
static void PutFrame(unsigned char *out, int kind, const unsigned char *userId,
                     const uint16_t *units, uint32_t count, int encoding)
{
    memcpy(out, kFrameIds[kind], 4);
    PutBE32(out + 4, FrameBodyBytes(kind, count, encoding));
    out[8] = out[9] = 0;
    out += FRAME_HEADER_BYTES;
    *out++ = (unsigned char)encoding;
    if (kind == KIND_COMM) {
        memcpy(out, "und", 3);
        out = PutTerminator(PutString(out + 3, NULL, 0, encoding), encoding);
    } else if (kind == KIND_TXXX) {
        uint16_t description[INFO_ID_BYTES];
        for (int i = 0; i < INFO_ID_BYTES; i++)
            description[i] = userId[i];
        out = PutTerminator(PutString(out, description, INFO_ID_BYTES, encoding), encoding);
    }
    PutString(out, units, count, encoding);
}

/* A built tag as it grows: frames follow the header in tag. */
struct TagBuild {
    const unsigned char *buffer;
    AnsiDecoder decode;
    uint16_t *units; /* room for twice the longest value's bytes */
    unsigned char *tag;
    uint32_t framesBytes;
};

/* Appends the frame a value makes; false when it makes none, for want of
 * text or of room under the cap. */
static bool AppendFrame(TagBuild *build, int kind, const unsigned char *userId, TextRef text)
{
    uint32_t count =
        DecodeValue(build->buffer + text.offset, text.bytes, build->decode, build->units);
    if (count == 0)
        return false;
    int encoding = AllAscii(build->units, count) ? 0 : 1;
    uint32_t body = FrameBodyBytes(kind, count, encoding);
    if (body > BUILT_FRAMES_CAP - build->framesBytes ||
        FRAME_HEADER_BYTES > BUILT_FRAMES_CAP - build->framesBytes - body)
        return false;
    PutFrame(build->tag + ID3_HEADER_BYTES + build->framesBytes, kind, userId, build->units, count,
             encoding);
    build->framesBytes += FRAME_HEADER_BYTES + body;
    return true;
}

/* The most a value can take in a frame: the frame's header, encoding byte,
 * description with its mark and terminator, the value's mark, and two
 * bytes for each of the twice its bytes units a decoder may give. */
static uint64_t FrameRoom(TextRef text)
{
    if (text.bytes == 0 || text.bytes > MAX_VALUE_BYTES)
        return 0;
    return FRAME_HEADER_BYTES + 1 + 12 + 2 + 4 * (uint64_t)text.bytes;
}

static void MeasureText(TextRef text, uint64_t *room, uint32_t *longest)
{
    *room += FrameRoom(text);
    if (FrameRoom(text) != 0 && text.bytes > *longest)
        *longest = text.bytes;
}

/* The room the built tag may need, and the longest value it decodes. */
static uint64_t MeasureBuild(const FoundTags *found, uint32_t *longest)
{
    uint64_t room = 0;
    *longest = 0;
    for (int kind = 0; kind < TEXT_KINDS; kind++)
        MeasureText(found->text[kind], &room, longest);
    MeasureText(found->cartText[KIND_TIT2], &room, longest);
    MeasureText(found->cartText[KIND_TPE1], &room, longest);
    for (uint32_t i = 0; i < found->userCount; i++)
        MeasureText(found->userText[i], &room, longest);
    return room < BUILT_FRAMES_CAP ? room : BUILT_FRAMES_CAP;
}

static void AppendAllFrames(TagBuild *build, const FoundTags *found)
{
    for (int kind = 0; kind < TEXT_KINDS; kind++) {
        /* The cart's title and artist stand in where INFO gives none. */
        if (!AppendFrame(build, kind, NULL, found->text[kind]) &&
            (kind == KIND_TIT2 || kind == KIND_TPE1))
            AppendFrame(build, kind, NULL, found->cartText[kind]);
    }
    for (uint32_t i = 0; i < found->userCount; i++)
        AppendFrame(build, KIND_TXXX, build->buffer + found->userIdOffset[i], found->userText[i]);
}

/* Builds an ID3v2.3 tag from the text found; 0 when memory ran out. */
static int BuildTag(const unsigned char *buffer, const FoundTags *found, AnsiDecoder decode,
                    RiffTags *tags)
{
    int result = 0;
    uint32_t longest;
    uint64_t room = MeasureBuild(found, &longest);
    TagBuild build = {buffer, decode, NULL, NULL, 0};
    if (room == 0) {
        result = 1;
        goto cleanup;
    }
    build.units = (uint16_t *)malloc(2 * (size_t)longest * sizeof(uint16_t));
    build.tag = (unsigned char *)malloc(ID3_HEADER_BYTES + (size_t)room);
    if (build.units == NULL || build.tag == NULL)
        goto cleanup;
    AppendAllFrames(&build, found);
    result = 1;
    if (build.framesBytes == 0)
        goto cleanup;
    memcpy(build.tag, "ID3\x03\x00\x00", 6);
    PutSynchsafe(build.tag + 6, build.framesBytes);
    tags->leading = build.tag;
    tags->leadingBytes = ID3_HEADER_BYTES + build.framesBytes;
    tags->leadingBuilt = true;
    build.tag = NULL;
cleanup:
    free(build.units);
    free(build.tag);
    return result;
}

static int CopyTag(const unsigned char *buffer, const FoundTags *found, RiffTags *tags)
{
    tags->leading = (unsigned char *)malloc(found->copyBytes);
    if (tags->leading == NULL)
        return 0;
    memcpy(tags->leading, buffer + found->copyOffset, found->copyBytes);
    tags->leadingBytes = found->copyBytes;
    return 1;
}

static void NoteTrailing(const unsigned char *buffer, uint32_t size, const RiffPlace *place,
                         const FoundTags *found, RiffTags *tags)
{
    const unsigned char *block = NULL;
    if (size >= ID3V1_BYTES && place->riffEnd <= size - ID3V1_BYTES &&
        memcmp(buffer + size - ID3V1_BYTES, "TAG", 3) == 0)
        block = buffer + size - ID3V1_BYTES;
    else if (found->hasInnerV1)
        block = buffer + found->innerV1Offset;
    if (block == NULL)
        return;
    tags->hasTrailing = true;
    memcpy(tags->trailing, block, ID3V1_BYTES);
}

int FindRiffTags(const unsigned char *buffer, uint32_t size, AnsiDecoder decode, RiffTags *tags)
{
    RiffPlace place;
    FoundTags found;
    int result = 1;
    memset(tags, 0, sizeof *tags);
    memset(&found, 0, sizeof found);
    if (LocateRiff(buffer, size, &place) && place.tagLength == 0) {
        WalkRiff(buffer, size, &place, &found);
        if (found.copyBytes != 0)
            result = CopyTag(buffer, &found, tags);
        else
            result = BuildTag(buffer, &found, decode, tags);
        if (result != 0)
            NoteTrailing(buffer, size, &place, &found, tags);
    }
    return result;
}

void FreeRiffTags(RiffTags *tags)
{
    free(tags->leading);
    memset(tags, 0, sizeof *tags);
}
