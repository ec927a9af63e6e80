#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <d3dx9.h>

#include "render/render.h"

// The text the compiler reads, with an option: main.fx and every file it includes come through
// the compiler's include callback from read_listed_file, as their authors' editors saved them
// but for two things Wine's compiler refuses that the Windows one takes, each made so that every
// other byte stays on its line and column: a UTF-8 byte-order mark at the start is dropped, and
// a sampler_state's Texture = <NAME>; (the effect framework's texture, which hotfx binds by the
// sampler's name anyway) is blanked with spaces.
static const char byte_order_mark[] = "\xEF\xBB\xBF";

// The compiler's include callback, laid out as its C binding is: the object is a pointer to a
// table of the two calls. An include is read relative to the folder of the file that includes it.
struct open_file {
    LPCVOID data;
    char path[MAX_PATH];
};
static open_file open_files[16];

// Whether the last compile read a file that main.fx includes: Wine's compiler counts the lines
// of the included text as lines of main.fx.
static bool included = false;

// To say where a message's line came from, the sources are read once more through the
// preprocessor, each line that can hold code starting with a marker that names its file and
// line; the preprocessor keeps the markers of the lines it keeps, on the lines it puts them.
static bool marking = false;
static const char marker[] = "hotfx_line_";
static char (*marked_files)[MAX_PATH] = NULL;
static int marked_count = 0;
static int marked_room = 0;

// Where each line the compiler counts came from: its file's index among those marked, from 1,
// and its line there; 0 for a line with no marker before it.
struct origin {
    int file;
    unsigned long line;
};

// Whether the text at `at` is the word, in any case, with no letter, digit or _ either side.
static bool word_at(const char* at, const char* word)
{
    size_t length = strlen(word);
    for (size_t i = 0; i < length; i++)
        if (tolower((unsigned char)at[i]) != word[i])
            return false;
    return !isalnum((unsigned char)at[-1]) && at[-1] != '_' && !isalnum((unsigned char)at[length]) && at[length] != '_';
}

// Spaces over each Texture = <...>; of a sampler_state block; line breaks stay.
static void blank_texture_names(char* text)
{
    static const char spaces[] = " \t\r\n";
    for (char* block = strstr(text, "sampler_state"); block; block = strstr(block + 1, "sampler_state")) {
        char* open = strchr(block, '{');
        char* close = open ? strchr(open, '}') : NULL;
        for (char* at = open; close && at < close; at++) {
            char* end = word_at(at, "texture") ? at + 7 + strspn(at + 7, spaces) : NULL;
            end = end && *end == '=' ? end + 1 + strspn(end + 1, spaces) : NULL;
            end = end && *end == '<' ? strchr(end, '>') : NULL;
            end = end && end < close ? end + 1 + strspn(end + 1, spaces) : NULL;
            if (!end || *end != ';')
                continue;
            for (; at < end; at++)
                *at = *at == '\n' || *at == '\r' ? *at : ' ';
            *at = ' ';
        }
    }
}

// The file's index among those marked, added the first time it is read.
static int marked_file(const char* path)
{
    for (int i = 0; i < marked_count; i++)
        if (strcmp(marked_files[i], path) == 0)
            return i;
    if (marked_count == marked_room) {
        int room = marked_room ? marked_room * 2 : 16;
        void* grown = realloc(marked_files, room * sizeof marked_files[0]);
        if (!grown)
            return -1;
        marked_files = (char(*)[MAX_PATH])grown;
        marked_room = room;
    }
    strcpy(marked_files[marked_count], path);
    return marked_count++;
}

// The text with a marker before each line but directives and the lines that continue one.
static BYTE* mark_lines(const BYTE* text, DWORD size, const char* path, DWORD* marked_size)
{
    int file = marked_file(path);
    DWORD lines = 1;
    for (DWORD i = 0; i < size; i++)
        lines += text[i] == '\n';
    char* marked = file >= 0 ? (char*)malloc(size + lines * (sizeof marker + 24) + 1) : NULL;
    if (!marked)
        return NULL;
    char* out = marked;
    DWORD line = 1;
    for (DWORD at = 0; at <= size; line++) {
        const BYTE* end = (const BYTE*)memchr(text + at, '\n', size - at);
        DWORD length = end ? (DWORD)(end - (text + at)) + 1 : size - at;
        DWORD indent = 0;
        while (indent < length && (text[at + indent] == ' ' || text[at + indent] == '\t'))
            indent++;
        bool continued = (at >= 2 && text[at - 2] == '\\') || (at >= 3 && text[at - 2] == '\r' && text[at - 3] == '\\');
        if (!continued && (indent == length || text[at + indent] != '#'))
            out += sprintf(out, "%s%d_%lu ", marker, file, (unsigned long)line);
        memcpy(out, text + at, length);
        out += length;
        at += end ? length : size + 1;
    }
    *out = 0;
    *marked_size = (DWORD)(out - marked);
    return (BYTE*)marked;
}

static HRESULT WINAPI open_include(ID3DXInclude*, D3DXINCLUDE_TYPE, LPCSTR name, LPCVOID parent, LPCVOID* data,
                                   UINT* bytes)
{
    open_file* slot = NULL;
    const char* folder_of = "";
    size_t folder_length = 0;
    bool within = false;
    for (open_file& file : open_files) {
        if (!file.data && !slot)
            slot = &file;
        if (parent && file.data == parent)
            folder_of = file.path;
        within |= file.data != NULL;
    }
    for (const char* at = folder_of; *at; at++)
        if (*at == '/' || *at == '\\')
            folder_length = at + 1 - folder_of;
    bool absolute = name[0] == '/' || name[0] == '\\' || (name[0] && name[1] == ':');
    if (absolute)
        folder_length = 0;
    if (!slot || folder_length + strlen(name) >= sizeof slot->path)
        return E_FAIL;
    memcpy(slot->path, folder_of, folder_length);
    strcpy(slot->path + folder_length, name);
    // main.fx is opened first and stays open while the compiler reads what it includes.
    included = within;
    DWORD size = 0, error = 0;
    BYTE* text = read_listed_file(slot->path, &size, &error);
    if (text && size >= 3 && memcmp(text, byte_order_mark, 3) == 0)
        memmove(text, text + 3, (size -= 3) + 1);
    if (text)
        blank_texture_names((char*)text);
    if (text && marking) {
        BYTE* marked = mark_lines(text, size, slot->path, &size);
        free(text);
        text = marked;
        error = marked ? 0 : ERROR_NOT_ENOUGH_MEMORY;
    }
    slot->data = *data = text;
    *bytes = size;
    return *data ? S_OK : HRESULT_FROM_WIN32(error);
}

static HRESULT WINAPI close_include(ID3DXInclude*, LPCVOID data)
{
    for (open_file& file : open_files)
        if (file.data == data)
            file.data = NULL;
    free((void*)data);
    return S_OK;
}

static const struct {
    HRESULT(WINAPI* open)(ID3DXInclude*, D3DXINCLUDE_TYPE, LPCSTR, LPCVOID, LPCVOID*, UINT*);
    HRESULT(WINAPI* close)(ID3DXInclude*, LPCVOID);
} include_calls = {open_include, close_include};
static const void* const include_object = &include_calls;
ID3DXInclude* const source_reader = (ID3DXInclude*)&include_object;

// A compiler that gave up inside an include may not have closed it.
void close_source_files()
{
    for (open_file& file : open_files) {
        free((void*)file.data);
        file.data = NULL;
    }
}

// Past the end of the line that starts at `at`.
static const char* line_end(const char* at, const char* end)
{
    const char* feed = (const char*)memchr(at, '\n', end - at);
    return feed ? feed + 1 : end;
}

// The file and line of the first marker between at and end, if there is one.
static bool read_marker(const char* at, const char* end, origin* marked)
{
    for (; end - at >= (long)sizeof marker; at++) {
        if (memcmp(at, marker, sizeof marker - 1) != 0)
            continue;
        char numbers[32] = "";
        size_t length = end - at - (sizeof marker - 1);
        memcpy(numbers, at + sizeof marker - 1, length < sizeof numbers - 1 ? length : sizeof numbers - 1);
        return sscanf(numbers, "%d_%lu", &marked->file, &marked->line) == 2 && marked->file >= 0 &&
               marked->file < marked_count;
    }
    return false;
}

// The origin of each line of the text, by the compiler's count: it counts no line of the
// preprocessed text that starts with '#' (a #pragma kept for it). A line without a marker is
// the line after the one before it. Allocated here, one entry a line and one past the last.
static origin* origins_of(const char* text, const char* text_end, long* count)
{
    long lines = 2;
    for (const char* at = text; at < text_end; at++)
        lines += *at == '\n';
    origin* origins = (origin*)calloc(lines, sizeof(origin));
    long counted = 1;
    for (const char* at = text; origins && at < text_end;) {
        const char* end = line_end(at, text_end);
        origin marked = {0, 0};
        if (!origins[counted].file && read_marker(at, end, &marked))
            origins[counted] = {marked.file + 1, marked.line};
        counted += *at != '#' && end[-1] == '\n';
        at = end;
    }
    for (long i = 2; origins && i <= counted; i++)
        if (!origins[i].file && origins[i - 1].file)
            origins[i] = {origins[i - 1].file, origins[i - 1].line + 1};
    *count = counted;
    return origins;
}

// The sources preprocessed once more, each line marked, and where each line came from; NULL
// if the preprocessor failed.
static origin* trace_lines(long* count)
{
    ID3DXBuffer* text = NULL;
    marking = true;
    HRESULT status = D3DXPreprocessShaderFromFileA(shader_source[0], NULL, source_reader, &text, NULL);
    close_source_files();
    marking = false;
    const char* start = text ? (const char*)text->GetBufferPointer() : NULL;
    origin* origins = status == D3D_OK && text ? origins_of(start, start + text->GetBufferSize(), count) : NULL;
    if (text)
        text->Release();
    return origins;
}

// The line of a message that the compiler placed in main.fx, 0 for any other; `after` is
// where what follows the number begins. The compiler's text need not end in a zero byte. Its
// preprocessor's messages (E4xxx, W4xxx) count lines as they are, and are left as they are.
static long compiled_line(const char* at, const char* end, const char** after)
{
    size_t name = strlen(shader_source[0]);
    if ((size_t)(end - at) <= name || memcmp(at, shader_source[0], name) != 0 || at[name] != ':')
        return 0;
    long line = 0;
    const char* digit = at + name + 1;
    for (; digit < end && isdigit((unsigned char)*digit) && line < 100000000; digit++)
        line = line * 10 + (*digit - '0');
    *after = digit;
    const char* code = digit + 1;
    while (code < end && isdigit((unsigned char)*code))
        code++;
    bool preprocessor = end - code > 3 && code[0] == ':' && (code[2] == 'E' || code[2] == 'W') && code[3] == '4';
    return digit < end && *digit == ':' && !preprocessor ? line : 0;
}

// The compiler's messages after "Error : ", as it wrote them but that a line of an included file
// is given as that file's: its path from main.fx's folder and its own line.
void print_compiler_messages(const char* text, int length)
{
    const char* end = text + length;
    const char* after = NULL;
    bool placed = false;
    for (const char* at = text; included && at < end; at = line_end(at, end))
        placed |= compiled_line(at, end, &after) > 0;
    long count = 0;
    origin* origins = placed ? trace_lines(&count) : NULL;
    if (!origins) {
        printf("Error : %.*s\n", length, text);
    } else {
        printf("Error : ");
        for (const char* at = text; at < end; at = line_end(at, end)) {
            long line = compiled_line(at, end, &after);
            if (line > 0 && line <= count && origins[line].file)
                printf("%s:%lu%.*s", marked_files[origins[line].file - 1], origins[line].line,
                       (int)(line_end(at, end) - after), after);
            else
                printf("%.*s", (int)(line_end(at, end) - at), at);
        }
        printf("\n");
    }
    free(origins);
    free(marked_files);
    marked_files = NULL;
    marked_count = marked_room = 0;
}
