// Sorting a batch of interned ids at once gives the order of a stable sort by their units.
#include "id_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "string_table.h"
#include "test_db.h"

using namespace vexo::core;

TEST(IdSort, GivesTheOrderOfAStableSortByUnits)
{
    TestDb db(nullptr);
    StringTable *strings = db.database()->strings;
    std::mt19937 random(7);
    struct Shape {
        const char *what;
        std::u16string prefix;  // shared by every id
        std::u16string units;   // the rest is drawn from these
        size_t longest;
        size_t count;
        std::vector<std::u16string> words = {};  // or from these, whole
    };
    const Shape shapes[] = {
        {"few units: many repeats, ids that begin others, the empty id", u"", u"ab", 6, 3000},
        {"a long shared prefix", u"a_database_name/frame/", u"abc/_", 40, 2000},
        {"units above 0x7FFF order after ASCII", u"db/", u"a\u00e9\uffff\u8000Z", 12, 2000},
        {"one id throughout", u"x", u"", 0, 500},
        {"a handful", u"p/", u"xyz", 5, 15},
        {"long stretches shared under a few names", u"db/frame/", u"", 5, 2000,
         {u"Engine_Status/", u"Engine_Stop/", u"signal/", u"instance", u"receiver/ECU_", u"A", u"B"}},
    };
    for (const Shape &shape : shapes) {
        SCOPED_TRACE(shape.what);
        std::vector<SortedId> ids;
        for (uint32_t i = 0; i < shape.count; ++i) {
            std::u16string text = shape.prefix;
            const size_t length = shape.longest == 0 ? 0 : random() % (shape.longest + 1);
            for (size_t k = 0; k < length; ++k)
                text += shape.words.empty() ? std::u16string(1, shape.units[random() % shape.units.size()])
                                            : shape.words[random() % shape.words.size()];
            ids.push_back({0, intern(strings, text.c_str()), nullptr, i, 0});
        }
        std::vector<SortedId> expected = ids;
        std::stable_sort(expected.begin(), expected.end(),
                         [](const SortedId &a, const SortedId &b) { return compareUnits(a.id, b.id) < 0; });
        sortInternedIds(ids.data(), ids.size(), shape.prefix.size());
        for (size_t i = 0; i < ids.size(); ++i)
            ASSERT_EQ(ids[i].named, expected[i].named) << "at " << i;
    }
}
