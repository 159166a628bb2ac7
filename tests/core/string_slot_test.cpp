// String slots and interning: languages, texts in UTF-16 and UTF-8, refused arguments, and one interned copy per
// text wherever the text lies in memory.
#include "string_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "database.h"
#include "test_db.h"
#include "test_text.h"
#include "vexo/core.h"

using namespace vexo::core;

namespace {

constexpr uint32_t kEnglish = 0x0409, kGerman = 0x0407, kFrench = 0x040C, kItalian = 0x0410;

struct Lookup { uint32_t language, fallback; HRESULT result; const char16_t *text; };

void expectLookups(VexoNode *db, VexoStringSlot *slot, std::initializer_list<Lookup> cases)
{
    for (const Lookup &c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.language << "/" << c.fallback);
        const VexoChar *text = nullptr;
        EXPECT_EQ(Vexo_stringLookup(db, slot, c.language, c.fallback, &text), c.result);
        EXPECT_EQ(u16(text), u16(c.text));
    }
}

}  // namespace

TEST(StringSlot, LooksUpLanguagesStoresUtf8AndRefusesBadArguments)
{
    TestDb db(nullptr);
    VexoStringSlot *slot = nullptr;
    ASSERT_EQ(Vexo_stringCreateSlot(db.handle, kEnglish, u"Colour", &slot), S_OK);
    expectLookups(db.handle, slot, {{kEnglish, kEnglish, S_OK, u"Colour"}, {kGerman, 0x0C07, S_OK, u"Colour"}});
    ASSERT_EQ(Vexo_stringAddAlternative(db.handle, slot, kGerman, u"Farbe"), S_OK);
    expectLookups(db.handle, slot, {{kGerman, kEnglish, S_OK, u"Farbe"}, {kFrench, kGerman, S_OK, u"Farbe"},
                                    {kFrench, kItalian, S_OK, u"Colour"}});
    ASSERT_EQ(Vexo_stringAddAlternative(db.handle, slot, kGerman | 0xABCD0000, u"Farbton"), S_OK);
    expectLookups(db.handle, slot, {{kGerman, kEnglish, S_OK, u"Farbton"}});  // upper bits ignored

    // A null entry of an earlier language falls through; a language beyond a slot's entries gets its default.
    VexoStringSlot *first = nullptr, *second = nullptr;
    ASSERT_EQ(Vexo_stringCreateSlot(db.handle, kEnglish, u"one", &first), S_OK);  // English has index 0
    ASSERT_EQ(Vexo_stringCreateSlotA(db.handle, kGerman, "zwei", &second), S_OK);  // German index 1
    expectLookups(db.handle, second, {{kEnglish, kFrench, S_OK, u"zwei"}, {kEnglish, kGerman, S_OK, u"zwei"}});
    expectLookups(db.handle, first, {{kGerman, kGerman, S_OK, u"one"}});  // no German entry at all: the default
    const VexoChar *text = nullptr;
    EXPECT_EQ(Vexo_stringLookup(db.handle, nullptr, kEnglish, kEnglish, &text), S_FALSE);
    EXPECT_EQ(text, nullptr);
    uint32_t notASlot[8] = {0x12345678};
    auto *bad = reinterpret_cast<VexoStringSlot *>(notASlot);
    EXPECT_EQ(Vexo_stringLookup(db.handle, bad, 1, 1, &text), E_UNEXPECTED);
    EXPECT_EQ(Vexo_stringAddAlternative(db.handle, bad, 1, u"x"), E_INVALIDARG);
    EXPECT_EQ(Vexo_stringAddAlternative(db.handle, nullptr, 1, u"x"), E_INVALIDARG);
    EXPECT_EQ(Vexo_stringAddAlternative(db.handle, first, 1, nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_stringCreateSlot(db.handle, 1, nullptr, &first), E_INVALIDARG);
    EXPECT_EQ(Vexo_stringCreateSlot(db.handle, 1, u"x", nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_stringLookup(db.handle, first, 1, 1, nullptr), E_INVALIDARG);

    struct Case { const char *what; const char *text; const char16_t *want; };
    const Case cases[] = {
        {"ascii", "Motor", u"Motor"}, {"utf-8 umlaut", "Dreh\xC3\xBC" "bung", u"Dreh\u00FCbung"},
        {"utf-8 beyond the BMP", "\xF0\x9F\x9A\x97", u"\U0001F697"}, {"empty", "", u""},
        {"latin-1 byte kept", "Stra\xDF" "e", u"Stra\u00DF" "e"}, {"truncated sequence", "a\xE2\x82", u"a\u00E2\u0082"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        VexoStringSlot *slot = nullptr;
        ASSERT_EQ(Vexo_stringCreateSlotA(db.handle, kEnglish, c.text, &slot), S_OK);
        const VexoChar *text = nullptr;
        EXPECT_EQ(Vexo_stringLookup(db.handle, slot, kEnglish, kEnglish, &text), S_OK);
        EXPECT_EQ(u16(text), c.want);
    }

    StringTable *strings = databaseAs(db.handle)->strings;
    StringSlot *field = nullptr;
    EXPECT_EQ(setSlotText(strings, &field, kEnglish, u""), S_OK);
    EXPECT_EQ(field, nullptr);
    EXPECT_EQ(setSlotText(strings, &field, kEnglish, u"Long"), S_OK);
    StringSlot *created = field;
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(setSlotText(strings, &field, kGerman, u"Lang"), S_OK);
    EXPECT_EQ(setSlotText(strings, &field, kGerman, nullptr), S_OK);
    EXPECT_EQ(field, created);
    auto *fieldSlot = reinterpret_cast<VexoStringSlot *>(field);
    expectLookups(db.handle, fieldSlot, {{kGerman, kEnglish, S_OK, u"Lang"}, {kFrench, kFrench, S_OK, u"Long"}});
    EXPECT_EQ(setSlotText(strings, nullptr, kEnglish, u"x"), E_INVALIDARG);
}


TEST(StringTable, InternsOneCopyPerTextWhereverTheTextLies)
{
    TestDb db;
    StringTable *table = db.database()->strings;
    // Texts of every length up to twenty units, units with the high bit set among them,
    // copied to each place across a page end, where the word-wise scan hands over to
    // unit-wise reading at a different unit each time.
    const std::u16string alphabet = u"a\u8000b\uFFFFc\u0100d\u0001e\u7FFFfghijk\u00FFlmno";
    auto *pages = static_cast<char16_t *>(std::aligned_alloc(4096, 2 * 4096));
    ASSERT_NE(pages, nullptr);
    std::vector<const VexoChar *> copies;
    for (size_t length = 0; length <= alphabet.size(); ++length) {
        const std::u16string text = alphabet.substr(0, length);
        const VexoChar *first = intern(table, text.c_str());
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(u16(first), text);
        for (size_t end = 2048 - 16; end <= 2048 + 16; ++end) {
            char16_t *at = pages + end - length;
            std::copy(text.begin(), text.end(), at);
            at[length] = 0;
            EXPECT_EQ(intern(table, at), first) << length << " units ending at " << end;
        }
        copies.push_back(first);
    }
    std::free(pages);
    std::sort(copies.begin(), copies.end());
    EXPECT_EQ(std::unique(copies.begin(), copies.end()), copies.end()) << "one copy per text";
}

TEST(StringTable, TellsWhetherTwoTextsAgreeOnTheirFirstUnits)
{
    TestDb db;
    StringTable *table = db.database()->strings;
    // Every pair of the alphabet's prefixes (the second also with one unit changed), for
    // every count of units the first one has: whole words, a part word, a shorter second.
    const std::u16string alphabet = u"a\u8000b\uFFFFc\u0100d\u0001e\u7FFFfghijk\u00FFlmno";
    std::vector<const VexoChar *> texts;
    for (size_t length = 0; length <= alphabet.size(); ++length)
        texts.push_back(intern(table, alphabet.substr(0, length).c_str()));
    for (const VexoChar *a : texts) {
        for (const VexoChar *b : texts) {
            std::u16string changed = u16(b);
            for (size_t at = 0; at <= changed.size(); ++at) {
                if (at < changed.size())
                    changed[at] ^= 0x20;
                const VexoChar *c = intern(table, changed.c_str());
                if (at < changed.size())
                    changed[at] ^= 0x20;
                for (size_t units = 0; units <= u16(a).size(); ++units) {
                    const std::u16string x = u16(a).substr(0, units), y = u16(c).substr(0, units);
                    EXPECT_EQ(agreeInterned(a, c, units), x == y) << u16(a).size() << " " << units << " " << at;
                }
            }
        }
    }
}

TEST(StringTable, TalliesStayWithTheirTextsUntilCleared)
{
    TestDb db;
    StringTable *table = db.database()->strings;
    // Tallies of a few texts set, then thousands more texts interned (the slots move
    // several times), then read back and cleared.
    const std::u16string texts[] = {u"a", u"frame/b", u"frame/b#2"};
    for (uint32_t i = 0; i < 3; ++i) {
        uint32_t *tally = nullptr;
        bool added = false;
        ASSERT_NE(internTallied(table, texts[i].c_str(), &tally, &added), nullptr);
        EXPECT_TRUE(added);
        EXPECT_EQ(*tally, 0u) << "a new text's tally";
        *tally = i + 1;
    }
    for (int i = 0; i < 5000; ++i)
        ASSERT_NE(intern(table, (u"filler/" + std::u16string(1, char16_t(0x100 + i))).c_str()), nullptr);
    for (uint32_t i = 0; i < 3; ++i) {
        uint32_t *tally = nullptr;
        bool added = true;
        EXPECT_EQ(internTallied(table, texts[i].c_str(), &tally, &added), intern(table, texts[i].c_str()));
        EXPECT_FALSE(added);
        EXPECT_EQ(*tally, i + 1) << ascii(texts[i].c_str());
    }
    clearTallies(table);
    uint32_t *tally = nullptr;
    bool added = true;
    internTallied(table, texts[2].c_str(), &tally, &added);
    EXPECT_EQ(*tally, 0u);
}

TEST(StringTable, ReservedRoomTakesTheTextsWithoutMovingThem)
{
    TestDb db;
    StringTable *table = db.database()->strings;
    const VexoChar *before = intern(table, u"kept");
    for (uint32_t count : {10u, 600u, 5000u}) {
        ASSERT_TRUE(reserveInterned(table, count));
        const StringTable::InternSlot *slots = table->internSlots;
        for (uint32_t i = 0; i < count; ++i)
            ASSERT_NE(intern(table, (u"room/" + std::u16string(1, char16_t(0x100 + i)) + char16_t('a' + count % 26))
                                        .c_str()),
                      nullptr);
        EXPECT_EQ(table->internSlots, slots) << count << " texts";
        EXPECT_EQ(intern(table, u"kept"), before);
    }
}
