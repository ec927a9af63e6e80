#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "render/render.h"

// What main.fx says of its globals beyond what the compiler's constant table keeps: their
// annotations, whether they have an initial value, and the samplers' sampler_state blocks.
// Read from the preprocessed source (macros expanded, includes in place) with a tokenizer of
// its own, as Wine's compiler can't build an effect with sampler states.

static const struct {
    const char* name;
    D3DSAMPLERSTATETYPE state;
} state_names[] = {
    {"MinFilter", D3DSAMP_MINFILTER},     {"MagFilter", D3DSAMP_MAGFILTER},         {"MipFilter", D3DSAMP_MIPFILTER},
    {"AddressU", D3DSAMP_ADDRESSU},       {"AddressV", D3DSAMP_ADDRESSV},           {"AddressW", D3DSAMP_ADDRESSW},
    {"BorderColor", D3DSAMP_BORDERCOLOR}, {"MaxAnisotropy", D3DSAMP_MAXANISOTROPY}, {"MipMapLodBias", D3DSAMP_MIPMAPLODBIAS},
};
struct value_name {
    const char* name;
    DWORD value;
};
static const value_name filter_names[] = {
    {"None", D3DTEXF_NONE}, {"Point", D3DTEXF_POINT}, {"Linear", D3DTEXF_LINEAR}, {"Anisotropic", D3DTEXF_ANISOTROPIC},
};
static const value_name address_names[] = {
    {"Wrap", D3DTADDRESS_WRAP},     {"Mirror", D3DTADDRESS_MIRROR},         {"Clamp", D3DTADDRESS_CLAMP},
    {"Border", D3DTADDRESS_BORDER}, {"MirrorOnce", D3DTADDRESS_MIRRORONCE},
};

// The annotations that make a control.
static const char* const ui_names[] = {"UIName", "UIMin", "UIMax", "UIStep", "UIWidget"};

// The globals of the source last read, for the load that reads it: a table that grows, kept
// for the next load.
static declaration* declarations = NULL;
static int declaration_count = 0, declaration_room = 0;
static bool out_of_memory = false;  // some were left out, as the heap had no room: said once

// The tokenizer: a name or number, a string without its quotes, or one other character; empty
// at the end.
static const char* at;
static char token[64];
static bool quoted;

static void next()
{
    for (;;) {
        at += strspn(at, " \t\r\n");
        if (at[0] == '/' && at[1] == '*')
            at = strstr(at + 2, "*/") ? strstr(at + 2, "*/") + 2 : at + strlen(at);
        else if ((at[0] == '/' && at[1] == '/') || at[0] == '#')  // a comment, the preprocessor's #line
            at += strcspn(at, "\n");
        else
            break;
    }
    quoted = *at == '"';
    const char* start = at + quoted;
    size_t length = quoted ? strcspn(start, "\"\n") : 0;
    // A number's exponent takes its sign: 1e-3 is one token.
    bool numeric = isdigit((BYTE)*start) || (*start == '.' && isdigit((BYTE)start[1]));
    while (!quoted && (isalnum((BYTE)start[length]) || start[length] == '_' || start[length] == '.' ||
                       (numeric && start[length] && strchr("+-", start[length]) && strchr("eE", start[length - 1]))))
        length++;
    length += !quoted && !length && *start;
    at = start + length + (quoted && start[length] == '"');
    length = length < sizeof token ? length : sizeof token - 1;
    memcpy(token, start, length);
    token[length] = 0;
}

static bool is(const char* word)
{
    return !quoted && lstrcmpiA(token, word) == 0;
}

static bool at_end()
{
    return !*token && !quoted;
}

// How deep in brackets the token leaves the text; in a function's body < is a comparison.
static int nesting(int depth)
{
    return depth + (is("(") || is("{") || is("[")) - (is(")") || is("}") || is("]"));
}

// Past the bracket just opened, and all it holds.
static void skip_nested()
{
    for (int depth = nesting(0); depth > 0 && !at_end(); depth = nesting(depth))
        next();
}

// The tokens of a value up to the ; or } that ends it (or the > that ends annotations), a sign
// joined to its number; <texture> is a value.
static int read_value(char words[6][64])
{
    int count = 0, depth = 0;
    bool minus = false;
    for (next(); !at_end() && (depth > 0 || !(is(";") || is("}") || is(">"))); next()) {
        depth = nesting(depth) + is("<") - (is(">") && depth > 0);
        if (is("-"))
            minus = true;
        else if (count < 6 && (quoted || isalnum((BYTE)*token) || *token == '_' || *token == '.'))
            sprintf(words[count++], "%s%.62s", minus ? "-" : "", token), minus = false;
    }
    return count;
}

static bool named(const char* word, const value_name* names, int count, DWORD* value)
{
    for (int i = 0; i < count; i++)
        if (lstrcmpiA(word, names[i].name) == 0)
            return (*value = names[i].value), true;
    return false;
}

// With the C runtime's sscanf: mingw-w64's strtod would bring a runtime of its own into the exe.
static bool number(const char* word, float* value)
{
    int used = 0;
    return sscanf(word, "%f%n", value, &used) == 1 && (!word[used] || (strchr("fF", word[used]) && !word[used + 1]));
}

// Where the heap has no room, the state is left out, and that is said once, at the end.
static bool add_setting(shader_set* set, const char* sampler, D3DSAMPLERSTATETYPE state, DWORD value)
{
    if (!make_room(&set->settings, &set->setting_room, set->setting_count + 1))
        return out_of_memory = true;
    sampler_setting& setting = set->settings[set->setting_count++];
    strcpy(setting.sampler, sampler);
    setting.state = state;
    setting.value = value;
    return true;
}

// Filter = MIN_MAG_MIP_LINEAR, MIN_POINT_MAG_LINEAR_MIP_POINT, ANISOTROPIC, ...: each of MIN, MAG
// and MIP takes the filter named after it.
static bool read_filter(shader_set* set, const char* sampler, const char* word)
{
    static const D3DSAMPLERSTATETYPE parts[3] = {D3DSAMP_MINFILTER, D3DSAMP_MAGFILTER, D3DSAMP_MIPFILTER};
    if (lstrcmpiA(word, "Anisotropic") == 0)
        word = "MIN_MAG_ANISOTROPIC_MIP_LINEAR";
    bool waiting[3] = {false, false, false}, any = false;
    for (const char* part = word; *part; part += *part == '_') {
        size_t length = strcspn(part, "_");
        char name[64];
        sprintf(name, "%.*s", (int)length, part);
        part += length;
        DWORD value;
        int which = lstrcmpiA(name, "MIN") == 0 ? 0 : lstrcmpiA(name, "MAG") == 0 ? 1 : lstrcmpiA(name, "MIP") == 0 ? 2 : -1;
        if (which >= 0) {
            waiting[which] = true;
        } else if (named(name, filter_names, 4, &value)) {
            for (int i = 0; i < 3; i++)
                if (waiting[i] && add_setting(set, sampler, parts[i], value))
                    waiting[i] = false, any = true;
        } else {
            return false;
        }
    }
    return any && !waiting[0] && !waiting[1] && !waiting[2];
}

// One STATE = VALUE of a sampler_state block. Returns what isn't known here of it, or NULL.
static const char* read_state(shader_set* set, const char* sampler, const char* state, char words[6][64], int count)
{
    if (lstrcmpiA(state, "Texture") == 0)  // the texture comes by the sampler's name
        return NULL;
    if (lstrcmpiA(state, "Filter") == 0)
        return count == 1 && read_filter(set, sampler, words[0]) ? NULL : "value";
    int found = 0, known = (int)(sizeof state_names / sizeof state_names[0]);
    while (found < known && lstrcmpiA(state, state_names[found].name))
        found++;
    if (found == known)
        return "state";
    D3DSAMPLERSTATETYPE type = state_names[found].state;
    DWORD value = 0;
    float f[4] = {0, 0, 0, 1};
    bool ok;
    if (type == D3DSAMP_BORDERCOLOR) {
        // float4(r, g, b, a) or { r, g, b, a }, each 0 to 1
        int first = lstrcmpiA(words[0], "float4") == 0;
        ok = count - first == 4;
        for (int i = 0; i < 4 && ok; i++) {
            ok = number(words[first + i], &f[i]);
            float c = f[i] < 0 ? 0 : f[i] > 1 ? 1 : f[i];
            value |= (DWORD)(c * 255 + 0.5f) << (i == 3 ? 24 : 16 - 8 * i);
        }
    } else if (type == D3DSAMP_MAXANISOTROPY || type == D3DSAMP_MIPMAPLODBIAS) {
        ok = count == 1 && number(words[0], &f[0]) && (type == D3DSAMP_MIPMAPLODBIAS || f[0] >= 1);
        if (type == D3DSAMP_MAXANISOTROPY)
            value = f[0] < 16 ? (DWORD)f[0] : 16;  // as far as devices go
        else
            memcpy(&value, &f[0], sizeof value);
    } else {
        bool address = type == D3DSAMP_ADDRESSU || type == D3DSAMP_ADDRESSV || type == D3DSAMP_ADDRESSW;
        ok = count == 1 && (address ? named(words[0], address_names, 5, &value) : named(words[0], filter_names, 4, &value));
    }
    return ok && add_setting(set, sampler, type, value) ? NULL : "value";
}

// { STATE = VALUE; ... } of the sampler: each state known here becomes a setting of the set; an
// unknown one is said, and the sampler keeps the default for it.
static bool read_sampler_state(shader_set* set, const char* sampler)
{
    bool all_known = true;
    next();
    if (!is("{"))
        return true;
    for (next(); !at_end() && !is("}"); next()) {
        char state[64], words[6][64];
        strcpy(state, token);
        next();
        if (!is("="))
            continue;
        int count = read_value(words);
        const char* unknown = read_state(set, sampler, state, words, count);
        if (unknown) {
            printf("Error : sampler %s: no such %s as %s = %s in its sampler_state; it keeps the default for it\n",
                   sampler, unknown, state, count ? words[0] : "");
            all_known = false;
        }
        if (is("}"))
            break;
    }
    return all_known;
}

// < type NAME = VALUE; ... >: the UI annotations of a global; others are passed over.
static void read_annotations(global* ui)
{
    for (next(); !at_end() && !is(">"); next()) {
        char name[64], words[6][64];
        next();
        strcpy(name, token);
        if (!is(">"))
            next();
        if (is(">"))
            break;
        if (!is("="))
            continue;
        int count = read_value(words);
        float value = 0;
        for (const char* ui_name : ui_names)
            ui->annotated |= strcmp(name, ui_name) == 0;
        if (count && strcmp(name, "UIName") == 0)
            memcpy(ui->label, words[0], sizeof ui->label);
        else if (count && strcmp(name, "UIWidget") == 0)
            ui->colour = lstrcmpiA(words[0], "Color") == 0 || lstrcmpiA(words[0], "Colour") == 0;
        else if (count && number(words[0], &value))
            *(strcmp(name, "UIMin") == 0 ? &ui->low : strcmp(name, "UIMax") == 0 ? &ui->high
              : strcmp(name, "UIStep") == 0 ? &ui->step : &value) = value;
        if (is(">"))
            break;
    }
}

static void declare(declaration* current)
{
    global& ui = current->annotations;
    // Where the heap has no room, a global is known by its table's entry alone.
    out_of_memory |= current->name[0] && !make_room(&declarations, &declaration_room, declaration_count + 1);
    if (current->name[0] && declaration_count < declaration_room) {
        if (!ui.label[0])
            strcpy(ui.label, current->name);
        if (ui.low > ui.high) {
            float low = ui.high;
            ui.high = ui.low;
            ui.low = low;
        }
        ui.order = declaration_count;
        declarations[declaration_count++] = *current;
    }
    memset(current, 0, sizeof *current);
    current->annotations.high = 1;
}

// The source's top-level statements: a global's declaration ends at its ; (or , before the
// next of the same type), a function's or a struct's at its closing brace. Returns false where
// a sampler_state says what isn't known here.
bool read_declarations(const char* source, shader_set* set)
{
    declaration current = {};
    bool after_colon = false, all_known = true;
    declaration_count = 0;
    out_of_memory = false;
    declare(&current);
    at = source;
    for (next(); !at_end(); next()) {
        if (is(";") || is(",")) {
            declare(&current);
            after_colon = false;
        } else if (is("(") && !after_colon) {
            // A function: its parameters, then its body or the ; of a prototype.
            skip_nested();
            while (!at_end() && !is("{") && !is(";"))
                next();
            if (is("{"))
                skip_nested();
            memset(&current, 0, sizeof current);
            declare(&current);
        } else if (is("{")) {
            // A struct's or a technique's body: what it declares isn't a global.
            skip_nested();
            memset(&current, 0, sizeof current);
            declare(&current);
        } else if (is("(") || is("[")) {
            skip_nested();
        } else if (is(":")) {
            after_colon = true;
        } else if (is("<") && (strcmp(current.name, "vector") == 0 || strcmp(current.name, "matrix") == 0)) {
            // vector<float, 3>, matrix<float, 4, 4>: the type's arguments
            while (!at_end() && !is(">"))
                next();
            current.name[0] = 0;
        } else if (is("<")) {
            read_annotations(&current.annotations);
        } else if (is("=")) {
            current.initialised = true;
            next();
            if (is("sampler_state")) {
                all_known &= read_sampler_state(set, current.name);
                next();
            }
            for (int depth = 0; !at_end() && (depth > 0 || !(is(";") || is(","))); next())
                depth = nesting(depth);
            declare(&current);
            after_colon = false;
        } else if (!after_colon && (isalpha((BYTE)*token) || *token == '_')) {
            memcpy(current.name, token, sizeof current.name);
        }
    }
    if (out_of_memory)
        printf("Error : %s: no memory left to read all it declares; some initial values, annotations or sampler states "
               "are left out\n", shader_source[0]);
    return all_known && !out_of_memory;
}

const declaration* declared(const char* name)
{
    for (int i = 0; i < declaration_count; i++)
        if (strcmp(declarations[i].name, name) == 0)
            return &declarations[i];
    return NULL;
}
