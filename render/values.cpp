#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "render/render.h"

// main.values: what the author tuned, beside main.fx, so that --frame and --frames draw the
// picture that was seen. Lines NAME = V1 V2 V3 V4, as many numbers as the global has
// components; # starts a comment. A control's change is written a moment later, at most a few
// times a second, and at exit, through a new file renamed over the old one. The file is kept
// as it was read, lines of globals no longer declared and lines that didn't parse included:
// the line of a value a control changed is written anew, and a new name goes at the end.
const char values_path[] = "main.values";
static const char new_values_path[] = "main.values.new";
static const DWORD save_every_ms = 250;

struct tuned_value {
    char name[64];
    BYTE count;
    float value[4];
    int line;        // where main.values has it, or 0 where only a control set it
    bool changed;    // by a control since the file was read or written
};
static tuned_value tuned[64];
static int tuned_count = 0;
static char* text = NULL;  // the file as last read
static bool unsaved = false;
static bool said_unwritable = false;
static DWORD saved_at = 0;

// One line's name and numbers, comment and blanks aside. Returns NULL for a line that is only
// a comment or blank, else the error, or "" where it parses.
static const char* parse_line(char* line, char* name, float* value, int* count)
{
    line[strcspn(line, "#\r\n")] = 0;
    if (memcmp(line, "\xEF\xBB\xBF", 3) == 0)  // an editor's UTF-8 mark
        line += 3;
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

// The file's lines into the table, each error said with the line, which an editor can go to;
// what a control changed and hotfx hasn't written yet goes over them.
static bool read_file_lines()
{
    static tuned_value pending[sizeof tuned / sizeof tuned[0]];
    int pending_count = 0;
    for (int i = 0; i < tuned_count; i++)
        if (tuned[i].changed)
            pending[pending_count++] = tuned[i];
    DWORD size, error;
    free(text);
    text = (char*)read_listed_file(values_path, &size, &error);
    tuned_count = 0;
    bool all_read = true;
    int number = 1;
    for (char* line = text; line && *line; number++) {
        size_t length = strcspn(line, "\n");
        char copy[256] = "", name[64];
        float value[4] = {0, 0, 0, 0};
        int count;
        memcpy(copy, line, length < sizeof copy - 1 ? length : sizeof copy - 1);
        line += length + (line[length] == '\n');
        const char* problem = parse_line(copy, name, value, &count);
        if (problem && *problem) {
            printf("Error : %s:%d: %s; the line is left out\n", values_path, number, problem);
            all_read = false;
        }
        tuned_value* found = problem && !*problem ? tuned_named(name) : NULL;
        if (problem && !*problem && !found && tuned_count < (int)(sizeof tuned / sizeof tuned[0]))
            found = &tuned[tuned_count++];
        if (found) {
            strcpy(found->name, name);
            found->count = (BYTE)count;
            memcpy(found->value, value, sizeof value);
            found->line = number;
            found->changed = false;
        }
    }
    for (int i = 0; i < pending_count; i++) {
        tuned_value* found = tuned_named(pending[i].name);
        if (!found && tuned_count < (int)(sizeof tuned / sizeof tuned[0]))
            (found = &tuned[tuned_count++])->line = 0;
        if (found) {
            strcpy(found->name, pending[i].name);
            found->count = pending[i].count;
            memcpy(found->value, pending[i].value, sizeof found->value);
            found->changed = true;
        }
    }
    return all_read;
}

// At each load and when the file was saved by hand: each global of the set reads what the file
// or a control gave it, or else its initial value.
bool read_values(shader_set* set)
{
    bool all_read = read_file_lines();
    for (int i = 0; i < set->global_count; i++) {
        global& g = set->globals[i];
        const tuned_value* found = g.components ? tuned_named(g.name) : NULL;
        g.set = found && found->count == g.components;
        memcpy(g.value, g.set ? found->value : g.initial[0], sizeof g.value);
        for (int c = 0; g.set && g.boolean && c < 4; c++)
            g.value[c] = g.value[c] != 0;
        if (found && !g.set && found->line) {
            printf("Error : %s:%d: %s has %d number%s here and %d in %s; it keeps its initial value\n", values_path,
                   found->line, g.name, found->count, found->count == 1 ? "" : "s", g.components, shader_source[0]);
            all_read = false;
        }
    }
    return all_read;
}

// A control set g's value.
void tune(const global* g)
{
    tuned_value* found = tuned_named(g->name);
    if (!found && tuned_count == (int)(sizeof tuned / sizeof tuned[0]))
        return;
    if (!found) {
        found = &tuned[tuned_count++];
        strcpy(found->name, g->name);
        found->line = 0;
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

// The line NAME = NUMBERS, with the comment and the line end of the line it takes the place of.
static int print_value(char* to, const tuned_value& value, const char* comment, size_t comment_length, bool crlf)
{
    int length = sprintf(to, "%s =", value.name);
    for (int c = 0; c < value.count; c++)
        length += print_number(to + length, value.value[c]);
    if (comment_length)
        length += sprintf(to + length, " %.*s", (int)comment_length, comment);
    if (crlf)
        to[length++] = '\r';
    to[length++] = '\n';
    return length;
}

// The lines as read, the line of each value a control changed as it is now, then the values the
// file didn't have. A save by hand that hotfx hasn't read yet is read first, and the watch then
// sees the file changed, so that the picture follows the hand's lines too; until the watch has
// read it, only the last save at exit writes over it.
static void write_values(bool at_exit)
{
    bool read_by_hand = listed_file_changed(values_path);
    saved_at = GetTickCount();
    if (read_by_hand && !at_exit)
        return;
    if (read_by_hand)
        read_file_lines();
    size_t kept = text ? strlen(text) : 0;
    char* out = (char*)malloc(2 * kept + 2 + tuned_count * 160);
    if (!out)
        return;
    int number = 1;
    DWORD size = 0;
    for (char* line = text; line && *line; number++) {
        size_t length = strcspn(line, "\n");
        bool crlf = length && line[length - 1] == '\r';
        size_t comment = strcspn(line, "#\n") < length - crlf ? strcspn(line, "#\n") : length - crlf;
        int i = 0;
        while (i < tuned_count && !(tuned[i].line == number && tuned[i].changed))
            i++;
        if (i < tuned_count)
            size += print_value(out + size, tuned[i], line + comment, length - crlf - comment, crlf);
        else
            memcpy(out + size, line, length), size += (DWORD)length, out[size++] = '\n';
        line += length + (line[length] == '\n');
    }
    for (int i = 0; i < tuned_count; i++)
        if (!tuned[i].line)
            size += print_value(out + size, tuned[i], "", 0, false);
    out[size] = 0;
    HANDLE file = CreateFileA(new_values_path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    bool whole = file != INVALID_HANDLE_VALUE && WriteFile(file, out, size, &written, NULL) && written == size;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    whole = whole && MoveFileExA(new_values_path, values_path, MOVEFILE_REPLACE_EXISTING);
    if (!whole) {
        // Said once; tried again at each save, the changes kept.
        if (!said_unwritable)
            printf("Error : can't write %s (error %lu); hotfx keeps trying\n", values_path, (unsigned long)GetLastError());
        said_unwritable = true;
        free(out);
        return;
    }
    said_unwritable = unsaved = false;
    // What hotfx wrote is no change for the watch; what it read by hand first is.
    if (!read_by_hand)
        list_written_file(values_path, (const BYTE*)out, size);
    for (int i = 0; i < tuned_count; i++) {
        tuned[i].line = tuned[i].line ? tuned[i].line : number++;
        tuned[i].changed = false;
    }
    free(text);
    text = out;
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
