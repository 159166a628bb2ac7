// libFuzzer target for the DBC reader in tolerant mode: every input must read to a table and a warning list in file
// order, and to the strict reader's very table whenever the strict reader accepts the input.
#include "reader_checks.h"

#include "dbc_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    checkTolerantRead(data, size, vexo::io::importDbcStream);
    return 0;
}
