// Attribute cleaning pass (not built yet: copies its input).
#include "clean/passes.h"
#include "clean/tagbuf.h"

void AttributePass(ByteStream *input, ByteStream *output)
{
    CopyStream(input, output);
}
