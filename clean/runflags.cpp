#include "clean/passes.h"

uint32_t RunFlags[kRunFlagCount];

void CaptureRunFlags(uint32_t options)
{
    for (int k = 0; k < kRunFlagCount; k++)
        RunFlags[k] = options & (1u << k);
}

void CopyStream(ByteStream *input, ByteStream *output)
{
    int c;
    while ((c = StreamGet(input)) >= 0)
        StreamPut(output, (unsigned char)c);
}
