// Element removal pass (not built yet: copies its input).
#include "clean/passes.h"
#include "clean/tagbuf.h"

void DeriveElementFlags()
{
}

void ElementRemovalPass(ByteStream *input, ByteStream *output)
{
    CopyStream(input, output);
}
