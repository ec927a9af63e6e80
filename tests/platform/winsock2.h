// Stand-in for <winsock2.h>: the socket calls of --osc, which both stand-ins implement.
#pragma once

#include <sys/types.h>  // u_long, as the C library here defines it
#include <windows.h>

typedef uintptr_t SOCKET;
#define INVALID_SOCKET (~(SOCKET)0)
#define AF_INET 2
#define SOCK_DGRAM 2
#define IPPROTO_UDP 17
#define SOL_SOCKET 0xffff
#define SO_EXCLUSIVEADDRUSE ((int)(~0x0004))
#define FIONBIO 0x8004667E
#define MAKEWORD(low, high) ((WORD)(((BYTE)(low)) | ((WORD)((BYTE)(high))) << 8))
#define WSAEACCES 10013
#define WSAEWOULDBLOCK 10035
#define WSAEMSGSIZE 10040
#define WSAEADDRINUSE 10048
#define WSAEADDRNOTAVAIL 10049
#define WSAECONNRESET 10054

struct WSADATA { WORD wVersion; };
struct in_addr { uint32_t s_addr; };
struct sockaddr;
struct sockaddr_in { short sin_family; unsigned short sin_port; in_addr sin_addr; char sin_zero[8]; };

inline unsigned short htons(unsigned short value) { return (unsigned short)(value >> 8 | value << 8); }
int WINAPI WSAStartup(WORD version, WSADATA* data);
int WINAPI WSACleanup();
int WINAPI WSAGetLastError();
SOCKET WINAPI socket(int family, int type, int protocol);
int WINAPI setsockopt(SOCKET s, int level, int name, const char* value, int size);
int WINAPI bind(SOCKET s, const sockaddr* address, int size);
int WINAPI ioctlsocket(SOCKET s, long command, u_long* argument);
int WINAPI recv(SOCKET s, char* buffer, int size, int flags);
int WINAPI closesocket(SOCKET s);
