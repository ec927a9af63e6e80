#include <stdio.h>
#include <string.h>

// After the C library's headers, which would otherwise take mingw-w64's own printf.
#include <winsock2.h>

#include "render/render.h"

// --osc: Open Sound Control 1.0 messages over UDP, from a controller app, a bridge or a
// sequencer. /NAME V1 [V2 V3 V4] sets the global NAME as its control would, /NAME/N V its
// component N. The socket never blocks: each frame reads what has arrived before it draws, so
// the frame after a message shows it, and a flood, bad bytes or silence can't hold the picture.

static SOCKET listener = INVALID_SOCKET;
static bool winsock_started = false;
// Larger than any UDP datagram over IPv4 (65,507 bytes), so every one arrives whole.
static char datagram[65536];
// A flood is read a slice a frame, so that the picture goes on; the rest waits in the socket.
static const int packets_per_frame = 4096;
// Bundles in bundles: each level is at least 20 bytes, and the walk through them recurses.
static const int deepest_bundle = 32;

// Malformed packets are counted, and said at most once a second.
static const DWORD malformed_every_ms = 1000;
static unsigned long malformed = 0;
static const char* last_malformation = "";
static DWORD malformed_said_at = 0;
static bool malformed_said_once = false;

// The names that a bad message was said for: each is said the first time only.
static char said_names[64][64];
static int said_count = 0;

static bool values_moved = false;

// Returns false after saying on stderr why nothing listens.
bool listen_osc(const BYTE address[4], WORD port)
{
    WSADATA started;
    winsock_started = WSAStartup(MAKEWORD(2, 2), &started) == 0;
    if (winsock_started)
        listener = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in at;
    memset(&at, 0, sizeof at);
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    memcpy(&at.sin_addr, address, 4);
    // No other program may take the port over while hotfx listens on it.
    BOOL exclusive = TRUE;
    u_long non_blocking = 1;
    if (listener != INVALID_SOCKET)
        setsockopt(listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, (const char*)&exclusive, sizeof exclusive);
    if (listener != INVALID_SOCKET && bind(listener, (const sockaddr*)&at, sizeof at) == 0 &&
        ioctlsocket(listener, FIONBIO, &non_blocking) == 0)
        return true;
    int error = winsock_started ? WSAGetLastError() : 0;
    fprintf(stderr, "hotfx: --osc %u.%u.%u.%u:%u: %s (error %d)\n", address[0], address[1], address[2], address[3],
            port,
            error == WSAEADDRINUSE || error == WSAEACCES ? "the port is in use by another program"
            : error == WSAEADDRNOTAVAIL                  ? "no network interface of this computer has that address"
                                                         : "can't listen there",
            error);
    stop_osc();
    return false;
}

void stop_osc()
{
    if (listener != INVALID_SOCKET)
        closesocket(listener);
    listener = INVALID_SOCKET;
    if (winsock_started)
        WSACleanup();
    winsock_started = false;
}

// OSC's numbers are big-endian.
static DWORD big_endian(const char* at)
{
    const BYTE* b = (const BYTE*)at;
    return (DWORD)b[0] << 24 | (DWORD)b[1] << 16 | (DWORD)b[2] << 8 | b[3];
}

// A string and its zero padding to a multiple of 4 bytes: its size, or 0 where it has no
// end before the packet's or isn't padded with zeros.
static int padded_string(const char* at, const char* end)
{
    const char* zero = (const char*)memchr(at, 0, end - at);
    int size = zero ? (int)((zero - at) / 4 * 4 + 4) : 0;
    if (!zero || size > end - at)
        return 0;
    for (const char* pad = zero; pad < at + size; pad++)
        if (*pad)
            return 0;
    return size;
}

// What one argument of type t takes of the packet, or -1 for a type OSC doesn't have.
static int argument_size(char t, const char* at, const char* end)
{
    if (strchr("ifcrm", t))
        return 4;
    if (strchr("htd", t))
        return 8;
    if (strchr("TFNI[]", t))
        return 0;
    if (t == 's' || t == 'S')
        return at < end ? padded_string(at, end) : 0;
    if (t == 'b' && end - at >= 4 && big_endian(at) <= (DWORD)(end - at - 4))
        return 4 + (int)((big_endian(at) + 3) / 4 * 4);
    return t == 'b' ? 0 : -1;
}

// A message's address, type tag and arguments fill it exactly. Returns what is wrong, or NULL.
static const char* check_message(const char* at, const char* end)
{
    int address = padded_string(at, end);
    if (!address)
        return "an address without its zero padding";
    const char* types = at + address;
    int tags = types < end && *types == ',' ? padded_string(types, end) : 0;
    if (!tags)
        return "no type tag";
    const char* argument = types + tags;
    for (const char* t = types + 1; *t; t++) {
        int size = argument_size(*t, argument, end);
        if (size < 0)
            return "an unknown type in the type tag";
        if ((*t == 's' || *t == 'S' || *t == 'b') && size == 0)
            return "a string or blob argument past the packet's end";
        if (size > end - argument)
            return "arguments past the packet's end";
        argument += size;
    }
    return argument == end ? NULL : "bytes after the arguments";
}

static bool said_before(const char* name)
{
    const int room = sizeof said_names / sizeof said_names[0];
    for (int i = 0; i < said_count && i < room; i++)
        if (strcmp(said_names[i], name) == 0)
            return true;
    if (said_count < room) {
        strcpy(said_names[said_count++], name);
        return false;
    }
    if (said_count++ == room)
        printf("Error : OSC: bad messages for more than %d names; those for further names go unsaid\n", room);
    return true;
}

static global* global_named(const char* name)
{
    shader_set* set = drawn_set();
    for (int i = 0; i < set->global_count; i++)
        if (strcmp(set->globals[i].name, name) == 0)
            return &set->globals[i];
    return NULL;
}

// The numbers a well-formed message carries, if it carries 1 to 4 of f, i, d, T and F.
static int read_numbers(const char* types, const char* argument, float value[4])
{
    int count = 0;
    for (const char* t = types + 1; *t; t++) {
        if (count == 4 || !strchr("fidTF", *t))
            return 0;
        // T and F carry no bytes: nothing is read for them, which may be the packet's end.
        DWORD bits = *t == 'T' || *t == 'F' ? 0 : big_endian(argument);
        unsigned long long wide = (unsigned long long)bits << 32 | (*t == 'd' ? big_endian(argument + 4) : 0);
        double number;
        memcpy(&number, &wide, sizeof number);
        value[count] = *t == 'T' ? 1.0f : *t == 'i' ? (float)(int)bits : *t == 'd' ? (float)number : 0.0f;
        if (*t == 'f')
            memcpy(&value[count], &bits, sizeof bits);
        // main.values keeps finite numbers only.
        if (!(value[count] - value[count] == 0))
            return 0;
        count++;
        argument += argument_size(*t, argument, argument + 8);
    }
    return count;
}

// The size of a string that check_message found padded.
static int padded(const char* text)
{
    return (int)(strlen(text) / 4 * 4 + 4);
}

// /NAME V1 [V2 V3 V4] or /NAME/N V, checked whole by check_message.
static void apply_message(const char* at)
{
    char name[64] = "";
    const char* slash = strchr(at + 1, '/');
    size_t length = slash ? (size_t)(slash - at - 1) : strlen(at + 1);
    int component = slash && slash[1] >= '1' && slash[1] <= '4' && !slash[2] ? slash[1] - '0' : 0;
    if (length < sizeof name)
        memcpy(name, at + 1, length), name[length] = 0;
    global* g = name[0] ? global_named(name) : NULL;
    const char* types = at + padded(at);
    float value[4];
    int count = read_numbers(types, types + padded(types), value);
    bool fits = g && count && (component ? count == 1 && component <= g->components : count == g->components) &&
                (!slash || component);
    if (fits) {
        for (int c = 0; c < count; c++)
            g->value[component ? component - 1 : c] = g->boolean ? value[c] != 0 : value[c];
        g->set = true;
        tune(g);
        values_moved = true;
    } else if (said_before(name)) {
        return;
    } else if (!g) {
        printf("Error : OSC %.80s: no stage of %s reads a global of that name; left out\n", at, shader_source[0]);
    } else if (g->passed_over == left_to_time) {
        // Its record exists only so that its line in main.values can be explained: it is no value.
        printf("Error : OSC %s: %s is in c0 without an initial value or annotations in %s, so it holds the time (an "
               "initial value makes it yours); left out\n", at, name, shader_source[0]);
    } else if (!g->components) {
        printf("Error : OSC %s: %s is an array or a matrix, which keeps its initial value; left out\n", at, name);
    } else {
        printf("Error : OSC %s %.40s: %s takes %d number%s (f, i, d, T or F), or /%s/N one for its component N; "
               "left out\n", at, types, name, g->components, g->components == 1 ? "" : "s", name);
    }
}

// A packet: one message, or a bundle of elements that are messages or bundles. The walk checks
// the whole packet first and applies it only when all of it is well formed.
static const char* walk(const char* at, const char* end, int depth, bool apply)
{
    if ((end - at) % 4 || end == at)
        return "a size that isn't a multiple of 4";
    if (end - at >= 8 && memcmp(at, "#bundle", 8) == 0) {
        if (depth == deepest_bundle)
            return "bundles nested too deep";
        if (end - at < 16)
            return "a bundle without its time tag";
        for (at += 16; at < end;) {
            DWORD size = end - at >= 4 ? big_endian(at) : 0;
            if (end - at < 4 || size > (DWORD)(end - at - 4))
                return "an element larger than its bundle";
            const char* problem = walk(at + 4, at + 4 + size, depth + 1, apply);
            if (problem)
                return problem;
            at += 4 + size;
        }
        return NULL;
    }
    if (*at != '/')
        return "neither a message nor a bundle";
    const char* problem = check_message(at, end);
    if (!problem && apply)
        apply_message(at);
    return problem;
}

static void say_malformed()
{
    printf("Error : OSC: %lu malformed packet%s left out (the last: %s)\n", malformed, malformed == 1 ? "" : "s",
           last_malformation);
    malformed = 0;
    malformed_said_at = GetTickCount();
    malformed_said_once = true;
}

static void count_malformed(const char* problem)
{
    malformed++;
    last_malformation = problem;
    if (!malformed_said_once)
        say_malformed();
}

// Each frame, before it draws: every packet that has arrived, in order, the last value winning.
void take_osc_messages()
{
    if (listener == INVALID_SOCKET)
        return;
    for (int i = 0; i < packets_per_frame; i++) {
        int size = recv(listener, datagram, sizeof datagram, 0);
        int error = size < 0 ? WSAGetLastError() : 0;
        if (error == WSAEWOULDBLOCK)
            break;
        if (error == WSAEMSGSIZE) {
            count_malformed("larger than a datagram");
        } else if (error == WSAECONNRESET) {
            continue;
        } else if (error) {
            printf("Error : OSC: can't receive (error %d); hotfx stops listening\n", error);
            stop_osc();
            break;
        } else if (const char* problem = walk(datagram, datagram + size, 0, false)) {
            count_malformed(problem);
        } else {
            walk(datagram, datagram + size, 0, true);
        }
    }
    if (malformed && GetTickCount() - malformed_said_at >= malformed_every_ms)
        say_malformed();
    if (values_moved)
        show_tuned_values();
    values_moved = false;
}
