// The database object: element identifiers (unique, qualified, found among thousands inserted in any order),
// groups filled in order or by identifier, and the default groups, also when memory runs out.
#include "database.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "made.h"
#include "test_db.h"
#include "test_text.h"
#include "vexo/constants.h"
#include "vexo/core.h"

using namespace vexo::core;

namespace {

// The text of a returned string, which is freed; "<null>" for none.
std::u16string take(VexoString s)
{
    const std::u16string text = s != nullptr ? std::u16string(s, Vexo_getStringLength(s)) : u"<null>";
    Vexo_freeString(s);
    return text;
}

// What a search by identifier answers: the node, or "none" for S_FALSE with the out pointer left alone.
VexoNode *const kNone = nodeHandle(&kNone);
VexoNode *found(HRESULT (*find)(VexoNode *, const VexoChar *, VexoNode **), VexoNode *in, const VexoChar *id)
{
    VexoNode *out = kNone;
    const HRESULT hr = find(in, id, &out);
    EXPECT_TRUE(hr == S_OK ? out != kNone : hr == S_FALSE && out == kNone) << std::hex << hr;
    return out;
}
VexoNode *found(VexoNode *db, const VexoChar *id) { return found(Vexo_findByElementId, db, id); }

}  // namespace

TEST(Database, IdentifiersAreUniqueQualifiedAndFoundAmongMany)
{
    TestDb db(nullptr);
    Frame *first = db.make<Frame>(u"F"), *second = allocateNode<Frame>(db.database());
    EXPECT_EQ(setElementId(db.database(), second, u"F"), S_OK);
    EXPECT_EQ(second->eid, first->eid);  // interned once
    EXPECT_EQ(setElementId(db.database(), second, u"G"), E_UNEXPECTED);
    EXPECT_EQ(found(db.handle, u"F"), nodeHandle(first));
    EXPECT_EQ(found(db.handle, u"f"), kNone) << "no case folding";
    EXPECT_EQ(setElementId(db.database(), allocateNode<CyclicTiming>(db.database()), u"T"), E_INVALIDARG);

    TestDb named(u"DB1"), unnamed(nullptr);
    Frame *sig = named.make<Frame>(u"Sig"), *anonymous = allocateNode<Frame>(named.database());
    Frame *other = unnamed.make<Frame>(u"Sig");
    VexoString s = nullptr;
    for (const auto &[db, node, want] : {std::tuple{&named, sig, u"DB1::Sig"}, {&named, anonymous, u"DB1::"},
                                         {&unnamed, other, u"Sig"}}) {
        ASSERT_EQ(Vexo_getQualifiedId(db->handle, nodeHandle(node), &s), S_OK);
        EXPECT_EQ(take(s), want);
    }
    VexoNode *timing = nodeHandle(allocateNode<CyclicTiming>(named.database()));
    EXPECT_EQ(Vexo_getQualifiedId(named.handle, timing, &s), E_INVALIDARG);

    struct Case { const char16_t *text; const char16_t *db; const char16_t *element; };
    const Case cases[] = {
        {u"X::Y::Z", u"X", u"Y::Z"}, {u"Sig", nullptr, u"Sig"}, {u"::Sig", nullptr, u"Sig"},
        {u"DB::", u"DB", u""},       {u"", nullptr, u""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(ascii(c.text));
        VexoString dbPart = nullptr, elementPart = nullptr;
        ASSERT_EQ(Vexo_splitQualifiedId(c.text, &dbPart, &elementPart), S_OK);
        EXPECT_EQ(take(dbPart), c.db != nullptr ? c.db : u"<null>");
        EXPECT_EQ(take(elementPart), c.element);
    }
    VexoString dbPart = nullptr;
    EXPECT_EQ(Vexo_splitQualifiedId(u"Sig", &dbPart, nullptr), E_INVALIDARG);  // nothing to write
    EXPECT_EQ(Vexo_splitQualifiedId(u"A::B", nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_splitQualifiedId(nullptr, &dbPart, nullptr), E_INVALIDARG);

    // Identifiers under a long common prefix, some the beginning of others, inserted
    // scattered, a few places apart, and a frame's eight at a time backwards; each one
    // given to a second element too (at once, or after all of them), which the list does
    // not take again. Every named element joins "@frames" at once; the second elements
    // of every third id do too. One at a time, and in a batch flushed every few dozen
    // names or only at its close: the same root group and "@frames" either way.
    const auto scattered = [](int i) { return (i * 7919) % 5000; };
    const auto fewApart = [](int i) { return (i * 37) % 5000; };
    const auto backwards = [](int i) { return (i / 8 * 331) % 625 * 8 + 7 - i % 8; };
    for (int (*order)(int) : {+scattered, +fewApart, +backwards}) {
        std::vector<std::vector<int>> listings;  // the frames' places in both groups, by position
        // one at a time; batched; batched, repeats later; batched, one flush
        for (const int way : {0, 1, 2, 3}) {
            TestDb many(nullptr);
            if (way > 0) {
                ASSERT_EQ(openIdBatch(many.database()), S_OK);
            }
            std::vector<Frame *> frames;
            const auto makeFrame = [&](const VexoChar *id, bool joins) {
                Frame *frame = many.make<Frame>(id);
                VexoNode *node = nodeHandle(frame);
                ElementGroup *group = many.collections()->frames;
                if (joins) {
                    EXPECT_EQ(insertIntoGroup(&node, 1, kSmallNodeLayout, many.database(), Frame::kCode, group,
                                              &group->children),
                              S_OK);
                }
                return frame;
            };
            for (int i = 0; i < 5000; ++i) {
                const int k = order(i);
                const std::u16string frame = numbered(u"a_database_name/frame/F", k / 8);
                const std::u16string id = k % 8 == 0 ? frame : numbered((frame + u"/signal/S").c_str(), k % 8);
                frames.push_back(makeFrame(id.c_str(), true));
                if (way < 2) {
                    makeFrame(id.c_str(), i % 3 == 0);
                }
                if ((way == 1 || way == 2) && i % 37 == 36) {
                    EXPECT_EQ(flushIdBatch(many.database()), S_OK);
                }
            }
            for (int i = 0; way == 2 && i < 5000; ++i)
                makeFrame(frames[i]->eid, i % 3 == 0);
            EXPECT_EQ(closeIdBatch(many.database()), way > 0 ? S_OK : S_FALSE);
            for (Frame *frame : frames)
                ASSERT_EQ(found(many.handle, frame->eid), nodeHandle(frame));
            const std::vector<std::u16string> listed = idsOf(many.collections()->identElements->children);
            EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end()));
            EXPECT_EQ(listed.size(), 5000u + 7);  // and the default groups
            std::vector<int> places;
            for (const NodeList *group : {&many.collections()->identElements->children,
                                          &many.collections()->frames->children}) {
                for (void *entry : entries(*group)) {
                    const auto at = std::find(frames.begin(), frames.end(), entry);
                    places.push_back(at == frames.end() ? -1 : int(at - frames.begin()));
                }
            }
            EXPECT_EQ(places.size(), 2 * 5000u + 7);
            listings.push_back(places);
        }
        for (int way : {1, 2, 3})
            EXPECT_EQ(listings[0], listings[way]) << way;
    }
}

TEST(Database, GroupsAreCreatedCheckedAndFilledInOrderAndForeignPointersRefused)
{
    TestDb db(nullptr);
    Frame *z = db.make<Frame>(u"Z"), *x = db.make<Frame>(u"X"), *y = db.make<Frame>(u"Y");
    Frame *unnamed = allocateNode<Frame>(db.database());
    auto *timing = allocateNode<CyclicTiming>(db.database());
    VexoNode *nodes[] = {nodeHandle(z),      nodeHandle(x), nullptr,      nodeHandle(unnamed),
                         nodeHandle(timing), nodeHandle(y), nodeHandle(x)};
    VexoNode *sorted = made(Vexo_createElementGroup, db.handle, u"sorted", nullptr, nullptr);
    VexoNode *appended = made(Vexo_createElementGroup, db.handle, u"appended", nullptr, nullptr);
    ASSERT_EQ(Vexo_insertChildren(sorted, 7, nodes), S_OK);
    EXPECT_EQ(idsOf(nodeAs<ElementGroup>(sorted)->children),
              (std::vector<std::u16string>{u"X", u"Y", u"Z", u"<none>"}));  // the timing goes last
    EXPECT_EQ(x->group, nodeAs<ElementGroup>(sorted));
    EXPECT_EQ(unnamed->group, nullptr);
    ASSERT_EQ(Vexo_appendChildren(appended, 7, nodes), S_OK);
    EXPECT_EQ(idsOf(nodeAs<ElementGroup>(appended)->children),
              (std::vector<std::u16string>{u"Z", u"X", u"<none>", u"<none>", u"Y", u"X"}));
    EXPECT_EQ(x->group, nodeAs<ElementGroup>(appended));
    EXPECT_EQ(found(Vexo_findChildByElementId, sorted, u"Y"), nodeHandle(y));
    EXPECT_EQ(found(Vexo_findChildByElementId, sorted, u"W"), kNone);
    EXPECT_EQ(Vexo_appendChildren(sorted, 0, nullptr), E_POINTER);
    EXPECT_EQ(Vexo_insertChildren(nodeHandle(z), 1, nodes), E_INVALIDARG);

    // Group creation checks its arguments in order: an out pointer, a database, a reference, a parent.
    VexoNode *group = nullptr;
    EXPECT_EQ(Vexo_createElementGroup(db.handle, u"g", nullptr, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(Vexo_createElementGroup(nodeHandle(z), u"g", nullptr, nullptr, &group), E_INVALIDARG);
    EXPECT_EQ(Vexo_createElementGroup(db.handle, u"g", nullptr, nodeHandle(timing), &group), E_INVALIDARG);
    EXPECT_EQ(group, nullptr);
    EXPECT_EQ(Vexo_createElementGroup(db.handle, u"g", nodeHandle(z), nodeHandle(z), &group), E_INVALIDARG);
    ASSERT_NE(group, nullptr);  // created and stored before the parent was refused
    EXPECT_EQ(nodeAs<ElementGroup>(group)->reference, z);
    EXPECT_EQ(found(db.handle, u"g"), group);

    VexoNode *collections = nullptr, *again = nullptr;
    ASSERT_EQ(Vexo_getDatabaseCollections(db.handle, &collections), S_OK);
    EXPECT_EQ(Vexo_getDatabaseCollections(collections, &again), S_OK);
    EXPECT_EQ(again, collections);
    EXPECT_EQ(Vexo_getDatabaseCollections(nodeHandle(z), &again), E_INVALIDARG);
    EXPECT_EQ(Vexo_getDatabaseCollections(db.handle, nullptr), E_POINTER);
    EXPECT_EQ(Vexo_getDatabaseCollections(nullptr, &again), E_POINTER);
    EXPECT_EQ(Vexo_destroy(nodeHandle(z)), E_INVALIDARG);
    EXPECT_EQ(found(db.handle, u"Z"), nodeHandle(z)) << "still alive";
    // forged: the index and end of Frame, but no such code.
    uint32_t zero[16] = {}, forged[16] = {0x17170000}, slotLike[16] = {0x544F4C53};
    for (uint32_t *raw : {zero, forged, slotLike})
        EXPECT_EQ(Vexo_destroy(reinterpret_cast<VexoNode *>(raw)), E_INVALIDARG) << raw[0];
    // The other functions take their database through the same check.
    auto *foreign = reinterpret_cast<VexoNode *>(forged);
    VexoNode *out = nullptr;
    VexoString text = nullptr;
    VexoStringSlot *slot = nullptr;
    const VexoChar *found = nullptr;
    EXPECT_EQ(Vexo_getDatabaseCollections(foreign, &out), E_INVALIDARG);
    EXPECT_EQ(Vexo_findByElementId(foreign, u"x", &out), E_INVALIDARG);
    EXPECT_EQ(Vexo_findChildByElementId(foreign, u"x", &out), E_INVALIDARG);
    EXPECT_EQ(Vexo_createElementGroup(foreign, u"x", nullptr, nullptr, &out), E_INVALIDARG);
    EXPECT_EQ(Vexo_appendChildren(foreign, 1, &out), E_INVALIDARG);
    EXPECT_EQ(Vexo_insertChildren(foreign, 1, &out), E_INVALIDARG);
    EXPECT_EQ(Vexo_getQualifiedId(foreign, foreign, &text), E_INVALIDARG);
    EXPECT_EQ(Vexo_stringCreateSlot(foreign, 1, u"x", &slot), E_INVALIDARG);
    EXPECT_EQ(Vexo_stringCreateSlotA(foreign, 1, "x", &slot), E_INVALIDARG);
    EXPECT_EQ(Vexo_stringLookup(foreign, nullptr, 1, 1, &found), E_INVALIDARG);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(slot, nullptr);
    VexoNode *skipping = made(Vexo_createElementGroup, db.handle, u"s", nullptr, nullptr);
    VexoNode *entries[] = {reinterpret_cast<VexoNode *>(zero), reinterpret_cast<VexoNode *>(forged)};
    EXPECT_EQ(Vexo_appendChildren(skipping, 2, entries), S_OK);  // skipped silently
    EXPECT_EQ(Vexo_insertChildren(skipping, 2, entries), S_OK);
    EXPECT_EQ(count(&nodeAs<ElementGroup>(skipping)->children), 0u);
}

// Fails the n-th allocation of a database's life for every n until creation succeeds (the sanitizer
// build shows that nothing leaks on any of the paths); the database made has its default groups.
TEST(Database, CreatesDefaultGroupsInOrderOrNothingWhenOutOfMemory)
{
    VexoNode *db = nullptr;
    for (uint32_t n = 1; db == nullptr; ++n) {
        SCOPED_TRACE(n);
        VexoNode *out = reinterpret_cast<VexoNode *>(0x1);
        failAllocationAfter(n);
        const HRESULT hr = Vexo_create(u"DB1", &out);
        failAllocationAfter(0);
        if (hr == S_OK) {
            db = out;
        } else {
            EXPECT_EQ(hr, E_OUTOFMEMORY);
            EXPECT_EQ(out, reinterpret_cast<VexoNode *>(0x1));
        }
    }
    DatabaseCollections *collections = nullptr;
    ASSERT_EQ(collectionsOf(db, &collections), S_OK);
    EXPECT_EQ(idsOf(collections->children),
              (std::vector<std::u16string>{u"@clusters", u"@ECUs", u"@PDUs", u"@frames", u"@signals", u"@codings",
                                           u"@views"}));
    // The root group is ordered by code units: upper-case letters before lower-case ones.
    EXPECT_EQ(idsOf(collections->identElements->children),
              (std::vector<std::u16string>{u"@ECUs", u"@PDUs", u"@clusters", u"@codings", u"@frames", u"@signals",
                                           u"@views", u"DB1"}));
    EXPECT_EQ(collections->identElements->eid, nullptr);
    EXPECT_EQ(collections->signals->group, static_cast<ElementGroup *>(collections));
    EXPECT_EQ(found(db, Q3_GROUPNAME_SIGNALS), nodeHandle(collections->signals));
    EXPECT_EQ(found(db, u"DB1"), db);
    EXPECT_EQ(Vexo_destroy(db), S_OK);
}

