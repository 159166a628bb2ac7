// The node class table: codes that spell their tags and form one consistent tree, and zero-filled nodes.
#include "node_classes.h"

#include <gtest/gtest.h>

#include <string>

#include "database.h"
#include "node_fields.h"
#include "test_db.h"
#include "test_text.h"
#include "vexo/constants.h"
#include "vexo/core.h"

using namespace vexo::core;

TEST(NodeClasses, CodesSpellTheirTagsFormAConsistentTreeAndAllocateZeroFilled)
{
    // A few codes written out; every class's name is checked by the class-acceptance creation rows.
    struct Case { uint32_t code; const char *tag; const char *name; };
    const Case cases[] = {{0x0A0A6C63, "cl", "Cluster"}, {0x07076264, "db", "Vexo"}, {0x25257276, "vr", "ValueRange"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto bytes = reinterpret_cast<const char *>(&c.code);
        EXPECT_EQ(std::string(bytes, 2), c.tag);
        EXPECT_STREQ(className(c.code), c.name);
        EXPECT_EQ(codeOfTag(c.code & 0xFFFF), c.code);
    }
    EXPECT_EQ(className(0x02207264), nullptr);  // DatabaseResident has no name
    EXPECT_STREQ(className(0x01250000), "ObjectBase");
    EXPECT_EQ(std::u16string(classNameWide(0x17177266)), u"Frame");
    EXPECT_EQ(className(0x17170000), nullptr);  // index and end of Frame, wrong tag
    EXPECT_EQ(codeOfTag(0), 0x01250000u);
    EXPECT_EQ(codeOfTag(0x4242), 0u);

    struct Word { uint32_t word; HRESULT valid; int32_t type; };
    // 0x26260000: its subtree end lies above 37; 0x05050000: only index and end are checked.
    const Word words[] = {{0x0A0A6C63, S_OK, 0x6C63}, {0, S_FALSE, -1}, {0x26260000, S_FALSE, -1},
                          {0x05050000, S_OK, 0}, {0xDEADBEEF, S_FALSE, -1}};
    for (const Word &c : words) {
        SCOPED_TRACE(c.word);
        uint32_t buffer[4] = {c.word, 0, 0, 0};
        EXPECT_EQ(Vexo_isValidNode(reinterpret_cast<VexoNode *>(buffer)), c.valid);
        EXPECT_EQ(Vexo_getNodeType(reinterpret_cast<VexoNode *>(buffer)), c.type);
    }
    EXPECT_EQ(Vexo_isValidNode(nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_getNodeType(nullptr), -1);

    // Every class's subtree holds exactly the classes numbered after it up to its end,
    // and each of those derives from it.
    for (uint32_t i = 1; i <= kClassCount; ++i) {
        const uint32_t code = kClassTable[i].code;
        ASSERT_EQ(classIndex(code), i);
        ASSERT_GE(subtreeEnd(code), i);
        for (uint32_t j = 1; j <= kClassCount; ++j) {
            const bool inside = j >= i && j <= subtreeEnd(code);
            EXPECT_EQ(derivesFrom(kClassTable[j].code, code), inside) << i << " " << j;
        }
    }

    struct Pair { const char *what; uint32_t nodeCode; uint32_t klass; int32_t want; };
    const Pair pairs[] = {
        {"SignalPDU is a PDU", SignalPDU::kCode, 0x1E206470, 1},
        {"SignalPDU by its own tag", SignalPDU::kCode, 0x7370, 1},
        {"masked triggering is not transmittable", MaskedIdentifierTriggering::kCode, 0x0C0E6674, 0},
        {"identifier triggering is transmittable", IdentifierBasedTriggering::kCode, 0x0C0E6674, 1},
        {"any node with tag 0", Frame::kCode, 0, 1}, {"unknown tag", Frame::kCode, 0x4242, 0},
        {"channel is an element child", Channel::kCode, 0x05166365, 1},
        {"channel is no element reference", Channel::kCode, Q3_NODETYPE_ElementReference, 0},
        {"frame is no element child", Frame::kCode, 0x05166365, 0},
        {"cyclic timing is no database resident", CyclicTiming::kCode, 0x02207264, 0},
        {"cyclic timing is a timing", CyclicTiming::kCode, 0x21236974, 1},
        {"segment is an object", Segment::kCode, 0x01250000, 1},
        {"value range is no element", ValueRange::kCode, 0x03206469, 0},
        {"database is an element reference", Vexo::kCode, 0x06157265, 1},
    };
    for (const Pair &c : pairs) {
        SCOPED_TRACE(c.what);
        uint32_t word = c.nodeCode;
        EXPECT_EQ(Vexo_isDerivedFrom(reinterpret_cast<VexoNode *>(&word), c.klass), c.want);
    }
    EXPECT_EQ(Vexo_isDerivedFrom(nullptr, 0), 0);

    TestDb db(nullptr);
    for (uint32_t i = 1; i <= kClassCount; ++i) {
        const ClassInfo &info = kClassTable[i];
        if (info.kind != ClassKind::Created)
            continue;
        SCOPED_TRACE(info.name);
        ObjectBase *node = allocateNode(db.database(), info.code);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(codeOf(node), info.code);
        EXPECT_EQ(Vexo_getNodeType(nodeHandle(node)), static_cast<int32_t>(info.code & 0xFFFF));
        const bool resident = derivesFrom(info.code, DatabaseResident::kCode);
        EXPECT_EQ(databaseOf(node), resident ? db.database() : nullptr);
        // Everything after the header words is zero.
        const auto *bytes = reinterpret_cast<const unsigned char *>(node);
        const size_t from = resident ? kFieldTable[1].offset + sizeof(void *) : 4;  // after `database`
        for (size_t b = from; b < info.size; ++b)
            ASSERT_EQ(bytes[b], 0) << "byte " << b;
    }
    auto *timing = allocateNode<CyclicTiming>(db.database());  // a timing's own value follows its class code
    EXPECT_EQ(reinterpret_cast<char *>(&timing->cycleTime) - reinterpret_cast<char *>(timing), 8);
    EXPECT_EQ(allocateNode(db.database(), 0x0B0F0000), nullptr);
}

