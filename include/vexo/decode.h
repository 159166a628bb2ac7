/* Vexo frame decoding: from one received frame to the raw field content of every
 * signal instance the model places in it. A decode state walks the frame
 * triggerings of a channel that match the frame, then the PDUs of each match
 * (multiplexed PDUs with their parts and segments included), one signal instance
 * per call; the walk never allocates. Vexo_internalToPhysical turns the raw
 * values into physical ones.
 *
 * Calling order: Vexo_decodeMessage, one Vexo_decodeNextFrametriggering, then
 * repeat: Vexo_decodeNextSignal; on S_OK or S_FALSE use the record; on a
 * negative code call Vexo_decodeNextFrametriggering and stop when that returns
 * a negative code. Release a state the library allocated with
 * Vexo_destroyDecodeEnum. The model must not change during a decode. The
 * triggerings of a channel are found through an index by identifier, built on the
 * first decode after a change of the model; threads with their own states may
 * decode one unchanging model at once.
 *
 * Matching: an IdentifierBasedTriggering matches when its identifier equals the
 * frame's, a MaskedIdentifierTriggering when mask AND identifier equals its
 * code; unless the triggering's flags AND Q3_FLAGMASK_CAN_FRAMETYPE are
 * Q3_FLAG_CANSTD_OR_EXT, bit 0 of its flags (Q3_FLAG_CANEXTENDED) must equal
 * bit 0 of the frame's; its frame's length must equal the data length exactly.
 * Other triggering classes never match. When the matches run out, the
 * channel's own PDU instances are decoded against the same data.
 *
 * Layout: a PDU instance's bit position shifts the switch and the segments of a
 * multiplexed PDU, never the signal instances of a signal PDU, which count from
 * bit 0 of the data. A multiplexed PDU yields its static part first, then the
 * dynamic part its switch selects, or else its else part. A part with segments
 * is assembled from them, in order, into a buffer of 1024 bytes (bits beyond it
 * are dropped); its signals count from bit 0 of that buffer and may lie anywhere
 * in it: bits that no segment wrote read as 0. A part without segments reads the
 * bytes of the PDU that holds it.
 *
 * Identifier bits: a switch or segment whose absolute start bit p is negative
 * reads the identifier word at bit p + 32: the identifier shifted so that its
 * most significant bit is bit 31 (identifier << 21 for a standard identifier,
 * << 3 for an extended one), so bit -1 is the identifier's top bit. A start bit
 * below -32 reads nothing: a switch reads 0, a segment leaves its bits 0.
 *
 * Fields outside the data: no field is ever read beyond the data length given
 * (nor beyond the identifier word or the 1024-byte assembly). Bits of a switch or
 * a segment that lie outside read as 0. A signal instance whose field does not
 * lie wholly inside the bytes it is addressed in (the data, or the assembly of
 * its part) is skipped, as are instances without a signal, a signal without a
 * coding and a negative bit position: each is skipped alone, the instances after
 * it are still decoded. Multiplexed PDUs nest at most 64 levels deep (a frame's
 * PDU and 63 parts, siblings waiting their turn included); a part beyond that, or
 * one whose PDU already encloses it (a cycle), is not decoded. Parts of one
 * multiplexed PDU may share a PDU: each is decoded. */
#ifndef VEXO_DECODE_H
#define VEXO_DECODE_H

#include "vexo/types.h"
#include "vexo/enumerate.h"

/* A decode state: one block that holds the whole walk. The library allocates
 * one on request, or a caller supplies its own block of
 * Vexo_getDecodeStateSize() bytes, aligned to 8 bytes (malloc and Lua userdata
 * blocks are); the library never frees a caller's block. */
typedef struct VexoDecodeState VexoDecodeState;

/* One decoded signal instance.
 *   rawValue        the field's bits, least significant bit first, zero-extended
 *                   (numeric signals; 0 for ASCII ones)
 *   frameTriggering the triggering that carried the frame; null for the
 *                   channel's own PDU instances
 *   signalInstance  the signal instance decoded
 *   signal          its signal
 *   textLength      bytes written to text (ASCII signals; 0 for numeric ones)
 *   textCapacity    size of text in bytes, set by the caller
 *   text            buffer for ASCII signals, set by the caller; may be null
 *                   when no ASCII signal is wanted (they are then skipped) */
typedef struct VexoDecodedSignal {
    uint64_t rawValue;
    VexoNode *frameTriggering;
    VexoNode *signalInstance;
    VexoNode *signal;
    uint32_t textLength;
    uint32_t textCapacity;
    char *text;
} VexoDecodedSignal;

/* ---- Decoding a frame ---------------------------------------------------- */
/* Gives the size in bytes of a decode state, for callers that supply their own
 * block to Vexo_decodeMessage. */
VEXO_API uint32_t Vexo_getDecodeStateSize(void);

/* Starts decoding a received frame on a channel.
 *   channel     the Channel the frame was received on
 *   identifier  the frame's identifier
 *   flags       Q3_FLAG_CANEXTENDED (bit 0) for a 29-bit extended identifier
 *   dataLength  number of data bytes; no field is read beyond them
 *   data        the data bytes, not copied: they must stay valid until the
 *               decode ends; null makes Vexo_decodeNextSignal answer E_POINTER
 *   state       in/out: null asks for a new state, which is stored here and
 *               belongs to the caller (Vexo_destroyDecodeEnum); a state or a
 *               caller's block already here is reinitialised (no allocation)
 * Returns S_OK; E_INVALIDARG (nothing written) when state is null, channel is
 * no Channel, a supplied block is not aligned to 8 bytes, or no state could be
 * allocated. */
VEXO_API HRESULT Vexo_decodeMessage(const VexoNode *channel, uint32_t identifier, uint32_t flags,
                                    uint32_t dataLength, const uint8_t *data, VexoDecodeState **state);

/* Moves to the next frame triggering of the channel that matches the frame; its
 * signal instances come next from Vexo_decodeNextSignal.
 *   state       the decode state
 *   triggering  receives the triggering; may be null
 * Returns S_OK with the triggering; S_FALSE with null when the matches ran out
 * (the channel's own PDU instances come next); S_OK with nothing written while
 * those are decoded; VEXO_E_NOMOREITEMS once everything is decoded;
 * E_INVALIDARG for a null or foreign state. */
VEXO_API HRESULT Vexo_decodeNextFrametriggering(VexoDecodeState *state, VexoNode **triggering);

/* Decodes the next signal instance of the current triggering's frame (or of the
 * channel's own PDU instances).
 *   state   the decode state
 *   filter  a node filter, or null for all: an instance is decoded when the
 *           filter selects its signal or else the instance itself; an instance
 *           the filter cannot answer for is skipped
 *   record  receives the signal instance; its text and textCapacity are read
 * Returns S_OK for a numeric signal (rawValue set); S_FALSE for an ASCII one
 * (min(bit length / 8, textCapacity) bytes in text, textLength set);
 * VEXO_E_NOMOREITEMS when the frame has no more signal instances; E_POINTER
 * when the data pointer is null; E_INVALIDARG for a null or foreign state, a
 * null record or a filter that is no filter. The record is written only for
 * S_OK and S_FALSE. */
VEXO_API HRESULT Vexo_decodeNextSignal(VexoDecodeState *state, const VexoFilter *filter,
                                       VexoDecodedSignal *record);

/* Gives the frame triggering being decoded.
 *   state       the decode state
 *   triggering  receives the triggering, or null
 * Returns S_OK when it is not null, S_FALSE when it is null; E_INVALIDARG
 * (nothing written) for a null or foreign state or a null triggering pointer. */
VEXO_API HRESULT Vexo_getFrameTriggering(const VexoDecodeState *state, VexoNode **triggering);

/* Ends a decode: marks the state destroyed (its first word becomes 0xDEADBEEF)
 * and frees it when Vexo_decodeMessage allocated it; a caller's block is only
 * marked.
 * Returns S_OK; E_INVALIDARG for a null or foreign state (nothing changed). */
VEXO_API HRESULT Vexo_destroyDecodeEnum(VexoDecodeState *state);

#endif
