// Stand-in for the C runtime's <io.h>: its descriptor calls are POSIX's, and there is no text mode.
#pragma once

#include <unistd.h>

#define _dup dup
#define _dup2 dup2
#define _write write
inline int _setmode(int, int) { return 0; }
#define _O_BINARY 0
