/* Vexo log parsing: blocks of CAN log text in the candump formats read into frames
 * for the batch decoder (vexo/batch.h), many lines per call and nothing allocated.
 *
 * Lines it reads (a line ends with '\n'; a '\r' before it is white space):
 *   log file:  (1436509052.249713) can0 123#DEADBEEF      classic frame
 *              (1436509052.249713) can0 1F334455#00       extended identifier (8 digits)
 *              (1436509052.249713) can0 123##1DEADBEEF    CAN FD, flags digit first
 *              (1436509052.249713) can0 123#R             remote frame
 *              (an optional direction "R" or "T" may follow the frame)
 *   screen:    can0  123   [4]  DE AD BE EF               with an optional (timestamp)
 *              in front, "remote request" for remote frames, and the bytes as ASCII
 *              in quotes after them
 * A line is checked strictly enough that one which only looks like a frame is not taken
 * for one: identifiers of 3 (at most 7FF) or 8 hex digits, interface names of 1 to 32
 * printable characters, whole data bytes (at most 8, or 64 for CAN FD). Data frames are
 * written out; remote frames, error frames (the error flag 0x20000000 in an 8-digit
 * identifier), blank lines and lines that are no frame are counted. */
#ifndef VEXO_CANDUMP_H
#define VEXO_CANDUMP_H

#include "vexo/types.h"
#include "vexo/batch.h"

/* Flags of Vexo_parseCandump. */
#define VEXO_LOG_FINAL 0x1u /* the text ends the input: its last line needs no line end */

/* Flags of a parsed frame (VexoLogLine.flags). */
#define VEXO_LOG_FD  0x1u /* a CAN FD frame ("##", or a two-digit length on screen) */
#define VEXO_LOG_BRS 0x2u /* FD flags digit bit 0: bit rate switch */
#define VEXO_LOG_ESI 0x4u /* FD flags digit bit 1: error state indicator */

/* Where a parsed frame came from. Offsets count bytes from the start of the text.
 *   timestamp        the timestamp in seconds, read as the nearest double; NaN when
 *                    the line has none
 *   line             the line's number in the text, counting from 0
 *   flags            VEXO_LOG_... bits
 *   stampOffset      the timestamp's text (the digits between the parentheses);
 *   stampLength      length 0 when the line has none
 *   busOffset        the interface name's text
 *   busLength
 *   bus              index of the interface name in the caller's VexoLogBuses, or
 *                    0xFFFFFFFF when its table was full (or null) */
typedef struct VexoLogLine {
    double timestamp;
    uint32_t line;
    uint32_t flags;
    uint32_t stampOffset;
    uint32_t stampLength;
    uint32_t busOffset;
    uint32_t busLength;
    uint32_t bus;
    uint32_t reserved;
} VexoLogLine;

/* The interface names met so far, kept by the caller across calls (zero it first):
 * a name not yet in the table is added while there is room. */
#define VEXO_LOG_MAX_BUSES 32
typedef struct VexoLogBuses {
    uint32_t count;
    char names[VEXO_LOG_MAX_BUSES][33]; /* zero-terminated */
} VexoLogBuses;

/* What one call of Vexo_parseCandump did.
 *   bytes    bytes of text consumed: whole lines with their line ends (the last line
 *            too when VEXO_LOG_FINAL was given); go on from there
 *   lines    lines consumed
 *   frames   data frames written
 *   dataBytes  bytes written to the data buffer
 *   remote, errors, blank, garbage   lines of these kinds consumed
 *   firstGarbage  number (from 0) of the first line that is no frame; 0xFFFFFFFF
 *            when there was none */
typedef struct VexoLogCount {
    uint32_t bytes;
    uint32_t lines;
    uint32_t frames;
    uint32_t dataBytes;
    uint32_t remote;
    uint32_t errors;
    uint32_t blank;
    uint32_t garbage;
    uint32_t firstGarbage;
    uint32_t reserved;
} VexoLogCount;

/* Parses lines of candump log text into frames, in order, until the text, the frames
 * or the data room run out.
 *   text        the text; length bytes of it (below 4 GiB)
 *   flags       0, or VEXO_LOG_FINAL when the text ends the input; without it a last
 *               line that has no line end is left for the next call
 *   frames      receives the data frames (identifier, Q3_FLAG_CANEXTENDED for 8-digit
 *               identifiers, length, data pointing into the data buffer); capacity of
 *               them
 *   lines       receives, per frame, where it came from; may be null
 *   data        receives the frames' data bytes; dataCapacity bytes of it (a frame
 *               needs its own length)
 *   buses       the table of interface names; may be null
 *   done        receives the counts
 * Returns S_OK when the whole text was consumed (apart from an unterminated last line
 * without VEXO_LOG_FINAL); S_FALSE when the frames or the data room ran out first
 * (done->bytes tells where to go on); E_INVALIDARG (nothing written) for a null done,
 * null text with a length, null frames or data with a capacity, or a length of 4 GiB
 * or more. */
VEXO_API HRESULT Vexo_parseCandump(const char *text, uint64_t length, uint32_t flags, VexoFrame *frames,
                                   uint32_t capacity, VexoLogLine *lines, uint8_t *data, uint32_t dataCapacity,
                                   VexoLogBuses *buses, VexoLogCount *done);

#endif
