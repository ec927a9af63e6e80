// The process's entry with mingw-w64, in place of its start files (the exe links with
// -nostartfiles). Theirs brings what hotfx never uses and costs nearly a quarter of the exe: TLS
// callbacks, runtime pseudo-relocations (the link refuses to need any), a copy of argv, an
// exception filter that only forwards to signal handlers, which hotfx sets none of, and unwind
// tables. What they do that hotfx relies on is done here the same way, and in the same order.
#include <stdlib.h>

// The C runtime DLL's start-up exports, which its headers leave to the start files.
extern "C" {
struct startup_info {
    int new_mode;
};
__declspec(dllimport) int __cdecl __getmainargs(int* argc, char*** argv, char*** env, int expand_wildcards,
                                                startup_info* info);
__declspec(dllimport) void __cdecl __set_app_type(int type);
__declspec(dllimport) int* __cdecl __p__commode();
typedef void (*initialiser)();
// The linker's list: -1, the initialisers in link order, then 0.
extern initialiser __CTOR_LIST__[];
}

int main(int argc, char* argv[]);

// The compiler makes main call this before its own code: the C++ initialisers run there, the
// last linked first, as mingw-w64's own __main runs them. main runs once, so they do.
extern "C" void __main()
{
    int count = 0;
    while (__CTOR_LIST__[count + 1])
        count++;
    for (; count > 0; count--)
        __CTOR_LIST__[count]();
}

// Windows enters with the stack 4-byte aligned; the compiler assumes 16 bytes.
extern "C" __attribute__((force_align_arg_pointer, noreturn)) void mainCRTStartup()
{
    const int console_app = 1;
    __set_app_type(console_app);
    // Text mode, and no commit to disk on fflush, as mingw-w64's defaults say.
    _fmode = 0;
    *__p__commode() = 0;
    int argc;
    char** argv;
    char** env;
    startup_info info = {0};
    // No wildcard expansion: an argument is passed as typed.
    __getmainargs(&argc, &argv, &env, 0, &info);
    // The x87 unit's defaults, 64-bit precision included, as mingw-w64's _fpreset sets them: the
    // numbers before the device exists (which sets its own) come out as they always have.
    __asm__ __volatile__("fninit");
    exit(main(argc, argv));
}
