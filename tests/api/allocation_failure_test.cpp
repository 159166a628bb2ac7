// The shared library as a host sees it: failing the n-th allocation for every n through the exported hook while a small
// model is built. Each run either completes or stops at an E_OUTOFMEMORY, and the database can still be walked and
// destroyed (the leak checker of the sanitizer build sees the rest).
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "vexo/testing.h"
#include "vexo/vexo.h"

namespace {

// The database (or null) and the first failure of a step.
struct Built { VexoNode *db = nullptr; HRESULT failure = S_OK; };

Built build()
{
    Built out;
    VexoNode *&db = out.db, *cluster = nullptr, *channel = nullptr, *frame = nullptr, *triggering = nullptr;
    VexoNode *pdu = nullptr, *instance = nullptr, *coding = nullptr, *signal = nullptr, *placed = nullptr;
    VexoNode *text = nullptr, *timing = nullptr;
    VexoStringSlot *slot = nullptr;
    const std::vector<std::function<HRESULT()>> steps = {
        [&] { return Vexo_create(u"DB", &db); }, [&] { return Vexo_createCluster(db, u"CAN", 1, &cluster); },
        [&] { return Vexo_createChannel(db, u"CH", cluster, &channel); },
        [&] { return Vexo_createFrame(db, u"F", 8, &frame); },
        [&] { return Vexo_createIdentifierBasedTriggering(db, u"T", 0x10, 0, frame, nullptr, channel, &triggering); },
        [&] { return Vexo_createSignalPDU(db, u"P", 64, nullptr, &pdu); },
        [&] { return Vexo_createPDUInstance(db, u"PI", 0, 0, 0, pdu, frame, &instance); },
        [&] { return Vexo_createCoding(db, u"C", 8, Q3_ENCODING_DIRECT, nullptr, &coding); },
        [&] { return Vexo_createSignal(db, u"S", 0, 0, 0, 0, coding, &signal); },
        [&] { return Vexo_createSignalInstance(db, u"SI", 0, 0, 0, signal, pdu, &placed); },
        [&] { return Vexo_stringCreateSlot(db, 9, u"Off", &slot); },
        [&] { return Vexo_createMappedTextComputation(db, u"M", slot, &text); },
        [&] { return Vexo_addRange(text, 0, 0, 3); },
        [&] { return Vexo_createCyclicTiming(db, 100, triggering, &timing); },
        [&] { return Vexo_setLongName(db, signal, 9, u"Speed"); },
    };
    for (size_t i = 0; i < steps.size() && out.failure == S_OK; ++i)
        out.failure = steps[i]();
    return out;
}

void expectWalkableThenDestroy(VexoNode *db)
{
    VexoEnumerator *e = nullptr;
    ASSERT_EQ(Vexo_enumIdentElements(db, &e), S_OK);
    VexoNode *node = nullptr;
    while (Vexo_enumeratorNext(e, 1, &node, nullptr) == S_OK)
        EXPECT_GE(Vexo_getNodeType(node), 0);
    EXPECT_EQ(Vexo_enumeratorDestroy(e), S_OK);
    EXPECT_EQ(Vexo_destroy(db), S_OK);
}

TEST(AllocationFailure, EveryFailedAllocationIsReportedAndLeavesAWalkableDatabase)
{
    bool completed = false;
    for (uint32_t n = 1; n < 400 && !completed; ++n) {
        Vexo_failAllocationAfter(n);
        const Built built = build();
        Vexo_failAllocationAfter(0);
        completed = built.failure == S_OK;
        EXPECT_TRUE(completed || built.failure == E_OUTOFMEMORY) << "n " << n << ": result " << built.failure;
        if (built.db != nullptr)
            expectWalkableThenDestroy(built.db);
    }
    EXPECT_TRUE(completed) << "the model needs fewer allocations than the loop tries";
}

}  // namespace

// The import path: the script state, the reader's table and the model all count. Every
// run that hits a failure ends with an error result; the database stays walkable.
TEST(AllocationFailure, FailedImportsEndWithAnErrorAndAWalkableDatabase)
{
    const std::string folder = std::string(VEXO_BINARY_DIR) + "/tests/";
    const struct { const char *name, *text; } files[] = {
        {"alloc.dbc", "VERSION \"\"\nBU_: A B\nBO_ 256 F: 8 A\n SG_ S M : 0|8@1+ (1,0) [0|0] \"\" B\n"
                      " SG_ T m1 : 8|8@1- (0.5,-1) [0|100] \"km/h\" B\nVAL_ 256 S 1 \"one\" ;\n"
                      "BA_DEF_ BO_ \"GenMsgCycleTime\" INT 0 1000;\nBA_ \"GenMsgCycleTime\" BO_ 256 10;\n"},
        {"alloc.ldf", "LIN_description_file;\nLIN_protocol_version = \"2.1\";\nLIN_language_version = \"2.1\";\n"
                      "LIN_speed = 19.2 kbps;\nNodes { Master: M, 5 ms, 0.1 ms; Slaves: S; }\n"
                      "Signals { X: 8, 0, S, M; }\nFrames { F: 0x10, S, 1 { X, 0; } }\n"
                      "Node_attributes { S { LIN_protocol = \"2.1\"; configured_NAD = 1; } }\n"
                      "Schedule_tables { T { F delay 10 ms; } }\n"},
    };
    for (const auto &file : files) {
        SCOPED_TRACE(file.name);
        const std::string path = folder + file.name;
        ASSERT_TRUE(std::ofstream(path, std::ios::binary) << file.text);
        const std::u16string widePath(path.begin(), path.end());
        bool completed = false;
        for (uint32_t n = 1; !completed; ++n) {
            ASSERT_LT(n, 200000u) << "the import never completes";
            VexoNode *db = nullptr;
            ASSERT_EQ(Vexo_create(u"DB", &db), S_OK);
            Vexo_failAllocationAfter(n);
            const HRESULT hr = Vexo_importFile(db, nullptr, widePath.c_str(), nullptr, nullptr, nullptr);
            Vexo_failAllocationAfter(0);
            completed = hr == S_OK;
            if (!completed && hr != E_FAIL && hr != E_OUTOFMEMORY)
                ADD_FAILURE() << "n " << n << ": result " << hr;
            expectWalkableThenDestroy(db);
        }
    }
}
