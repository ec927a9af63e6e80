#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "render/render.h"

// main.values: what the author tuned, beside main.fx, so that --frame and --frames draw the
// picture that was seen. Lines NAME = V1 V2 V3 V4, as many numbers as the global has
// components; # starts a comment. A control's change is written a moment later, at most a few
// times a second, and at exit, through a new file, flushed to the disk, renamed over the old
// one. The file is the author's: it is kept byte for byte as it was read, lines of globals no
// longer declared, lines that didn't parse and zero bytes included, in the encoding it came in:
// bytes (ASCII, UTF-8 with or without its mark, a code page) or UTF-16 either way round, with its
// byte-order mark or, where its first character says so, without. Only the line of a value a
// control changed is written anew, in that encoding, and a new name goes at the end.
const char values_path[] = "main.values";
static const char new_values_path[] = "main.values.new";
static const DWORD save_every_ms = 250;

enum encoding { eight_bit, utf16_le, utf16_be };

struct tuned_value {
    char name[64];
    BYTE count;
    float value[4];
    BYTE read_count;   // what the file said when hotfx last read or wrote it
    float read[4];
    int line;          // where main.values has it, or 0 where only a control set it
    bool changed;      // by a control since the file was read or written
};
// As many as the file and the controls name.
static tuned_value* tuned = NULL;
static int tuned_count = 0, tuned_room = 0;
static BYTE* text = NULL;       // the file as last read or written
static DWORD text_size = 0;
static BYTE coding = eight_bit;
static DWORD text_start = 0;    // the bytes of its mark
static bool unread = false;     // the last read failed, so text may not be what the file holds
static bool unsaved = false;
static bool said_unwritable = false;
static DWORD saved_at = 0;

// Why main.values can't set a global that main.fx declares, by global::passed_over.
static const char* const passed_over_why[] = {
    "",
    "an array in %s, which keeps its initial value",
    "a matrix in %s, which keeps its initial value",
    "in c0 without an initial value or annotations in %s, so it holds the time (an initial value makes it yours)",
};

// Why the file can't be read, by the system's error.
static const char* unreadable_why(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION ? "held by another program"
           : error == ERROR_ACCESS_DENIED   ? "access denied"
           : error == ERROR_NOT_ENOUGH_MEMORY ? "too large to read"
                                              : "can't be read";
}

static void find_encoding()
{
    coding = eight_bit;
    text_start = 0;
    if (text_size >= 2 && text[0] == 0xFF && text[1] == 0xFE)
        coding = utf16_le, text_start = 2;
    else if (text_size >= 2 && text[0] == 0xFE && text[1] == 0xFF)
        coding = utf16_be, text_start = 2;
    else if (text_size >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0)
        text_start = 3;
    else if (text_size >= 2 && text_size % 2 == 0 && !text[0] != !text[1])
        coding = text[0] ? utf16_le : utf16_be;   // a first character below 256, without a mark
}

static DWORD unit_count()
{
    return coding == eight_bit ? text_size - text_start : (text_size - text_start) / 2;
}

static DWORD byte_at(DWORD unit)
{
    return text_start + (coding == eight_bit ? unit : 2 * unit);
}

static unsigned unit_at(DWORD unit)
{
    const BYTE* at = text + byte_at(unit);
    return coding == eight_bit ? at[0] : coding == utf16_le ? at[0] | at[1] << 8 : at[0] << 8 | at[1];
}

// Where the line from unit from ends: at its \n, or at the text's end.
static DWORD line_end(DWORD from)
{
    while (from < unit_count() && unit_at(from) != '\n')
        from++;
    return from;
}

// The characters from..to as bytes allocated here, one that no name or number has in place of
// a zero or of any character past ASCII.
static char* narrow_copy(DWORD from, DWORD to, bool* zero)
{
    char* copy = (char*)malloc(to - from + 1);
    for (DWORD i = from; copy && i < to; i++) {
        unsigned c = unit_at(i);
        *zero |= c == 0;
        copy[i - from] = c && c < 0x80 ? (char)c : '\x7F';
    }
    if (copy)
        copy[to - from] = 0;
    return copy;
}

// One line's name and numbers, comment and blanks aside. Returns NULL for a line that is only
// a comment or blank, else the error, or "" where it parses.
static const char* parse_line(char* line, char* name, float* value, int* count)
{
    line[strcspn(line, "#\r\n")] = 0;
    int used = 0;
    *count = 0;
    if (sscanf(line, " %63[A-Za-z0-9_] = %n", name, &used) != 1 || !used)
        return line[strspn(line, " \t")] ? "expected NAME = NUMBERS" : NULL;
    for (char* at = line + used; *at; at += strspn(at, " \t")) {
        if (*count == 4)
            return "more than 4 numbers";
        int length = 0;
        if (sscanf(at, "%f%n", &value[*count], &length) != 1 || (at[length] && !strchr(" \t", at[length])) ||
            !(value[*count] - value[*count] == 0))
            return "not a finite number";
        (*count)++;
        at += length;
    }
    return *count ? "" : "no numbers";
}

static tuned_value* tuned_named(const char* name)
{
    for (int i = 0; i < tuned_count; i++)
        if (strcmp(tuned[i].name, name) == 0)
            return &tuned[i];
    return NULL;
}

// A new entry at the table's end, the table grown where it is full; NULL without memory.
static tuned_value* add_tuned(const char* name)
{
    if (!make_room(&tuned, &tuned_room, tuned_count + 1))
        return NULL;
    tuned_value* added = &tuned[tuned_count++];
    memset(added, 0, sizeof *added);
    strcpy(added->name, name);
    return added;
}

// The file's lines into the table, each error said with the line, which an editor can go to.
static bool parse_text()
{
    bool all_read = true;
    int number = 1;
    for (DWORD at = 0; at < unit_count(); number++) {
        DWORD end = line_end(at);
        bool zero = false;
        char* copy = narrow_copy(at, end, &zero);
        char name[64];
        float value[4] = {0, 0, 0, 0};
        int count;
        at = end + 1;
        const char* problem = copy ? parse_line(copy, name, value, &count) : "no memory to read it";
        free(copy);
        bool parsed = problem && !*problem;
        if (problem && *problem) {
            printf("Error : %s:%d: %s; the line is left out\n", values_path, number, zero ? "a zero byte" : problem);
            all_read = false;
            continue;
        }
        tuned_value* found = parsed ? tuned_named(name) : NULL;
        if (parsed && !found && !(found = add_tuned(name))) {
            printf("Error : %s:%d: no memory for more than %d names; the line is left out\n", values_path, number,
                   tuned_count);
            all_read = false;
        }
        if (!found)
            continue;
        found->count = found->read_count = (BYTE)count;
        memcpy(found->value, value, sizeof value);
        memcpy(found->read, value, sizeof value);
        found->line = number;
        found->changed = false;
    }
    return all_read;
}

// The file read anew. What a control changed and hotfx hasn't written yet goes over its lines,
// but where the hand changed the name's line meanwhile: the later word, the author's, stands.
// A file that can't be read leaves the table and the text as they were.
static bool read_file_lines()
{
    DWORD size, error;
    BYTE* bytes = read_listed_file(values_path, &size, &error);
    unread = !bytes && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    tuned_value* pending = unread ? NULL : (tuned_value*)malloc((tuned_count + 1) * sizeof *tuned);
    if (!pending) {
        printf("Error : %s: %s (error %lu); the values read before stay\n", values_path,
               unread ? unreadable_why(error) : "no memory to read it",
               (unsigned long)(unread ? error : ERROR_NOT_ENOUGH_MEMORY));
        free(bytes);
        return false;
    }
    int pending_count = 0;
    for (int i = 0; i < tuned_count; i++)
        if (tuned[i].changed)
            pending[pending_count++] = tuned[i];
    free(text);
    text = bytes;
    text_size = bytes ? size : 0;
    find_encoding();
    tuned_count = 0;
    bool all_read = parse_text();
    unsaved = false;
    for (int i = 0; i < pending_count; i++) {
        const tuned_value& moved = pending[i];
        tuned_value* found = tuned_named(moved.name);
        if (found ? found->count != moved.read_count || memcmp(found->value, moved.read, found->count * sizeof(float))
                  : moved.read_count != 0)
            continue;  // a line the hand changed or took out
        if (!found && !(found = add_tuned(moved.name)))
            continue;
        found->count = moved.count;
        memcpy(found->value, moved.value, sizeof found->value);
        found->changed = unsaved = true;
    }
    free(pending);
    return all_read;
}

// At each load, after a failed one, and when the file was saved by hand: each global of the set
// reads what the file or a control gave it, or else its initial value. Without a set, only the
// file is read.
bool read_values(shader_set* set)
{
    bool all_read = read_file_lines();
    // Room for a line of each global, so that what a control or a message sets in a frame is
    // kept without an allocation there.
    if (set)
        make_room(&tuned, &tuned_room, tuned_count + set->global_count);
    for (int i = 0; set && i < set->global_count; i++) {
        global& g = set->globals[i];
        const tuned_value* found = tuned_named(g.name);
        g.set = found && g.components && found->count == g.components;
        memcpy(g.value, g.set ? found->value : g.initial[0], sizeof g.value);
        for (int c = 0; g.set && g.boolean && c < 4; c++)
            g.value[c] = g.value[c] != 0;
        if (!found || g.set || !found->line)
            continue;
        all_read = false;
        if (g.passed_over) {
            printf("Error : %s:%d: %s is ", values_path, found->line, g.name);
            printf(passed_over_why[g.passed_over], shader_source[0]);
            printf("; the line is passed over\n");
        } else {
            printf("Error : %s:%d: %s has %d number%s here and %d in %s; it keeps its initial value\n", values_path,
                   found->line, g.name, found->count, found->count == 1 ? "" : "s", g.components, shader_source[0]);
        }
    }
    return all_read;
}

// A control set g's value.
void tune(const global* g)
{
    tuned_value* found = tuned_named(g->name);
    if (!found && !(found = add_tuned(g->name))) {
        printf("Error : no memory to keep %s for %s; the control's value isn't saved\n", g->name, values_path);
        return;
    }
    found->count = g->components;
    memcpy(found->value, g->value, sizeof found->value);
    found->changed = unsaved = true;
}

// A number as short as reads back as the same float.
static int print_number(char* to, float value)
{
    int length = 0;
    for (int digits = 6; digits <= 9; digits++) {
        float back;
        length = sprintf(to, " %.*g", digits, value);
        if (sscanf(to, "%f", &back) == 1 && back == value)
            break;
    }
    return length;
}

// Characters hotfx writes, in the file's encoding.
static void put(BYTE* out, DWORD* size, const char* chars, int count)
{
    for (int i = 0; i < count; i++) {
        if (coding == utf16_be)
            out[(*size)++] = 0;
        out[(*size)++] = (BYTE)chars[i];
        if (coding == utf16_le)
            out[(*size)++] = 0;
    }
}

// Bytes of the file as read, kept as they are.
static void keep(BYTE* out, DWORD* size, DWORD from, DWORD to)
{
    if (to > from)
        memcpy(out + *size, text + from, to - from);
    *size += to > from ? to - from : 0;
}

// The line NAME = NUMBERS, then the comment of the line it takes the place of (its characters
// from comment to comment_end), then the line end.
static void put_value(BYTE* out, DWORD* size, const tuned_value& value, DWORD comment, DWORD comment_end, bool crlf)
{
    char line[160];
    int length = sprintf(line, "%s =", value.name);
    for (int c = 0; c < value.count; c++)
        length += print_number(line + length, value.value[c]);
    if (comment < comment_end)
        line[length++] = ' ';
    put(out, size, line, length);
    if (comment < comment_end)
        keep(out, size, byte_at(comment), byte_at(comment_end));
    put(out, size, crlf ? "\r\n" : "\n", 1 + crlf);
}

// The text as read, the line of each value a control changed as it is now, then the values the
// file didn't have, with the first line's line end. Returns the size.
static DWORD compose(BYTE* out, int* lines)
{
    DWORD size = 0;
    bool crlf_file = false, ended = true;
    keep(out, &size, 0, text_start);
    *lines = 1;
    for (DWORD at = 0; at < unit_count(); (*lines)++) {
        DWORD end = line_end(at), comment = at;
        bool crlf = end > at && unit_at(end - 1) == '\r';
        crlf_file |= *lines == 1 && crlf;
        while (comment < end - crlf && unit_at(comment) != '#')
            comment++;
        int i = 0;
        while (i < tuned_count && !(tuned[i].line == *lines && tuned[i].changed))
            i++;
        if (i < tuned_count)
            put_value(out, &size, tuned[i], comment, end - crlf, crlf);
        else
            keep(out, &size, byte_at(at), byte_at(end < unit_count() ? end + 1 : end));
        ended = i < tuned_count || end < unit_count();
        at = end + 1;
    }
    keep(out, &size, byte_at(unit_count()), text_size);  // half a UTF-16 character, if the file ends so
    for (int i = 0; i < tuned_count; i++) {
        if (tuned[i].line)
            continue;
        if (!ended)
            put(out, &size, crlf_file ? "\r\n" : "\n", 1 + crlf_file);
        ended = true;
        put_value(out, &size, tuned[i], 0, 0, crlf_file);
    }
    return size;
}

// Written whole into the new file, flushed to the disk, and renamed over main.values, so that
// a power loss leaves the old file or the new one. A save by hand that hotfx hasn't read yet, or
// a file it couldn't read, is read first; until the watch has read it, so that the picture
// follows the hand's lines too, only the last save at exit writes over it.
static void write_values(bool at_exit)
{
    bool read_by_hand = unread || listed_file_changed(values_path);
    saved_at = GetTickCount();
    if (read_by_hand && !at_exit)
        return;
    if (read_by_hand)
        read_file_lines();
    if (unread)
        printf("Error : %s: the controls' last values are not saved in it\n", values_path);
    BYTE* out = !unread && unsaved ? (BYTE*)malloc(text_size + tuned_count * 2 * 160 + 4) : NULL;
    if (!out)
        return;
    int number;
    DWORD size = compose(out, &number), written = 0;
    HANDLE file = CreateFileA(new_values_path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    bool whole = file != INVALID_HANDLE_VALUE && WriteFile(file, out, size, &written, NULL) && written == size &&
                 FlushFileBuffers(file);
    DWORD error = whole ? 0 : GetLastError();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    whole = whole && MoveFileExA(new_values_path, values_path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!whole) {
        // Said once; tried again at each save, the changes kept.
        if (!said_unwritable)
            printf("Error : can't write %s (error %lu); hotfx keeps trying\n", values_path,
                   (unsigned long)(error ? error : GetLastError()));
        said_unwritable = true;
        free(out);
        return;
    }
    said_unwritable = unsaved = false;
    // What hotfx wrote is no change for the watch; what it read by hand first is.
    if (!read_by_hand)
        list_written_file(values_path, out, size);
    for (int i = 0; i < tuned_count; i++) {
        tuned[i].line = tuned[i].line ? tuned[i].line : number++;
        tuned[i].changed = false;
        tuned[i].read_count = tuned[i].count;
        memcpy(tuned[i].read, tuned[i].value, sizeof tuned[i].read);
    }
    free(text);
    text = out;
    text_size = size;
}

void save_values()
{
    if (unsaved)
        write_values(true);
}

void save_values_when_due()
{
    if (unsaved && GetTickCount() - saved_at >= save_every_ms)
        write_values(false);
}
