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
static DWORD saved_at = 0;

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
            return "a number that isn't finite";
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

// The file's lines into the table, each error said with the line, which an editor can go to.
static bool read_file_lines()
{
    DWORD size, error;
    free(text);
    text = (char*)read_listed_file(values_path, &size, &error);
    tuned_count = 0;
    bool all_read = true;
    int number = 1;
    for (char* line = text; line && *line; number++) {
        size_t length = strcspn(line, "\n");
        char copy[256] = "", name[64];
        float value[4];
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
    return all_read;
}

// At each load and when the file was saved by hand: each global of the set reads what the file
// or a control gave it, or else its initial value. A control's change not yet written is
// written first, so that the file holds it when it is read.
bool read_values(shader_set* set)
{
    save_values();
    bool all_read = read_file_lines();
    for (int i = 0; i < set->global_count; i++) {
        global& g = set->globals[i];
        const tuned_value* found = g.components ? tuned_named(g.name) : NULL;
        g.set = found && found->count == g.components;
        memcpy(g.value, g.set ? found->value : g.initial[0], sizeof g.value);
        for (int c = 0; g.set && g.boolean && c < 4; c++)
            g.value[c] = g.value[c] != 0;
        if (found && !g.set) {
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

static int print_value(char* to, const tuned_value& value)
{
    int length = sprintf(to, "%s =", value.name);
    for (int c = 0; c < value.count; c++)
        length += print_number(to + length, value.value[c]);
    to[length++] = '\n';
    return length;
}

// The lines as read, each value's line as it is now, then the values the file didn't have.
void save_values()
{
    if (!unsaved)
        return;
    unsaved = false;
    saved_at = GetTickCount();
    size_t kept = text ? strlen(text) : 0;
    char* out = (char*)malloc(kept + 2 + tuned_count * 160);
    if (!out)
        return;
    int size = 0, number = 1;
    for (char* line = text; line && *line; number++) {
        size_t length = strcspn(line, "\n");
        int i = 0;
        while (i < tuned_count && !(tuned[i].line == number && tuned[i].changed))
            i++;
        if (i < tuned_count)
            size += print_value(out + size, tuned[i]);
        else
            memcpy(out + size, line, length), size += (int)length, out[size++] = '\n';
        line += length + (line[length] == '\n');
    }
    for (int i = 0; i < tuned_count; i++)
        if (!tuned[i].line)
            size += print_value(out + size, tuned[i]);
    out[size] = 0;
    HANDLE file = CreateFileA(new_values_path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    bool whole = file != INVALID_HANDLE_VALUE && WriteFile(file, out, size, &written, NULL) && written == (DWORD)size;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    whole = whole && MoveFileExA(new_values_path, values_path, MOVEFILE_REPLACE_EXISTING);
    if (!whole) {
        printf("Error : can't write %s (error %lu); hotfx tries again after the next change\n", values_path,
               (unsigned long)GetLastError());
        free(out);
        return;
    }
    // What was written is what was read, and is no change for the watch.
    list_written_file(values_path, (const BYTE*)out, size);
    for (int i = 0; i < tuned_count; i++) {
        tuned[i].line = tuned[i].line ? tuned[i].line : number++;
        tuned[i].changed = false;
    }
    free(text);
    text = out;
}

void save_values_when_due()
{
    if (unsaved && GetTickCount() - saved_at >= save_every_ms)
        save_values();
}
