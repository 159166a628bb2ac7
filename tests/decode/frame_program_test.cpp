// The triggering index and frame programs against plain walks on random networks changed between decodes: the
// triggerings given equal a walk over the channel's list (written here from the public getters); the records given
// (from the index's program) equal the library's walk over the frame's PDU instances, with filters and text buffers.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "decoder.h"
#include "filter.h"
#include "random_network.h"
#include "vexo/vexo.h"

namespace {

constexpr uint64_t kSeed = 20240616;

// A record as delivered: signal, instance, triggering, raw value, result, text.
using Got = std::tuple<VexoNode *, VexoNode *, VexoNode *, uint64_t, HRESULT, std::string>;

void deliver(void *context, const VexoDecodedSignal &record, HRESULT hr)
{
    static_cast<std::vector<Got> *>(context)->emplace_back(record.signal, record.signalInstance,
        record.frameTriggering, record.rawValue, hr, hr == S_FALSE ? std::string(record.text, record.textLength) : "");
}

// The matching rule, applied to every triggering of the channel in list order.
std::vector<VexoNode *> walkedTriggerings(VexoNode *channel, const VexoFrame &frame)
{
    std::vector<VexoNode *> out;
    VexoEnumerator *list = nullptr;
    EXPECT_EQ(Vexo_enumFrameTriggerings(channel, &list), S_OK);
    VexoNode *triggering = nullptr, *frameNode = nullptr;
    while (Vexo_enumeratorNext(list, 1, &triggering, nullptr) == S_OK) {
        uint32_t identifier = 0, code = 0, mask = 0, flags = 0, length = 0;
        const int32_t type = Vexo_getNodeType(triggering);
        const bool identifierMatches =
            type == Q3_NODETYPE_IdentifierBasedTriggering
                ? Vexo_getIdentifier(triggering, &identifier) >= 0 && identifier == frame.identifier
                : type == Q3_NODETYPE_MaskedIdentifierTriggering && Vexo_getIdentifierCode(triggering, &code) >= 0
                      && Vexo_getIdentifierMask(triggering, &mask) >= 0 && (mask & frame.identifier) == code;
        Vexo_getFlags(triggering, &flags);
        const bool formMatches =
            (flags & Q3_FLAGMASK_CAN_FRAMETYPE) == Q3_FLAG_CANSTD_OR_EXT || ((flags ^ frame.flags) & 1) == 0;
        if (identifierMatches && formMatches && Vexo_getFrame(triggering, &frameNode) == S_OK && frameNode != nullptr
            && Vexo_getLength(frameNode, &length) == S_OK && length == frame.length)
            out.push_back(triggering);
    }
    Vexo_enumeratorDestroy(list);
    return out;
}

}  // namespace

TEST(FrameProgram, IndexAndProgramsDecodeWhatTheWalksDecode)
{
    std::unique_ptr<uint64_t[]> walkState(new uint64_t[(vexo::decode::walkStateSize() + 7) / 8]);
    size_t compared = 0, matches = 0, several = 0;
    for (uint64_t n = 0; n < 400; ++n) {
        SCOPED_TRACE("seed=" + std::to_string(kSeed) + " network " + std::to_string(n));
        RandomNetwork net(kSeed + n);
        VexoFilter *filter = n % 3 == 2 ? net.filter() : nullptr;
        const auto *channel = vexo::core::nodeExactly<vexo::core::Channel>(net.channel);
        for (int round = 0; round < 8; ++round) {
            std::vector<std::vector<uint8_t>> bytes;
            for (const VexoFrame &frame : net.receive(40, bytes)) {
                char text[64], walkText[64];
                const uint32_t capacity = uint32_t(net.below(3) * 3);  // no, small and some text room
                VexoDecodeState *state = nullptr;
                ASSERT_EQ(Vexo_decodeMessage(net.channel, frame.identifier, frame.flags, frame.length, frame.data,
                                             &state), S_OK);
                std::vector<VexoNode *> found;
                VexoNode *triggering = nullptr;
                while (Vexo_decodeNextFrametriggering(state, &triggering) == S_OK && triggering != nullptr) {
                    found.push_back(triggering);
                    std::vector<Got> got, walked;
                    VexoDecodedSignal record{}, walkRecord{};
                    record.text = capacity > 0 ? text : nullptr;
                    walkRecord.text = capacity > 0 ? walkText : nullptr;
                    record.textCapacity = walkRecord.textCapacity = capacity;
                    for (HRESULT hr; (hr = Vexo_decodeNextSignal(state, filter, &record)) >= 0;)
                        deliver(&got, record, hr);
                    vexo::decode::walkFrame(walkState.get(), *channel,
                                            vexo::core::nodeAs<vexo::core::FrameTriggering>(triggering),
                                            vexo::model::filterAs(filter), frame.identifier, frame.flags,
                                            frame.length, frame.data, walkRecord, deliver, &walked);
                    if (frame.data == nullptr)
                        walked.clear();  // the decoder refuses a null data pointer
                    ASSERT_EQ(got, walked) << "identifier " << frame.identifier << ", length " << frame.length;
                    compared += got.size();
                    triggering = nullptr;
                }
                Vexo_destroyDecodeEnum(state);
                ASSERT_EQ(found, walkedTriggerings(net.channel, frame)) << "identifier " << frame.identifier;
                matches += found.size();
                several += found.size() > 1 ? 1 : 0;
            }
            net.change();
        }
        Vexo_destroyFilter(filter);
    }
    EXPECT_GT(compared, 20000u);  // enough decoding to mean something
    EXPECT_GT(matches, 20000u);
    EXPECT_GT(several, 500u);  // identifiers shared by triggerings, masks, duplicates
}
