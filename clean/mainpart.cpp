// Main-part extraction (not built yet: copies its input).
#include "clean/passes.h"

void MainPartExtractor(bool extract, bool cutTables, ByteStream *input, ByteStream *output)
{
    (void)extract;
    (void)cutTables;
    CopyStream(input, output);
}
