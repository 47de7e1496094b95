// What the library's parts share besides the public header: the options
// record read into the switches, and its check.
#pragma once
#include <stdint.h>
#include "clean/switches.h"
#include "include/webtrim.h"

CleanSwitches LibSwitchesOf(const wt_options *options);
uint32_t LibWordOf(const wt_options *options);
// NULL or a record of a size this library takes.
bool LibOptionsUsable(const wt_options *options);
