/* Vexo batch decoding: many received frames of one channel decoded in one call into
 * records of signal values, from a plan compiled from the channel's model.
 *
 * A plan holds, per identifier, the frame triggerings that may match, and per frame
 * the extraction of every signal instance (byte order, position, mask, sign) and its
 * conversion to the physical value. Decoding with it gives exactly what the frame
 * decoder and Vexo_internalToPhysical give for the same frames, in the same order:
 * every matching frame triggering in the channel's order, then the channel's own PDU
 * instances; static parts before the selected dynamic part; the same values, value
 * types, computations and texts.
 *
 * Plans and the model: a plan is built from the model as it stands and remembers the
 * database's count of changes (every creation, link, list entry, setter, range and
 * segment counts). Once the model has changed, Vexo_decodeFrames refuses the plan with
 * VEXO_E_STALEPLAN until Vexo_rebuildDecodePlan has compiled it again: a plan is never
 * used stale. Building a plan reads the model (and, like other text lookups, writes the
 * string table's caches); decoding with a current plan only reads it, so several
 * threads may decode with one plan at once while nobody changes the model. Destroy
 * plans before their database. */
#ifndef VEXO_BATCH_H
#define VEXO_BATCH_H

#include "vexo/types.h"
#include "vexo/convert.h"
#include "vexo/enumerate.h"

/* The model changed since the plan was built; rebuild it. */
#define VEXO_E_STALEPLAN ((HRESULT)0x8007139F)

typedef struct VexoDecodePlan VexoDecodePlan;

/* One received frame.
 *   identifier  the frame's identifier
 *   flags       Q3_FLAG_CANEXTENDED (bit 0) for a 29-bit extended identifier
 *   length      number of data bytes; no field is read beyond them
 *   reserved    write 0
 *   data        the data bytes; null gives the frame's FRAME records without
 *               signals, as Vexo_decodeNextSignal refuses a null data pointer */
typedef struct VexoFrame {
    uint32_t identifier;
    uint32_t flags;
    uint32_t length;
    uint32_t reserved;
    const uint8_t *data;
} VexoFrame;

/* Kinds of records. */
#define VEXO_RECORD_SIGNAL  0 /* a numeric signal instance and its physical value */
#define VEXO_RECORD_TEXT    1 /* an ASCII signal instance and its text */
#define VEXO_RECORD_FRAME   2 /* a frame triggering that matched; its signals follow */
#define VEXO_RECORD_UNKNOWN 3 /* no frame triggering of the channel matched the frame */

/* One record of a decoded batch. Each frame gives, in order: a FRAME record for each
 * frame triggering that matches it, followed by that frame's SIGNAL and TEXT records
 * (a FRAME record comes even when the plan's filter leaves none); an UNKNOWN record
 * when none matches; then, when the channel has PDU instances of its own, a FRAME
 * record with a null triggering followed by their signals. Fields a kind does not use
 * are 0 (null).
 *   kind             VEXO_RECORD_...
 *   frameIndex       index of the frame in the batch
 *   frameTriggering  FRAME: the triggering that matched (null for the channel's own
 *                    PDU instances); SIGNAL and TEXT: that of the FRAME record before
 *   signal           SIGNAL and TEXT: the Signal
 *   signalInstance   SIGNAL and TEXT: the SignalInstance
 *   rawValue         SIGNAL: the field's bits, least significant bit first,
 *                    zero-extended (as Vexo_decodeNextSignal gives them)
 *   value            SIGNAL: the physical value, the computation that last produced it
 *                    and the string slot of a mapped text computation, exactly as
 *                    Vexo_internalToPhysical gives them for rawValue
 *   valueText        SIGNAL: the text of value.text (the value description) in the
 *                    plan's language, else in the language the slot was made with;
 *                    owned by the database; null when there is none
 *   status           SIGNAL: what Vexo_internalToPhysical returns: S_OK, S_FALSE when
 *                    no computation applied (value holds the decoded raw value), or
 *                    E_UNEXPECTED when the encoding cannot be decoded (value is then
 *                    not meaningful)
 *   textLength       TEXT: bytes of the signal's text (its bit length / 8)
 *   text             TEXT: those bytes, in the caller's text buffer (not terminated) */
typedef struct VexoBatchRecord {
    uint32_t kind;
    uint32_t frameIndex;
    VexoNode *frameTriggering;
    VexoNode *signal;
    VexoNode *signalInstance;
    uint64_t rawValue;
    SignalValue value;
    const VexoChar *valueText;
    HRESULT status;
    uint32_t textLength;
    const char *text;
} VexoBatchRecord;

/* What one call of Vexo_decodeFrames did.
 *   frames     frames decoded (their records are all written)
 *   records    records written
 *   textBytes  bytes written to the text buffer */
typedef struct VexoBatchCount {
    uint32_t frames;
    uint32_t records;
    uint32_t textBytes;
    uint32_t reserved;
} VexoBatchCount;

/* ---- Plans ------------------------------------------------------------------ */
/* Compiles a plan for decoding the frames of a channel.
 *   channel   the Channel
 *   filter    a node filter, or null for all signals: a signal instance is decoded
 *             when the filter selects its signal or else the instance itself (as
 *             Vexo_decodeNextSignal asks it); asked once per instance when the plan
 *             is built, so it must stay alive while the plan may be rebuilt
 *   language  the language of the value description texts (valueText); a slot
 *             without a text in it gives the text it was made with
 *   plan      receives the plan, owned by the caller (Vexo_destroyDecodePlan)
 * Returns S_OK; E_INVALIDARG (nothing written) for a null plan pointer, a channel
 * that is no Channel or a filter that is no filter; E_OUTOFMEMORY. */
VEXO_API HRESULT Vexo_createDecodePlan(const VexoNode *channel, const VexoFilter *filter, uint32_t language,
                                       VexoDecodePlan **plan);

/* Compiles a plan again from the model as it now stands (same channel, filter and
 * language). No other call may use the plan meanwhile.
 * Returns S_OK; E_INVALIDARG for a null or foreign plan; E_OUTOFMEMORY (the plan
 * then stays stale: Vexo_decodeFrames refuses it). */
VEXO_API HRESULT Vexo_rebuildDecodePlan(VexoDecodePlan *plan);

/* Tells whether a plan matches the model as it now stands.
 * Returns S_OK when it does; S_FALSE when the model changed since it was built (or
 * its last rebuild failed); E_INVALIDARG for a null or foreign plan. */
VEXO_API HRESULT Vexo_isDecodePlanCurrent(const VexoDecodePlan *plan);

/* Releases a plan; the handle is invalid afterwards.
 * Returns S_OK (also for null); E_INVALIDARG (nothing released) for a foreign
 * handle. */
VEXO_API HRESULT Vexo_destroyDecodePlan(VexoDecodePlan *plan);

/* ---- Decoding --------------------------------------------------------------- */
/* Decodes frames, in order, into records until the frames or the room run out. A
 * frame's records are written whole or not at all.
 *   plan          a current plan
 *   frames        the frames; count of them
 *   records       receives the records; capacity of them
 *   text          receives the bytes of ASCII signals, which TEXT records point
 *                 into; textCapacity bytes (may be null with 0 when no ASCII signal
 *                 is expected: a frame with one then does not fit). A TEXT record
 *                 needs (bit length + 7) / 8 bytes of room.
 *   done          receives how many frames, records and text bytes were done
 * Returns S_OK when every frame was decoded; S_FALSE when the records or the text
 * ran out first (done->frames tells where to go on; a frame that fits no empty
 * buffer of the given size is never decoded); VEXO_E_STALEPLAN (nothing written)
 * when the model changed since the plan was built; E_INVALIDARG (nothing written)
 * for a null or foreign plan, a null done, or null frames, records or text with a
 * count or capacity above 0. */
VEXO_API HRESULT Vexo_decodeFrames(const VexoDecodePlan *plan, const VexoFrame *frames, uint32_t count,
                                   VexoBatchRecord *records, uint32_t capacity, char *text, uint32_t textCapacity,
                                   VexoBatchCount *done);

#endif
