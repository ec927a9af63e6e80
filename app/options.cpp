#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/app.h"

// What the command line asks for. Without arguments hotfx is the interactive viewer alone.
bool watch_folder = false;
bool save_frames = false;
unsigned long first_frame = 0;
unsigned long last_frame = 0;
// --frame: the file to write; --frames: a name with one printf number in it.
const char* frame_path = NULL;
bool numbered_frames = false;
// --size: the picture's width and height, 0 for the default.
unsigned long picture_width = 0;
unsigned long picture_height = 0;
// --osc: where OSC messages are listened for; port 0 when they aren't.
BYTE osc_address[4] = {127, 0, 0, 1};
unsigned long osc_port = 0;

// --sound-in: "list", "loopback", a capture device's number or part of its name; "" for the
// system's default.
const char* sound_in_device = "";

// --fullscreen, --monitor N (from 1, as Windows enumerates them; 0 for none) and --monitor list.
bool full_screen_asked = false;
unsigned long monitor_number = 0;
bool list_monitors_asked = false;
bool any_option = false;

static const char usage[] =
    "usage: hotfx.exe [--watch | --frame N OUT.png | --frames FIRST LAST PATTERN|-] [--size WIDTHxHEIGHT]"
    " [--sound-in list|DEVICE|loopback] [--osc [ADDRESS:]PORT] [--fullscreen] [--monitor N|list]";

static bool bad_arguments(const char* why, const char* what)
{
    fprintf(stderr, "hotfx: %s%s; %s\n", why, what, usage);
    return false;
}

// The largest frame number: a pattern's %d prints it as it is, wherever unsigned long is
// wider than on Windows too. The time stops growing long before.
static const unsigned long long last_frame_number = 0x7FFFFFFF;

// A frame number is decimal digits only: no sign, no space, nothing after, and it fits.
static bool read_frame_number(const char* text, unsigned long* number)
{
    char* end = NULL;
    errno = 0;
    *number = strtoul(text, &end, 10);
    return text[0] >= '0' && text[0] <= '9' && *end == '\0' && errno == 0 &&
           (unsigned long long)*number <= last_frame_number;
}

// The pattern goes to sprintf with the frame number, so it may hold one conversion of an
// integer (%d, %u or %i, with an optional 0 flag and width) and %% for a percent sign.
static bool one_number_in(const char* pattern)
{
    int numbers = 0;
    for (const char* at = strchr(pattern, '%'); at; at = strchr(at + 1, '%')) {
        if (at[1] == '%') {
            at++;
            continue;
        }
        const char* conversion = at + 1 + strspn(at + 1, "0123456789");
        if (conversion - at > 4 || !*conversion || !strchr("dui", *conversion))
            return false;
        numbers++;
        at = conversion;
    }
    return numbers == 1;
}

// WIDTHxHEIGHT, each 1 to 65535, which keeps the window's arithmetic in range; how large this
// device allows is checked once there is one.
static const unsigned long largest_side = 65535;

static bool read_size(const char* text)
{
    char width[12] = "";
    const char* x = strchr(text, 'x');
    if (!x || x - text >= (int)sizeof width)
        return false;
    memcpy(width, text, x - text);
    return read_frame_number(width, &picture_width) && read_frame_number(x + 1, &picture_height) &&
           picture_width > 0 && picture_height > 0 && picture_width <= largest_side && picture_height <= largest_side;
}

// --size, --sound-in and --osc may stand anywhere; each is taken out with its value, and the rest read
// as they would be without it. Returns the value, "" when not given, or NULL after saying why.
static const char* take_option(int* argc, char* argv[], const char* name)
{
    for (int i = 1; i < *argc; i++) {
        if (strcmp(argv[i], name) != 0)
            continue;
        if (i + 1 == *argc || !argv[i + 1][0])
            return bad_arguments("a value is missing after ", name), (const char*)NULL;
        const char* value = argv[i + 1];
        for (int j = i; j + 2 <= *argc; j++)
            argv[j] = argv[j + 2];
        *argc -= 2;
        for (int j = i; j < *argc; j++)
            if (strcmp(argv[j], name) == 0)
                return bad_arguments(name, " given twice"), (const char*)NULL;
        return value;
    }
    return "";
}

// [A.B.C.D:]PORT: an IPv4 address in four decimal numbers, and a port from 1 to 65535.
static bool read_osc_place(const char* text)
{
    const char* at = text;
    for (int k = 0; strchr(text, ':') && k < 4; k++) {
        char* end = NULL;
        unsigned long part = strtoul(at, &end, 10);
        if (at[0] < '0' || at[0] > '9' || end - at > 3 || part > 255 || *end != (k == 3 ? ':' : '.'))
            return false;
        osc_address[k] = (BYTE)part;
        at = end + 1;
    }
    return read_frame_number(at, &osc_port) && osc_port >= 1 && osc_port <= 65535;
}

// --fullscreen and --monitor may stand anywhere too, once each; they are for the window, which
// saving frames doesn't show.
static bool read_screen_options(int* argc, char* argv[])
{
    bool monitor_given = false;
    for (int i = 1; i < *argc;) {
        int taken = strcmp(argv[i], "--fullscreen") == 0 ? 1 : strcmp(argv[i], "--monitor") == 0 ? 2 : 0;
        if (!taken) {
            i++;
            continue;
        }
        if ((taken == 1 && full_screen_asked) || (taken == 2 && monitor_given))
            return bad_arguments(argv[i], " given twice");
        if (taken == 2 && i + 1 < *argc && strcmp(argv[i + 1], "list") == 0)
            list_monitors_asked = true;
        else if (taken == 2 && (i + 1 == *argc || !read_frame_number(argv[i + 1], &monitor_number) || !monitor_number))
            return bad_arguments("not a monitor number from 1, or list: ", i + 1 < *argc ? argv[i + 1] : "");
        full_screen_asked |= taken == 1;
        monitor_given |= taken == 2;
        for (int j = i; j + taken <= *argc; j++)
            argv[j] = argv[j + taken];
        *argc -= taken;
    }
    return true;
}

// Returns false after saying on stderr what is wrong.
bool read_options(int argc, char* argv[])
{
    any_option = argc > 1;
    const char* size = take_option(&argc, argv, "--size");
    if (!size)
        return false;
    if (size[0] && !read_size(size))
        return bad_arguments("not a size such as 1920x1080: ", size);
    if (!(sound_in_device = take_option(&argc, argv, "--sound-in")))
        return false;
    const char* osc = take_option(&argc, argv, "--osc");
    if (!osc)
        return false;
    if (osc[0] && !read_osc_place(osc))
        return bad_arguments("not a port such as 9000 or 0.0.0.0:9000 for --osc: ", osc);
    if (!read_screen_options(&argc, argv))
        return false;
    if (argc <= 1)
        return true;
    const char* option = argv[1];
    if (strcmp(option, "--watch") == 0 && argc == 2) {
        watch_folder = true;
        return true;
    }
    if (strcmp(option, "--frame") == 0 && argc == 4) {
        if (!read_frame_number(argv[2], &first_frame))
            return bad_arguments("not a frame number: ", argv[2]);
        last_frame = first_frame;
    } else if (strcmp(option, "--frames") == 0 && argc == 5) {
        if (!read_frame_number(argv[2], &first_frame))
            return bad_arguments("not a frame number: ", argv[2]);
        if (!read_frame_number(argv[3], &last_frame))
            return bad_arguments("not a frame number: ", argv[3]);
        if (last_frame < first_frame)
            return bad_arguments("the last frame comes before the first: ", argv[3]);
        // "-": the frames go to standard output instead of files.
        if (strcmp(argv[4], "-") != 0 && !one_number_in(argv[4]))
            return bad_arguments("the name needs one frame number such as %05d, and no other %: ", argv[4]);
        numbered_frames = true;
    } else if (strcmp(option, "--watch") == 0 || strcmp(option, "--frame") == 0 ||
               strcmp(option, "--frames") == 0) {
        return bad_arguments("wrong number of arguments for ", option);
    } else {
        return bad_arguments("unknown option: ", option);
    }
    if (!argv[argc - 1][0])
        return bad_arguments("an empty file name", "");
    if ((full_screen_asked || monitor_number) && !list_monitors_asked)
        return bad_arguments("--fullscreen and --monitor are for the window, which saving frames doesn't show", "");
    save_frames = true;
    frame_path = argv[argc - 1];
    return true;
}
