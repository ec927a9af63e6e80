// Stand-in for the C runtime's <io.h>: POSIX's descriptor calls, and no text mode to leave.
#include <unistd.h>
#define _dup dup
#define _dup2 dup2
#define _write write
#define _setmode(fd, mode) ((void)0)
