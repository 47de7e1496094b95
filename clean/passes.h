// The stages of a cleaning run. Each reads its input from the input's
// current position until a read yields no byte and writes its output from
// the output's current position; none reports an error (the run driver
// looks at the streams' error states afterwards).
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "clean/stream.h"

// The run's copy of CleanOptions bits 0 to 13: RunFlags[k] is
// CleanOptions & (1 << k), captured once at the start of a run.
enum { kRunFlagCount = 14 };
extern uint32_t RunFlags[kRunFlagCount];
void CaptureRunFlags(uint32_t options);

// Deletes the elements the run's flags choose.
void DeriveElementFlags();
void ElementRemovalPass(ByteStream *input, ByteStream *output);

// Strips style attributes, url( references and http: backgrounds from tags.
void AttributePass(ByteStream *input, ByteStream *output);

// Cuts the page down to its main cell or table. The input is at its start.
void MainPartExtractor(bool extract, bool cutTables, ByteStream *input, ByteStream *output);
// The same with a ceiling on the heap memory its outline may take; past it
// the stage copies its input unchanged, as when memory runs out.
void ExtractMainPart(bool extract, bool cutTables, ByteStream *input, ByteStream *output,
                     size_t memoryLimit);

// Copies the input from its current position to its end.
void CopyStream(ByteStream *input, ByteStream *output);
