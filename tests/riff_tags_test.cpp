/*
 * riff_tags_test.cpp: the tags found in a RIFF, on files built by
 * riff_builder. The ANSI code page is 932 through iconv, as on Japanese
 * Windows; the tags expected are built here frame by frame, plainly.
 */
#include <gtest/gtest.h>
#include <iconv.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <utility>

#include "core/riff_tags.h"
#include "core/unwrap.h"
#include "riff_builder.h"

namespace
{

uint32_t DecodeCp932(const unsigned char *text, uint32_t bytes, uint16_t *out, uint32_t outUnits)
{
    iconv_t cd = iconv_open("UTF-16LE", "CP932");
    char *in = (char *)text, *to = (char *)out;
    size_t inLeft = bytes, outLeft = outUnits * 2;
    size_t converted = iconv(cd, &in, &inLeft, &to, &outLeft);
    iconv_close(cd);
    return converted == (size_t)-1 ? 0 : outUnits - (uint32_t)(outLeft / 2);
}

Bytes T(const std::string &text)
{
    return Bytes(text.begin(), text.end());
}

Bytes Utf16(const std::u16string &text)
{
    Bytes bytes = {0xFF, 0xFE};
    for (char16_t unit : text)
        bytes.insert(bytes.end(), {(unsigned char)(unit & 0xFF), (unsigned char)(unit >> 8)});
    return bytes;
}

/* Frame bodies of encoding 0 and of encoding 1. */
Bytes Ascii(const std::string &text)
{
    return Join({{0}, T(text)});
}

Bytes Wide(const std::u16string &text)
{
    return Join({{1}, Utf16(text)});
}

Bytes Id3Frame(const char *id, const Bytes &body)
{
    Bytes size = {(unsigned char)(body.size() >> 24), (unsigned char)(body.size() >> 16),
                  (unsigned char)(body.size() >> 8), (unsigned char)body.size()};
    return Join({T(id), size, {0, 0}, body});
}

Bytes Tag23(std::initializer_list<Bytes> frames)
{
    Bytes body = Join(frames);
    Bytes header = Id3Tag((uint32_t)body.size());
    header.resize(10);
    return Join({header, body});
}

Bytes Info(std::initializer_list<std::pair<const char *, Bytes>> entries)
{
    Bytes list = T("INFO");
    for (const auto &entry : entries)
        list = Join({list, Chunk(entry.first, entry.second)});
    return Chunk("LIST", list);
}

Bytes Wave(const Bytes &chunks)
{
    return Riff("WAVE", Join({Mp3FormatChunk(), chunks, Chunk("data", Frame(40))}));
}

/* FindRiffTags on a buffer of exactly size + 1 bytes, so that AddressSanitizer
 * sees any read past the guard. */
void RunFind(const Bytes &file, RiffTags *tags)
{
    unsigned char *buffer = (unsigned char *)malloc(file.size() + 1);
    if (!file.empty())
        memcpy(buffer, file.data(), file.size());
    buffer[file.size()] = LOADED_BUFFER_GUARD;
    EXPECT_EQ(FindRiffTags(buffer, (uint32_t)file.size(), DecodeCp932, tags), 1);
    EXPECT_EQ(buffer[file.size()], LOADED_BUFFER_GUARD);
    free(buffer);
}

struct Found {
    Bytes leading, trailing; /* empty for none */
    bool built;
};

Found Find(const Bytes &file)
{
    RiffTags tags;
    RunFind(file, &tags);
    Found found = {Bytes(tags.leading, tags.leading + tags.leadingBytes), Bytes(),
                   tags.leadingBuilt};
    if (tags.hasTrailing)
        found.trailing.assign(tags.trailing, tags.trailing + ID3V1_BYTES);
    FreeRiffTags(&tags);
    return found;
}

TEST(RiffTags, InfoEntriesBecomeId3v23Frames)
{
    Bytes file = Wave(Join({Info({{"INAM", T("Café")},
                                  {"IART", T("日本語🎵")},
                                  {"ICRD", T("2019-05-03")},
                                  {"IPRT", T("3")},
                                  {"ITRK", T("9")},
                                  {"INAM", T("Other")},
                                  {"IGNR", T(std::string("Rock  \0junk", 11))},
                                  {"IPRD", T("  ")},
                                  {"ICMT", T("ça va")},
                                  {"IKEY", T("k")},
                                  {"\x01XYZ", T("bad id")},
                                  {"ISBJ", T("ü")},
                                  {"IKEY", T("second")}}),
                            Info({{"IART", T("Later")}, {"ICOP", T("(c)")}})}));
    Found found = Find(file);
    EXPECT_EQ(
        found.leading,
        Tag23({Id3Frame("TIT2", Wide(u"Café")), Id3Frame("TPE1", Wide(u"日本語🎵")),
               Id3Frame("TRCK", Ascii("3")), Id3Frame("TYER", Ascii("2019")),
               Id3Frame("TCON", Ascii("Rock")),
               Id3Frame("COMM", Join({{1}, T("und"), Utf16(u""), {0, 0}, Utf16(u"ça va")})),
               Id3Frame("TCOP", Ascii("(c)")), Id3Frame("TXXX", Ascii(std::string("IKEY\0k", 6))),
               Id3Frame("TXXX", Join({{1}, Utf16(u"ISBJ"), {0, 0}, Utf16(u"ü")}))}));
    EXPECT_TRUE(found.built);
}

TEST(RiffTags, TextThatIsNotUtf8GoesThroughTheAnsiDecoder)
{
    /* 日本 and half-width katakana in Shift_JIS; C0 AF, an overlong "/",
     * is no UTF-8 either; a lead byte cut by the end decodes to nothing. */
    Bytes file = Wave(Info({{"INAM", T("\x93\xFA\x96\x7B\xB6\xC0\xB6\xC5")},
                            {"IART", T("\xC0\xAF")},
                            {"IPRD", T("ab\x81")}}));
    EXPECT_EQ(Find(file).leading,
              Tag23({Id3Frame("TIT2", Wide(u"日本ｶﾀｶﾅ")), Id3Frame("TPE1", Wide(u"ﾀｯ"))}));
}

TEST(RiffTags, AnId3v2TagIsCopiedAndWinsOverText)
{
    Bytes tag = Id3Tag(20);
    Found found =
        Find(Wave(Join({Info({{"INAM", T("x")}}), Chunk("id3 ", Join({tag, Pattern(7, 1)})),
                        Chunk("ID3 ", Id3Tag(30))})));
    EXPECT_EQ(found.leading, tag);
    EXPECT_FALSE(found.built);
    EXPECT_EQ(Find(Riff("RMP3",
                        Join({Chunk("data", Frame(40)), Info({{"INAM", T("x")}, {"IID3", tag}})})))
                  .leading,
              tag);

    /* Too long for its chunk, a v2.4 footer, revision FF, version 5, a size
     * byte with its high bit: each leaves the text to build the tag. */
    Bytes tooLong = tag, footer = tag, revision = tag, version = tag, highBit = tag;
    tooLong[9] = 21, footer[3] = 4, footer[5] = 0x10, revision[4] = 0xFF, version[3] = 5;
    highBit[8] = 0x80;
    for (const Bytes &bad : {tooLong, footer, revision, version, highBit})
        EXPECT_EQ(Find(Wave(Join({Chunk("id3 ", bad), Info({{"INAM", T("x")}})}))).leading,
                  Tag23({Id3Frame("TIT2", Ascii("x"))}));
}

TEST(RiffTags, CartFillsTitleAndArtistOnlyWhereInfoHasNone)
{
    Bytes title = Join({T("Cart Title"), Zeros(54)}), artist = T("Cart Artist");
    artist.resize(64, ' ');
    Bytes cart = Chunk("cart", Join({T("0101"), title, artist, Pattern(20, 2)}));
    EXPECT_EQ(Find(Wave(Join({cart, Info({{"IART", T("Info")}})}))).leading,
              Tag23({Id3Frame("TIT2", Ascii("Cart Title")), Id3Frame("TPE1", Ascii("Info"))}));
    EXPECT_EQ(Find(Wave(cart)).leading, Tag23({Id3Frame("TIT2", Ascii("Cart Title")),
                                               Id3Frame("TPE1", Ascii("Cart Artist"))}));
}

TEST(RiffTags, Id3v1AfterTheRiffOrInAnIid3Entry)
{
    Bytes v1 = Join({T("TAG"), Pattern(125, 3)});
    EXPECT_EQ(Find(Join({Wave(Bytes()), v1})).trailing, v1);
    EXPECT_EQ(Find(Riff("RMP3", Join({Chunk("data", Frame(40)), Info({{"IID3", v1}})}))).trailing,
              v1);
    EXPECT_EQ(Find(Wave(Chunk("JUNK", v1))).trailing, Bytes());
    EXPECT_EQ(Find(Join({RiffClaiming("WAVE", 0xFFFFFFFF, Mp3FormatChunk()), v1})).trailing,
              Bytes());
}

TEST(RiffTags, HostileSizesReadNothingOutsideTheRiff)
{
    /* The entry claims 100 bytes; the LIST ends four bytes into its value. */
    Bytes list =
        ChunkClaiming("LIST", 16, Join({T("INFO"), ChunkClaiming("INAM", 100, T("Titl"))}));
    Bytes titl = Tag23({Id3Frame("TIT2", Ascii("Titl"))});
    EXPECT_EQ(Find(Riff("WAVE", Join({list, Chunk("JUNK", T("e and more"))}))).leading, titl);
    /* The RIFF ends in the value; the file goes on. */
    EXPECT_EQ(Find(RiffClaiming("WAVE", 4 + 24, Info({{"INAM", T("Title")}}))).leading, titl);

    /* Sizes of 0xFFFFFFFF for the RIFF, a LIST and an entry, in every
     * length the file could be cut to. */
    Bytes huge = Info({{"INAM", T("x")}, {"IART", T("abc")}});
    PutLE32(huge, 4, 0xFFFFFFFF);
    PutLE32(huge, 16 + 10, 0xFFFFFFFF);
    Bytes rich = RiffClaiming("WAVE", 0xFFFFFFFF,
                              Join({Chunk("cart", Pattern(140, 4)), Chunk("id3 ", Id3Tag(9)),
                                    Info({{"ICMT", T("\xE6\x97")}, {"IID3", Id3Tag(3)}}), huge}));
    for (size_t length = 0; length <= rich.size(); length++)
        Find(Bytes(rich.begin(), rich.begin() + length));
}

TEST(RiffTags, FramesStayWithinTheirLimits)
{
    Bytes entries = Join({T("INFO"), Chunk("INAM", Bytes(700000, 'a')),
                          Chunk("IART", Bytes(700000, 'b')), Chunk("IPRD", T("x"))});
    for (int i = 0; i < 70; i++)
        entries = Join({entries, Chunk(("X0" + std::to_string(10 + i)).c_str(), T("v"))});
    Bytes tag = Find(Wave(Chunk("LIST", entries))).leading;
    std::vector<std::string> ids, expected = {"TIT2", "TALB"};
    for (size_t pos = 10; pos + 10 <= tag.size();
         pos += 10 + (tag[pos + 4] << 24 | tag[pos + 5] << 16 | tag[pos + 6] << 8 | tag[pos + 7]))
        ids.push_back(std::string(tag.begin() + pos, tag.begin() + pos + 4));
    expected.resize(2 + 64, "TXXX");
    EXPECT_EQ(ids, expected);
}

} // namespace
