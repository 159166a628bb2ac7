// Buffered byte input shared by the DBC and LDF tokenizers. Files are streamed in
// 32,768-byte blocks and never held whole, so a tokenizer pays one compare per byte
// and one block read per 32 KB; get and peek are inline for that reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <sys/stat.h>

#include "vexo/types.h"

namespace vexo::io {

constexpr int kEndOfInput = -1;
// Marks an empty pushed-back slot or lookahead; distinct from kEndOfInput so that
// a peeked end of input is remembered like any other character.
constexpr int kNoChar = -2;
constexpr size_t kLexInputBufferSize = 32768;
// "LxIn" in memory order.
constexpr uint32_t kLexInputTag = 0x6E49784Cu;

struct LexInput {
    uint32_t tag;
    int32_t pushedBack;       // character returned by peek and not yet consumed, or kNoChar
    FILE *file;               // open for reading in binary mode; owned
    const uint8_t *end;       // end of the valid bytes in buffer
    const uint8_t *position;  // next byte to deliver
    bool atEnd;               // a block read gave nothing: end of input from now on
    bool readError;           // the stream reported an error (the rest reads as end of input)
    uint8_t buffer[kLexInputBufferSize];
};

// Converts zero-terminated UTF-16 to a malloc'ed zero-terminated UTF-8 text (file
// names for the C library and libxml2). Sets *invalid and returns null for an unpaired
// surrogate; returns null when memory runs out.
char *toUtf8(const VexoChar *text, bool *invalid);

// Opens a regular file by its UTF-8 path for reading, without waiting for a writer
// (opening a FIFO that no one writes would): the descriptor, in non-blocking mode, and
// the file's status in *info; -1 when it cannot be opened or is anything but a regular
// file (a directory reads as nothing, a FIFO may never end, a device like /dev/zero ends
// never).
int openRegularFile(const char *name, struct stat *info);

// Opens a file by its UTF-16 path (converted to UTF-8) for reading in binary mode.
// Returns S_OK and the input; E_INVALIDARG for a null argument; E_FAIL when the path
// is no valid UTF-16 text, cannot be opened or names anything but a regular file (a
// directory, a FIFO, a device); E_OUTOFMEMORY when the input cannot be allocated.
// Nothing is written to *input on failure, and the call never waits for a writer.
HRESULT openLexInput(const VexoChar *path, LexInput **input);

// Wraps an open stream (for example a memory stream) as an input that owns it.
// Returns S_OK and the input; E_INVALIDARG for a null argument; E_OUTOFMEMORY. The
// stream is closed on every failure after the argument check.
HRESULT openLexInputStream(FILE *stream, LexInput **input);

// Closes the file and releases the input. Returns E_INVALIDARG for null or an
// object without the input tag, else S_OK.
HRESULT closeLexInput(LexInput *input);

// Reads the next block; returns its first byte or kEndOfInput.
int refillLexInput(LexInput *input);

// Delivers the pushed-back character if there is one, else the next byte (0-255),
// or kEndOfInput, which repeats on every later call.
inline int getLexByte(LexInput *input)
{
    if (input->pushedBack != kNoChar) {
        const int c = input->pushedBack;
        input->pushedBack = kNoChar;
        return c;
    }
    if (input->position < input->end)
        return *input->position++;
    return refillLexInput(input);
}

// Returns the next character without consuming it.
inline int peekLexByte(LexInput *input)
{
    if (input->pushedBack == kNoChar)
        input->pushedBack = getLexByte(input);
    return input->pushedBack;
}

}  // namespace vexo::io
