// The Linux program's --help and --version texts.
#pragma once

void PrintHelp();
void PrintVersion();
