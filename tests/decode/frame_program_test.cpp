// Frame programs against the frame decoder's walk: for every triggering a random frame
// matches, the records Vexo_decodeNextSignal gives (from the program the index holds)
// equal those of the walk over the frame's PDU instances, filters and text buffers of
// every size included, across model changes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "decoder.h"
#include "filter.h"
#include "random_network.h"
#include "vexo/vexo.h"

namespace {

constexpr uint64_t kSeed = 20240616;

struct Got {
    VexoNode *signal, *instance, *triggering;
    uint64_t raw;
    HRESULT hr;
    std::string text;
    bool operator==(const Got &o) const
    {
        return signal == o.signal && instance == o.instance && triggering == o.triggering && raw == o.raw
               && hr == o.hr && text == o.text;
    }
};

void deliver(void *context, const VexoDecodedSignal &record, HRESULT hr)
{
    static_cast<std::vector<Got> *>(context)->push_back(
        {record.signal, record.signalInstance, record.frameTriggering, record.rawValue, hr,
         hr == S_FALSE ? std::string(record.text, record.textLength) : ""});
}

}  // namespace

TEST(FrameProgram, DecodesWhatTheWalkDecodes)
{
    std::unique_ptr<uint64_t[]> walkState(new uint64_t[(vexo::decode::walkStateSize() + 7) / 8]);
    size_t compared = 0;
    for (uint64_t n = 0; n < 400; ++n) {
        SCOPED_TRACE("seed=" + std::to_string(kSeed) + " network " + std::to_string(n));
        RandomNetwork net(kSeed + n);
        VexoFilter *filter = nullptr;
        if (n % 3 == 2 && !net.signals.empty()) {
            const VexoChar *id = nullptr;
            Vexo_getElementId(net.signals.front(), &id);
            const std::u16string ids = std::u16string(id) + u'\0';
            Vexo_createIdListFilterW(net.db, 0, ids.c_str(), &filter);
        }
        const auto *channel = vexo::core::nodeExactly<vexo::core::Channel>(net.channel);
        for (int round = 0; round < 3; ++round) {
            std::vector<std::vector<uint8_t>> bytes;
            for (const VexoFrame &frame : net.receive(40, bytes)) {
                char text[64], walkText[64];
                const uint32_t capacity = uint32_t(net.below(3) * 3);  // no, small and some text room
                VexoDecodeState *state = nullptr;
                ASSERT_EQ(Vexo_decodeMessage(net.channel, frame.identifier, frame.flags, frame.length, frame.data,
                                             &state),
                          S_OK);
                VexoNode *triggering = nullptr;
                while (Vexo_decodeNextFrametriggering(state, &triggering) == S_OK && triggering != nullptr) {
                    std::vector<Got> got, walked;
                    VexoDecodedSignal record{};
                    record.text = capacity > 0 ? text : nullptr;
                    record.textCapacity = capacity;
                    for (HRESULT hr; (hr = Vexo_decodeNextSignal(state, filter, &record)) >= 0;)
                        deliver(&got, record, hr);
                    VexoDecodedSignal walkRecord{};
                    walkRecord.text = capacity > 0 ? walkText : nullptr;
                    walkRecord.textCapacity = capacity;
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
            }
            net.change();
        }
        Vexo_destroyFilter(filter);
    }
    EXPECT_GT(compared, 20000u);  // enough decoding to mean something
}
