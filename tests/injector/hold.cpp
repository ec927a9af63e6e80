// Holds the file named open without sharing, as another program may, until it is ended.
#include <windows.h>
#include <stdio.h>

int main(int, char* argv[])
{
    if (CreateFileA(argv[1], GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL) == INVALID_HANDLE_VALUE)
        return 1;
    printf("holding %s\n", argv[1]);
    fflush(stdout);
    Sleep(INFINITE);
}
