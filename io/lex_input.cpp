// Opening, block reading and closing of the tokenizers' file input. Paths arrive as
// UTF-16 and are opened through the C library as UTF-8.
#include "lex_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace vexo::io {

char *toUtf8(const VexoChar *text, bool *invalid)
{
    *invalid = false;
    size_t units = 0;
    while (text[units] != 0)
        ++units;
    char *out = static_cast<char *>(std::malloc(units * 3 + 1));  // 3 bytes per unit at most
    if (out == nullptr)
        return nullptr;
    size_t n = 0;
    for (size_t i = 0; i < units; ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            std::free(out);
            *invalid = true;
            return nullptr;
        }
        if (cp < 0x80) {
            out[n++] = static_cast<char>(cp);
        } else if (cp < 0x800) {
            out[n++] = static_cast<char>(0xC0 | (cp >> 6));
            out[n++] = static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out[n++] = static_cast<char>(0xE0 | (cp >> 12));
            out[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out[n++] = static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out[n++] = static_cast<char>(0xF0 | (cp >> 18));
            out[n++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out[n++] = static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    out[n] = '\0';
    return out;
}

HRESULT openLexInputStream(FILE *stream, LexInput **input)
{
    if (stream == nullptr || input == nullptr)
        return E_INVALIDARG;
    auto *in = static_cast<LexInput *>(std::malloc(sizeof(LexInput)));
    if (in == nullptr) {
        std::fclose(stream);
        return E_OUTOFMEMORY;
    }
    in->tag = kLexInputTag;
    in->pushedBack = kNoChar;
    in->file = stream;
    in->end = in->buffer;
    in->position = in->buffer;
    in->atEnd = false;
    in->readError = false;
    *input = in;
    return S_OK;
}

int openRegularFile(const char *name, struct stat *info)
{
    const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    if (fstat(fd, info) != 0 || !S_ISREG(info->st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

HRESULT openLexInput(const VexoChar *path, LexInput **input)
{
    if (path == nullptr || input == nullptr)
        return E_INVALIDARG;
    bool invalid = false;
    char *name = toUtf8(path, &invalid);
    if (name == nullptr)
        return invalid ? E_FAIL : E_OUTOFMEMORY;
    struct stat info;
    const int fd = openRegularFile(name, &info);
    std::free(name);
    if (fd < 0)
        return E_FAIL;
    const int flags = fcntl(fd, F_GETFL);
    FILE *file = flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 ? fdopen(fd, "rb") : nullptr;
    if (file == nullptr) {
        close(fd);
        return E_FAIL;
    }
    return openLexInputStream(file, input);
}

HRESULT closeLexInput(LexInput *input)
{
    if (input == nullptr || input->tag != kLexInputTag)
        return E_INVALIDARG;
    input->tag = 0;
    std::fclose(input->file);
    std::free(input);
    return S_OK;
}

int refillLexInput(LexInput *input)
{
    if (input->atEnd)
        return kEndOfInput;
    const size_t got = std::fread(input->buffer, 1, kLexInputBufferSize, input->file);
    if (got == 0) {
        input->atEnd = true;
        input->readError = std::ferror(input->file) != 0;
        input->position = input->end = input->buffer;
        return kEndOfInput;
    }
    input->end = input->buffer + got;
    input->position = input->buffer + 1;
    return input->buffer[0];
}

}  // namespace vexo::io
