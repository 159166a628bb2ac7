/* Vexo signal encoding and the encoder.
 *
 * Signal encoding is the client-side path from a physical value to bits in a
 * buffer: pick a physical-to-internal computation whose value ranges hold the
 * value (Vexo_encodeSignal, Vexo_encodeNextComputation), convert with
 * Vexo_physicalToInternal, and write the internal value at a signal
 * instance's place (Vexo_encodeSignalInstance).
 *
 * An encoder keeps a byte image of every frame and PDU below a node (a
 * channel, a cluster, a frame, or the whole database). Up to 24 applications
 * register with it, choose a send mode, change signals (internal values) and
 * trigger it with the current time; it then hands out the frames whose images
 * changed, one at a time. One encoder may be driven from several threads: each
 * operation holds the encoder's own recursive lock. The model must not change
 * while an encoder on it lives. */
#ifndef VEXO_ENCODE_H
#define VEXO_ENCODE_H

#include "vexo/types.h"
#include "vexo/core.h"
#include "vexo/convert.h"

/* ---- Signal encoding ------------------------------------------------------ */
/* The state of one value's walk over a signal's physical-to-internal
 * computations; it belongs to the caller (Vexo_destroyEncodeEnum). */
typedef struct VexoEncodeState VexoEncodeState;

/* Starts the search for the computations that take a physical value.
 *   signal  the Signal
 *   value   the physical value; its type and value are copied
 *   state   in/out handle: null asks for a new state, which is stored there;
 *           a state already there is cleared and reused
 * Returns S_OK; S_FALSE when the signal has no coding (the state is set up,
 * Vexo_encodeNextComputation then answers S_FALSE); E_INVALIDARG (nothing
 * written) for a null argument, a node that is no Signal, or a handle holding
 * something that is no encode state; E_OUTOFMEMORY (handle untouched). */
VEXO_API HRESULT Vexo_encodeSignal(const VexoNode *signal, const SignalValue *value, VexoEncodeState **state);

/* Gives the next physical-to-internal computation, in list order, one of whose
 * value ranges holds the state's value (a computation without ranges never
 * does); the next call continues after it.
 *   state        the state from Vexo_encodeSignal
 *   computation  receives the computation, owned by the database
 * Returns S_OK; S_FALSE when no further computation matches (nothing
 * written); E_INVALIDARG for a null argument or a handle that is no live
 * encode state. */
VEXO_API HRESULT Vexo_encodeNextComputation(VexoEncodeState *state, VexoNode **computation);

/* Writes an internal value into a buffer at a signal instance's place: the
 * low bits (the coding's bit length) at the instance's start bit, big-endian
 * when its byte order is Q3_BYTEORDER_BIGENDIAN. Bits outside the field keep
 * their values; a field running past the buffer is clipped.
 *   signalInstance  the SignalInstance
 *   internal        the internal value, field bit 0 in bit 0
 *   buffer          the bytes the instance's start bit counts in
 *   length          size of buffer in bytes; not 0
 * Returns S_OK; E_INVALIDARG (buffer untouched) for a null instance or buffer,
 * a zero length or a node that is no SignalInstance; E_UNEXPECTED (buffer
 * untouched) when the instance has no signal, the signal no coding, or the
 * coding is longer than 64 bits. */
VEXO_API HRESULT Vexo_encodeSignalInstance(const VexoNode *signalInstance, uint64_t internal, uint8_t *buffer,
                                           uint32_t length);

/* One physical value for Vexo_encodeSignals.
 *   signalInstance  the SignalInstance whose field receives the value
 *   value           the physical value; its computation and text are not read */
typedef struct VexoSignalWrite {
    const VexoNode *signalInstance;
    SignalValue value;
} VexoSignalWrite;

/* Encodes physical values into a buffer in one call, each exactly as the functions
 * above do it one at a time: the first of the signal's physical-to-internal
 * computations, in list order, whose value ranges hold the value and with which
 * Vexo_physicalToInternal converts it (S_OK, from an internal value of 0) gives the
 * internal value that Vexo_encodeSignalInstance writes at the instance's place.
 * Writes are done in order, so a later field overwrites an earlier one's bits where
 * they overlap. As for Vexo_internalToPhysical, how a coding converts, and where
 * an instance's field lies, are decided once after each model change and kept with
 * the model; several threads may encode at once while nobody changes the model.
 *   writes   the values; count of them
 *   buffer   the bytes the instances' start bits count in; length bytes, not 0
 *   results  null, or count results, one per write:
 *              S_OK          the field was written
 *              S_FALSE       no computation converts the value (also for a signal
 *                            without coding); the buffer is untouched
 *              E_UNEXPECTED  the instance has no signal, the coding is longer than
 *                            64 bits, or its encoding cannot be encoded
 *              E_INVALIDARG  no SignalInstance, or an unknown value type
 *   written  null, or receives the number of fields written
 * Returns S_OK when every field was written; S_FALSE when one or more was not (see
 * results); E_INVALIDARG (nothing written) for a null buffer, a length of 0, or null
 * writes with a count above 0. */
VEXO_API HRESULT Vexo_encodeSignals(const VexoSignalWrite *writes, uint32_t count, uint8_t *buffer, uint32_t length,
                                    HRESULT *results, uint32_t *written);

/* Releases an encode state; the handle is invalid afterwards.
 * Returns S_OK (also for null); E_INVALIDARG (nothing released) for a handle
 * that is no live encode state. */
VEXO_API HRESULT Vexo_destroyEncodeEnum(VexoEncodeState *state);

/* ---- The encoder ------------------------------------------------------------ */
typedef struct VexoEncoder VexoEncoder;

/* Send modes of an application (constants.h):
 *   Q3_ENC_MODE_OFF       receives nothing; its changes wait until it is active
 *   Q3_ENC_MODE_ONCE      receives what is pending, then is switched off at the
 *                         first fetch that finds nothing (its stored mode stays
 *                         ONCE until set again)
 *   Q3_ENC_MODE_PERIODIC  receives every changed frame
 * One fetch serves every active application at once. */

/* A changed frame handed out by Vexo_EncoderGetChangedFrame.
 *   frame   the Frame, owned by the database
 *   length  frame length in bytes
 *   data    the frame image, owned by the encoder and valid until it is
 *           destroyed; a later trigger (from any thread) rewrites it, so copy
 *           it before triggering again */
typedef struct VexoChangedFrame {
    VexoNode *frame;
    uint32_t length;
    const uint8_t *data;
} VexoChangedFrame;

/* Creates an encoder for the frames and PDUs below a node, with every signal's
 * default value (its first physical-to-internal computation applied) already
 * in the images and no frame pending.
 *   database  the database
 *   node      a Channel, a Cluster or a Frame of that database, or null for the
 *             whole database
 *   encoder   receives the encoder, owned by the caller (Vexo_DestroyEncoder)
 * Returns S_OK in every case. When the encoder cannot be made (a null
 * argument, no database, a node of another class or database, no memory)
 * nothing is kept and *encoder is NOT written: preset it to null. */
VEXO_API HRESULT Vexo_CreateEncoder(VexoNode *database, const VexoNode *node, VexoEncoder **encoder);

/* Destroys an encoder with its images; no other call on it may be running.
 * Returns S_OK (also for null); E_INVALIDARG (nothing released) for a handle
 * that is no encoder. */
VEXO_API HRESULT Vexo_DestroyEncoder(VexoEncoder *encoder);

/* Common to the Vexo_Encoder functions below: E_INVALIDARG when the encoder is
 * null or no encoder. Applications are the indexes 0-23 that
 * Vexo_EncoderRegister hands out. */

/* Registers an application in the lowest free slot, with send mode OFF.
 *   application  receives its index
 * Returns S_OK; E_FAIL when all 24 slots are taken or application is null. */
VEXO_API HRESULT Vexo_EncoderRegister(VexoEncoder *encoder, uint32_t *application);

/* Sets a registered application's mode to OFF and frees its slot for reuse.
 * Returns S_OK; E_FAIL for an index that is not registered. */
VEXO_API HRESULT Vexo_EncoderDeregister(VexoEncoder *encoder, uint32_t application);

/* Sets the send mode of a registered application.
 *   mode  Q3_ENC_MODE_OFF, Q3_ENC_MODE_ONCE or Q3_ENC_MODE_PERIODIC
 * Returns S_OK; E_FAIL for an index that is not registered; E_INVALIDARG for
 * another mode (nothing changed). */
VEXO_API HRESULT Vexo_EncoderSetSendMode(VexoEncoder *encoder, uint32_t application, uint32_t mode);

/* Gives the send mode of a registered application.
 *   mode  receives Q3_ENC_MODE_...
 * Returns S_OK; E_FAIL (nothing written) for a null mode or an index that is
 * not registered. */
VEXO_API HRESULT Vexo_EncoderGetSendMode(VexoEncoder *encoder, uint32_t application, uint32_t *mode);

/* Includes frames in triggering: only the PDUs of included frames take
 * changes and are passed on. Inclusion is counted per frame and PDU (a frame
 * inserted twice needs two deletions); the application is not used.
 *   node  an identifier-based or absolutely scheduled frame triggering (its
 *         frame), or an ECU, that is an ElementGroup (every frame of the
 *         encoder sent by it through an identifier-based triggering)
 * Returns S_OK; S_FALSE for another node or when no frame of the encoder was
 * found. */
VEXO_API HRESULT Vexo_EncoderInsert(VexoEncoder *encoder, uint32_t application, const VexoNode *node);

/* Excludes frames from triggering again; arguments and results as
 * Vexo_EncoderInsert. A frame that is not included is left alone. */
VEXO_API HRESULT Vexo_EncoderDelete(VexoEncoder *encoder, uint32_t application, const VexoNode *node);

/* Changes a signal: Vexo_EncoderChangeSignalEx with the 8 bytes of value. */
VEXO_API HRESULT Vexo_EncoderChangeSignal(VexoEncoder *encoder, uint32_t application, const VexoNode *signal,
                                          uint64_t value);

/* Writes a signal's internal value into every included PDU image holding an
 * instance of it (setting the instances' update bits) and marks them changed
 * for the application; Vexo_EncoderTrigger passes them into their frames.
 *   application  index below 24; its changes wait while it is OFF
 *   signal       the Signal
 *   length       bytes in data; of them, as many bits as the signal's coding
 *                has are used
 *   data         the internal value, little-endian; may be null when length
 *                is 0
 * Returns S_OK; E_INVALIDARG (nothing changed) for a null or non-Signal
 * signal, null data, an application of 24 or more, a signal without coding,
 * a coding longer than 64 bits, or when no included image holds the signal. */
VEXO_API HRESULT Vexo_EncoderChangeSignalEx(VexoEncoder *encoder, uint32_t application, const VexoNode *signal,
                                            uint32_t length, const uint8_t *data);

/* Moves changed and due PDU images into their multiplexed PDUs and frames,
 * deepest first, writing update bits and switch codes on the way. A PDU whose
 * PDU triggering has timings is passed on when they are due: a due cyclic
 * timing sends it unchanged or not (the frame is then delivered to every
 * application), a due event-controlled timing sends its changes. A PDU without
 * PDU triggering is passed on when it changed.
 *   timeLow, timeHigh  the current time as an unsigned 64-bit number in two
 *                      halves, in the unit of the model's cycle and debounce
 *                      times
 * Returns S_OK. */
VEXO_API HRESULT Vexo_EncoderTrigger(VexoEncoder *encoder, uint32_t timeLow, uint32_t timeHigh);

/* Hands out the next frame changed for an active application (or by a due
 * cyclic timing) and takes it off the pending list for every active
 * application at once.
 *   frame  receives the frame, its length and its image
 * Returns S_OK; S_FALSE when none is pending (ONCE applications are then
 * switched off) or when frame is null (nothing changes). */
VEXO_API HRESULT Vexo_EncoderGetChangedFrame(VexoEncoder *encoder, VexoChangedFrame *frame);

/* Tells whether a signal is sent cyclically: whether a PDU triggering of a
 * PDU holding it (or of a multiplexed PDU above that) has a cyclic timing.
 * Returns S_OK when it has, S_FALSE when not; E_INVALIDARG for a null or
 * non-Signal signal. */
VEXO_API HRESULT Vexo_EncoderIsSignalCyclic(VexoEncoder *encoder, const VexoNode *signal);

#endif
