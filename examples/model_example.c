/* A host program over the public C interface: it builds a small CAN network (one
 * frame with two scaled signals), lets the encoder produce the frame from signal
 * values, then decodes the frame again and prints each signal's physical value. */
#include <stdio.h>

#include "vexo/vexo.h"

#define CHECK(call)                                                        \
    do {                                                                   \
        HRESULT hr_ = (call);                                              \
        if (hr_ < 0) {                                                     \
            fprintf(stderr, "%s failed: 0x%08X\n", #call, (unsigned)hr_); \
            return 1;                                                      \
        }                                                                  \
    } while (0)

/* UTF-16 literals from C99: the library's texts are 16-bit code units. */
static const VexoChar kDbId[] = {'D', 'e', 'm', 'o', 0};
static const VexoChar kCan[] = {'C', 'A', 'N', 0};
static const VexoChar kBus[] = {'B', 'u', 's', 0};
static const VexoChar kFrame[] = {'E', 'n', 'g', 'i', 'n', 'e', 0};
static const VexoChar kTrig[] = {'E', 'n', 'g', 'i', 'n', 'e', '_', 'T', 0};
static const VexoChar kPdu[] = {'E', 'n', 'g', 'i', 'n', 'e', '_', 'P', 0};
static const VexoChar kSpeed[] = {'S', 'p', 'e', 'e', 'd', 0};
static const VexoChar kTemp[] = {'C', 'o', 'o', 'l', 'a', 'n', 't', 0};

static void printText(const VexoChar *text)
{
    for (; text != NULL && *text != 0; ++text)
        putchar(*text < 0x80 ? (char)*text : '?');
}

/* A signal with a 16-bit unsigned coding whose internal-to-physical and physical-to-
 * internal computations are linear: physical = internal * scale + offset. */
static HRESULT makeSignal(VexoNode *db, const VexoChar *id, double scale, double offset, uint32_t bitPosition,
                          VexoNode *pdu, VexoNode **signal)
{
    VexoNode *coding = NULL, *toPhysical = NULL, *toInternal = NULL, *instance = NULL;
    HRESULT hr = Vexo_createCoding(db, NULL, 16, Q3_ENCODING_DIRECT, NULL, &coding);
    if (hr >= 0)
        hr = Vexo_createLinearComputation(db, NULL, scale, offset, &toPhysical);
    if (hr >= 0)
        hr = Vexo_addRange(toPhysical, 0, 65535, Q3_FLAG_LOWERLIMIT_CLOSED | Q3_FLAG_UPPERLIMIT_CLOSED);
    if (hr >= 0)
        hr = Vexo_addInternalToPhysicalComputations(coding, 1, &toPhysical);
    if (hr >= 0)
        hr = Vexo_createLinearComputation(db, NULL, 1.0 / scale, -offset / scale, &toInternal);
    if (hr >= 0) /* computations apply only inside their ranges, on either side */
        hr = Vexo_addRange(toInternal, offset, offset + 65535 * scale,
                           Q3_FLAG_LOWERLIMIT_CLOSED | Q3_FLAG_UPPERLIMIT_CLOSED);
    if (hr >= 0)
        hr = Vexo_addPhysicalToInternalComputations(coding, 1, &toInternal);
    if (hr >= 0)
        hr = Vexo_createSignal(db, id, 0, offset, offset, offset + 65535 * scale, coding, signal);
    if (hr >= 0)
        hr = Vexo_createSignalInstance(db, NULL, Q3_BYTEORDER_LITTLEENDIAN, bitPosition, 0xFFFFFFFFu, *signal, pdu,
                                       &instance);
    return hr;
}

/* The internal value of a physical value, through the signal's first matching
 * physical-to-internal computation. */
static HRESULT toInternal(VexoNode *signal, double physical, uint64_t *internal)
{
    SignalValue value = {Q3_VALUETYPE_DOUBLE, 0, {0}, NULL, NULL};
    VexoEncodeState *state = NULL;
    VexoNode *computation = NULL;
    value.value.f64 = physical;
    HRESULT hr = Vexo_encodeSignal(signal, &value, &state);
    if (hr == S_OK)
        Vexo_encodeNextComputation(state, &computation);
    Vexo_destroyEncodeEnum(state);
    if (hr < 0)
        return hr;
    return Vexo_physicalToInternal(signal, computation, &value, internal);
}

int main(void)
{
    VexoNode *db = NULL, *cluster = NULL, *channel = NULL, *frame = NULL, *triggering = NULL, *pdu = NULL;
    VexoNode *pduInstance = NULL, *speed = NULL, *temp = NULL;
    CHECK(Vexo_create(kDbId, &db));
    CHECK(Vexo_createCluster(db, kCan, Q3_CLUSTERTYPE_CAN, &cluster));
    CHECK(Vexo_createChannel(db, kBus, cluster, &channel));
    CHECK(Vexo_createFrame(db, kFrame, 8, &frame));
    CHECK(Vexo_createIdentifierBasedTriggering(db, kTrig, 0x123, Q3_FLAG_CANSTANDARD, frame, NULL, channel,
                                               &triggering));
    CHECK(Vexo_createSignalPDU(db, kPdu, 64, NULL, &pdu));
    CHECK(Vexo_createPDUInstance(db, NULL, Q3_BYTEORDER_LITTLEENDIAN, 0, 0xFFFFFFFFu, pdu, frame, &pduInstance));
    CHECK(makeSignal(db, kSpeed, 0.01, 0, 0, pdu, &speed));
    CHECK(makeSignal(db, kTemp, 0.1, -40, 16, pdu, &temp));

    /* Encode: the encoder keeps an image of every frame of the channel. */
    VexoEncoder *encoder = NULL;
    uint32_t app = 0;
    uint64_t speedRaw = 0, tempRaw = 0;
    Vexo_CreateEncoder(db, channel, &encoder);
    if (encoder == NULL) {
        fprintf(stderr, "cannot create the encoder\n");
        return 1;
    }
    CHECK(Vexo_EncoderRegister(encoder, &app));
    CHECK(Vexo_EncoderSetSendMode(encoder, app, Q3_ENC_MODE_PERIODIC));
    CHECK(Vexo_EncoderInsert(encoder, app, triggering));
    CHECK(toInternal(speed, 88.5, &speedRaw));
    CHECK(toInternal(temp, 92.0, &tempRaw));
    CHECK(Vexo_EncoderChangeSignal(encoder, app, speed, speedRaw));
    CHECK(Vexo_EncoderChangeSignal(encoder, app, temp, tempRaw));
    CHECK(Vexo_EncoderTrigger(encoder, 0, 0));
    VexoChangedFrame changed;
    if (Vexo_EncoderGetChangedFrame(encoder, &changed) != S_OK) {
        fprintf(stderr, "the encoder produced no frame\n");
        return 1;
    }
    uint8_t data[8];
    printf("frame 0x123 [%u]:", (unsigned)changed.length);
    for (uint32_t i = 0; i < changed.length && i < sizeof data; ++i) {
        data[i] = changed.data[i];
        printf(" %02X", data[i]);
    }
    printf("\n");

    /* Decode the frame as if it had just been received: step through the matching
     * triggerings and, for each, through its signals. */
    VexoDecodeState *state = NULL;
    VexoDecodedSignal decoded = {0};
    CHECK(Vexo_decodeMessage(channel, 0x123, Q3_FLAG_CANSTANDARD, changed.length, data, &state));
    HRESULT step = Vexo_decodeNextFrametriggering(state, NULL);
    while (step >= 0) {
        if (Vexo_decodeNextSignal(state, NULL, &decoded) < 0) {
            step = Vexo_decodeNextFrametriggering(state, NULL);
            continue;
        }
        SignalValue physical;
        const VexoChar *name = NULL;
        Vexo_internalToPhysical(decoded.signal, decoded.rawValue, &physical);
        Vexo_getShortName(db, decoded.signal, &name);
        printText(name);
        printf(" = %.2f (raw %llu)\n", physical.value.f64, (unsigned long long)decoded.rawValue);
    }
    Vexo_destroyDecodeEnum(state);
    Vexo_DestroyEncoder(encoder);
    Vexo_destroy(db);
    return 0;
}
