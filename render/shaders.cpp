#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <d3dx9.h>

#include "render/render.h"

// The file, then the vertex and pixel entry points.
const char* const shader_source[3] = {"main.fx", "vs_main", "ps_main"};
static const char vertex_profile[] = "vs_3_0";
static const char pixel_profile[] = "ps_3_0";
static const DWORD compile_flags = D3DXSHADER_OPTIMIZATION_LEVEL3 | D3DXSHADER_PREFER_FLOW_CONTROL;
// The instruction slots that vs_3_0 and ps_3_0 give a shader on every device, and the
// instructions that take more than one.
static const int profile_slots = 512;
static const struct {
    DWORD opcode;
    int slots;
} macro_slots[] = {
    {D3DSIO_LRP, 2}, {D3DSIO_M4x4, 4}, {D3DSIO_M4x3, 3}, {D3DSIO_M3x4, 4}, {D3DSIO_M3x3, 3},
    {D3DSIO_M3x2, 2}, {D3DSIO_POW, 3}, {D3DSIO_CRS, 2}, {D3DSIO_NRM, 3}, {D3DSIO_SINCOS, 8},
};
// How each compiler says that the file has no such function: Windows' D3DX and Wine's.
static const char* const entry_missing_codes[] = {"X3501", "E5005"};

struct sampler_default {
    D3DSAMPLERSTATETYPE state;
    DWORD value;
};
static const sampler_default sampler_settings[] = {
    {D3DSAMP_MAGFILTER, D3DTEXF_LINEAR},
    {D3DSAMP_MINFILTER, D3DTEXF_LINEAR},
    {D3DSAMP_MIPFILTER, D3DTEXF_LINEAR},
    {D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP},
    {D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP},
};
// What else a sampler_state may set, put back for a sampler whose declaration doesn't: the
// device keeps what the last shaders set.
static const sampler_default declared_defaults[] = {
    {D3DSAMP_ADDRESSW, D3DTADDRESS_WRAP},
    {D3DSAMP_BORDERCOLOR, 0},
    {D3DSAMP_MAXANISOTROPY, 1},
    {D3DSAMP_MIPMAPLODBIAS, 0},
};

// c0.x is the time; every other component of the registers uploaded (c0 to c63 without
// options) stays 0, but for the named inputs and the globals, which ps_main has in registers of
// its own where it declares any, and which may reach past c63 in the vertex stage's. Emptied
// with the drawn set, as far as its plans wrote.
float shader_constants[vertex_registers][4];

// With an option: what a shader declares by name, the last good set drawn on through a failed
// load, and the files a load reads listed for --watch.
static bool named_inputs = false;
static bool controls_shown = false;
// --frame and --frames: what can't be drawn again the same reads silence.
static bool exact_frames = false;

// The drawn set and the one a load builds beside it: only a load that made every stage
// replaces the drawn one, so a typo leaves the last good shaders drawing, fed and bound.
static shader_set sets[2];
static shader_set* drawn = &sets[0];
static shader_set* loading = &sets[1];

// What the source says beside its code, read from it preprocessed as the compiler reads it. A
// file that won't preprocess won't compile either, which says why.
static bool read_source_declarations(shader_set* set)
{
    ID3DXBuffer* text = NULL;
    HRESULT status = D3DXPreprocessShaderFromFileA(shader_source[0], NULL, source_reader, &text, NULL);
    close_source_files();
    char* source = text ? (char*)malloc(text->GetBufferSize() + 1) : NULL;
    bool known = true;
    if (status == D3D_OK && source) {
        memcpy(source, text->GetBufferPointer(), text->GetBufferSize());
        source[text->GetBufferSize()] = 0;
        known = read_declarations(source, set);
    } else {
        read_declarations("", set);
    }
    free(source);
    if (text)
        text->Release();
    return known;
}

static void print_pass_order(const shader_set& set);
static void print_slots(const shader_set& set);

// Images, passes and the previous frame are read as sampler 0 is, but for what the sampler's
// sampler_state sets.
static void set_sampler_states_of(DWORD sampler, const char* name)
{
    for (const auto& setting : sampler_settings)
        device->SetSamplerState(sampler, setting.state, setting.value);
    for (int i = 0; named_inputs && i < (int)(sizeof declared_defaults / sizeof declared_defaults[0]); i++)
        device->SetSamplerState(sampler, declared_defaults[i].state, declared_defaults[i].value);
    for (int i = 0; name && i < drawn->setting_count; i++)
        if (strcmp(drawn->settings[i].sampler, name) == 0)
            device->SetSamplerState(sampler, drawn->settings[i].state, drawn->settings[i].value);
}

// The registers that a stage's plan wrote and it uploads, emptied for the next set's.
static void empty_registers(float (*registers)[4], int count)
{
    for (int r = 0; r < count; r++)
        memset(registers[r], 0, sizeof registers[r]);
}

static void release_set(shader_set* set)
{
    if (set->vertex)
        set->vertex->Release();
    set->vertex = NULL;
    for (int i = 0; i < set->pass_count; i++) {
        pass& p = set->passes[i];
        if (p.shader)
            p.shader->Release();
        p.shader = NULL;
        if (p.reads.registers == p.registers)
            empty_registers(p.registers, p.reads.register_count);
        release_inputs(&p.reads);
        p.reads_itself = false;
        p.read_at_count = 0;
    }
    release_inputs(&set->vertex_reads);
    if (set->keyboard)
        set->keyboard->Release();
    set->keyboard = NULL;
    set->pass_count = set->global_count = set->setting_count = 0;
    set->carries_state = set->reads_previous_frame = set->keys_given = set->listens = false;
}

// The drawn set goes: its sound stops first, and what the device holds of it is unbound.
void release_shaders()
{
    play_sound(NULL);
    give_keys_to_shaders(false);
    forget_bindings(true);
    int written = drawn->vertex_reads.register_count;
    written = drawn->passes[0].reads.register_count > written ? drawn->passes[0].reads.register_count : written;
    release_set(drawn);
    empty_registers(shader_constants, written);
}
static bool says(const char* text, int length, const char* word)
{
    for (int at = 0, size = (int)strlen(word); at + size <= length; at++)
        if (memcmp(text + at, word, size) == 0)
            return true;
    return false;
}

// Compiles one entry point of the file as it is on disk now. Returns the code, or NULL after
// printing why there is none; an entry that may be missing is not an error when it is.
// Compiler warnings that come with code are dropped.
static ID3DXBuffer* compile(const char* entry, const char* profile, ID3DXConstantTable** table, bool* missing)
{
    ID3DXBuffer* code = NULL;
    ID3DXBuffer* messages = NULL;
    HRESULT status = D3DXCompileShaderFromFileA(shader_source[0], NULL,
                                                named_inputs ? source_reader : NULL, entry, profile,
                                                compile_flags, &code, &messages, named_inputs ? table : NULL);
    close_source_files();
    // The text need not end in a zero byte, so it is measured within the buffer's size; with
    // memchr, as mingw-w64 links strnlen into the exe from a library of its own.
    const char* text = messages ? (const char*)messages->GetBufferPointer() : NULL;
    const char* end = text ? (const char*)memchr(text, 0, messages->GetBufferSize()) : NULL;
    int length = text ? (int)((end ? end : text + messages->GetBufferSize()) - text) : 0;
    bool absent = missing && status != D3D_OK && says(text, length, entry) &&
                  (says(text, length, entry_missing_codes[0]) || says(text, length, entry_missing_codes[1]));
    if (missing)
        *missing = absent;
    if (absent)
        ;  // not an error: the sampler reads an image instead
    else if (status != D3D_OK && length > 0 && named_inputs)
        print_compiler_messages(text, length);
    else if (status != D3D_OK && length > 0)
        printf("Error : %.*s\n", length, text);
    else if (status != D3D_OK)
        printf("Error : %s: %s (%s) failed to compile, status 0x%08X, no message from the compiler\n",
               shader_source[0], entry, profile, (unsigned)status);
    else if (!code)
        printf("Error : %s: %s (%s) compiled to nothing\n", shader_source[0], entry, profile);
    if (messages)
        messages->Release();
    if (status != D3D_OK && code) {
        code->Release();
        code = NULL;
    }
    if (!code && *table) {
        (*table)->Release();
        *table = NULL;
    }
    return code;
}

// The slots the code's instructions take: one each but the macros above; declarations,
// constants and comments take none.
static int slots_of(ID3DXBuffer* code)
{
    const DWORD* token = (const DWORD*)code->GetBufferPointer();
    const DWORD* end = token + code->GetBufferSize() / sizeof(DWORD);
    int slots = 0;
    for (token++; token < end && *token != D3DSIO_END;) {
        DWORD opcode = *token & D3DSI_OPCODE_MASK;
        if (opcode == D3DSIO_COMMENT) {
            token += 1 + ((*token & D3DSI_COMMENTSIZE_MASK) >> D3DSI_COMMENTSIZE_SHIFT);
            continue;
        }
        int taken = opcode != D3DSIO_DCL && opcode != D3DSIO_DEF && opcode != D3DSIO_DEFB && opcode != D3DSIO_DEFI;
        for (const auto& macro : macro_slots)
            taken = opcode == macro.opcode ? macro.slots : taken;
        slots += taken;
        token += 1 + ((*token & D3DSI_INSTLENGTH_MASK) >> D3DSI_INSTLENGTH_SHIFT);
    }
    return slots;
}

static void report_refused(const char* entry, const char* stage, HRESULT status)
{
    printf("Error : %s compiled, but the device refused it as a %s shader (status 0x%08X)\n", entry, stage,
           (unsigned)status);
}

static void find_passes(shader_set* set, stage_inputs* reads);

static bool create_vertex_shader(shader_set* set)
{
    ID3DXConstantTable* table = NULL;
    ID3DXBuffer* code = compile(shader_source[1], vertex_profile, &table, NULL);
    if (!code)
        return false;
    HRESULT status = device->CreateVertexShader((const DWORD*)code->GetBufferPointer(), &set->vertex);
    set->vertex_slots = named_inputs ? slots_of(code) : 0;
    code->Release();
    if (table) {
        read_inputs(set, 0, table, &set->vertex_reads);
        table->Release();
    }
    find_passes(set, &set->vertex_reads);
    if (status == D3D_OK)
        return true;
    set->vertex = NULL;
    report_refused(shader_source[1], "vertex", status);
    return false;
}

// Makes the pixel shader of one record from its entry point and reads what it declares.
// Returns false after saying why it has none (or, where missing is given, silently when the
// file has no such function).
static bool create_pixel_shader(shader_set* set, pass* p, const char* entry, bool* missing)
{
    ID3DXConstantTable* table = NULL;
    ID3DXBuffer* code = compile(entry, pixel_profile, &table, missing);
    if (!code)
        return false;
    HRESULT status = device->CreatePixelShader((const DWORD*)code->GetBufferPointer(), &p->shader);
    p->slots = named_inputs ? slots_of(code) : 0;
    code->Release();
    if (table) {
        read_inputs(set, 1, table, &p->reads);
        table->Release();
    }
    if (status != D3D_OK) {
        p->shader = NULL;
        report_refused(entry, "pixel", status);
        return false;
    }
    find_passes(set, &p->reads);
    return true;
}

// The record of the pass a sampler names, made from ps_NAME where main.fx has it. Returns -1
// where the file has no such function (the sampler is an image), -2 where the pass can't be
// made (it reads black).
static int pass_named(shader_set* set, const char* name)
{
    for (int i = 1; i < set->pass_count; i++)
        if (strcmp(set->passes[i].name, name) == 0)
            return i;
    int limit = (int)(sizeof set->passes / sizeof set->passes[0]);
    char entry[sizeof set->passes[0].name + 3] = "ps_";
    strcpy(entry + 3, name);
    bool missing = false;
    if (set->pass_count == limit) {
        ID3DXConstantTable* table = NULL;
        ID3DXBuffer* code = compile(entry, pixel_profile, &table, &missing);
        if (!code)
            return missing ? -1 : -2;
        code->Release();
        if (table)
            table->Release();
        printf("Error : sampler %s: more passes than ps_3_0 has samplers (%d); it reads black\n", name, limit - 1);
        return -2;
    }
    pass* p = &set->passes[set->pass_count];
    strcpy(p->name, name);
    // Counted first, so that a pass that reads itself finds its own record.
    set->pass_count++;
    if (create_pixel_shader(set, p, entry, &missing))
        return (int)(p - set->passes);
    // Nothing was found through it, so it is still the last record.
    release_inputs(&p->reads);
    set->pass_count--;
    return missing ? -1 : -2;
}

// Each sampler of a stage that is not a named input reads a pass where main.fx has ps_NAME,
// even if an image of that name lies beside it (a screenshot of the pass must not hide it),
// and an image otherwise.
static void find_passes(shader_set* set, stage_inputs* reads)
{
    for (int i = 0; i < reads->count; i++) {
        input& in = reads->inputs[i];
        if (in.kind < input_image || in.kind > input_volume || !in.name[0])
            continue;
        // A cube map or a volume is never a pass.
        int found = in.stage && in.kind == input_image ? pass_named(set, in.name) : -1;
        if (found >= 0) {
            in.kind = input_pass;
            in.pass = found;
        } else {
            reads->failed |= found == -2 || !load_sampler_file(&in);
        }
    }
}

// Depth first from ps_main: each pass comes after the passes it reads, so it reads what they
// drew this frame. A pass that reads itself, or one still open on the way (a cycle), reads
// what it drew the frame before.
static void visit(shader_set* set, int record, BYTE* state, int* placed)
{
    state[record] = 1;
    pass& p = set->passes[record];
    for (int i = 0; i < p.reads.count; i++) {
        const input& in = p.reads.inputs[i];
        if (in.kind != input_pass)
            continue;
        if (in.pass == record)
            p.reads_itself = true;
        else if (state[in.pass] == 0)
            visit(set, in.pass, state, placed);
        set->carries_state |= in.pass == record || state[in.pass] == 1;
    }
    set->carries_state |= p.reads.reads_previous_frame;
    state[record] = 2;
    set->order[(*placed)++] = record;
}

static void order_passes(shader_set* set)
{
    BYTE state[sizeof set->passes / sizeof set->passes[0]] = {0};
    int placed = 0;
    visit(set, 0, state, &placed);
    set->carries_state |= set->vertex_reads.reads_previous_frame;
}

// The track that plays with the time: the first sound a stage reads.
static const track* first_sound(const stage_inputs& reads)
{
    for (int i = 0; i < reads.count; i++)
        if (reads.inputs[i].kind == input_sound && reads.inputs[i].sound.mono)
            return &reads.inputs[i].sound;
    return NULL;
}

// The vertex stage's first, then each pixel stage's in the order they were found.
static const track* first_sound(const shader_set& set)
{
    const track* sound = first_sound(set.vertex_reads);
    for (int i = 0; i < set.pass_count && !sound; i++)
        sound = first_sound(set.passes[i].reads);
    return sound;
}

static bool reads_constants(const stage_inputs& reads)
{
    for (int i = 0; i < reads.count; i++)
        if (reads.inputs[i].kind < input_previous_frame || reads.inputs[i].kind == input_global)
            return true;
    return false;
}

// Whether any stage of the set has the flag set.
static bool any_stage(const shader_set& set, bool stage_inputs::*flag)
{
    bool found = set.vertex_reads.*flag;
    for (int i = 0; i < set.pass_count; i++)
        found |= set.passes[i].reads.*flag;
    return found;
}

// Every stage is rebuilt from the file every time. Without options a load starts from
// nothing, so a failed stage, and every stage after it, stays without a shader until the next
// load. With one, the last good set draws on, with its inputs and passes, until a load makes
// every stage; the passes it keeps by name keep what they drew, and the clock stays where it is.
void load_shaders()
{
    if (!named_inputs) {
        release_shaders();
    } else {
        // Listed whether or not the compiler opens the file through the include callback.
        DWORD size, error;
        begin_listing_files();
        free(read_listed_file(shader_source[0], &size, &error));
    }
    shader_set* set = loading;
    set->pass_count = 1;
    set->passes[0].name[0] = 0;
    bool declarations_known = !named_inputs || read_source_declarations(set);
    bool complete = create_vertex_shader(set) && create_pixel_shader(set, &set->passes[0], shader_source[2], NULL);
    if (!complete && named_inputs) {
        // main.values is read still, saved beside the shaders in one go, and applies to the set
        // that draws on: it is then listed under the bytes applied, so that a control's save
        // neither takes it for unchanged nor writes over it.
        release_set(set);
        read_values(shaders_loaded() ? drawn : NULL);
        if (controls_shown && shaders_loaded())
            show_controls(drawn);
        return;
    }
    // A sampler state or a value that isn't known here fails --frame as an input would.
    bool values_read = !named_inputs || read_values(set);
    set->vertex_reads.failed |= !declarations_known || !values_read;
    order_passes(set);
    set->reads_previous_frame = any_stage(*set, &stage_inputs::reads_previous_frame);
    if (any_stage(*set, &stage_inputs::reads_keyboard) && !make_keyboard(set))
        set->passes[0].reads.failed = true;
    release_shaders();
    set->load_number = drawn->load_number + 1;
    loading = drawn;
    drawn = set;
    bool own_registers = reads_constants(set->vertex_reads) || reads_constants(set->passes[0].reads);
    plan_stage(set, &set->vertex_reads, shader_constants);
    plan_stage(set, &set->passes[0].reads, own_registers ? set->passes[0].registers : shader_constants);
    for (int i = 1; i < set->pass_count; i++)
        plan_stage(set, &set->passes[i].reads, set->passes[i].registers);
    if (!complete)
        return;
    printf("Load Shader.\n");
    print_pass_order(*set);
    if (named_inputs)
        print_slots(*set);
    if (!make_device_resources(set))
        set->passes[0].reads.failed = true;
    set_sampler_states();
    give_keys_to_shaders(set->keyboard != NULL);
    play_sound(first_sound(*set));
    set->listens = any_stage(*set, &stage_inputs::listens);
    if (set->listens) {
        start_listening(exact_frames);
        restart_totals();
    }
    if (controls_shown)
        show_controls(set);
}

shader_set* drawn_set()
{
    return drawn;
}

bool shaders_loaded()
{
    return drawn->vertex && drawn->passes[0].shader;
}

bool inputs_failed()
{
    return any_stage(*drawn, &stage_inputs::failed);
}

bool carries_state()
{
    return drawn->carries_state;
}

// A sampler that reads a pass where the device can't filter what passes hold.
static void read_point_by_point(DWORD sampler)
{
    device->SetSamplerState(sampler, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    device->SetSamplerState(sampler, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    device->SetSamplerState(sampler, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
}

// After a complete load, and again after a reset of the device, which forgets them.
void set_sampler_states()
{
    set_sampler_states_of(0, NULL);
    for (int stage = 0; stage <= drawn->pass_count; stage++) {
        const stage_inputs& reads = stage ? drawn->passes[stage - 1].reads : drawn->vertex_reads;
        for (int i = 0; i < reads.count; i++) {
            if (reads.inputs[i].kind >= input_previous_frame && reads.inputs[i].kind != input_global)
                set_sampler_states_of(reads.inputs[i].index, reads.inputs[i].name);
            // Floats that not every device filters.
            if (reads.inputs[i].kind == input_sound_in_total)
                read_point_by_point(reads.inputs[i].index);
        }
    }
    // Where the device can't filter what passes hold, a sampler that reads a pass in any stage
    // reads point by point, whatever another stage reads through it.
    for (int i = 1; i < drawn->pass_count && !passes_filtered(); i++)
        for (int j = 0; j < drawn->passes[i].read_at_count; j++) {
            read_point_by_point(drawn->passes[i].read_at[j]);
        }
}

// Passes and ps_main share the pixel samplers: where the shaders declare sampler states, each
// pixel stage sets its own samplers' states before it draws, as the last stage set at the load
// would otherwise decide them for all.
void set_stage_sampler_states(const stage_inputs& reads)
{
    for (int i = 0; i < reads.count; i++) {
        const input& in = reads.inputs[i];
        if (in.kind < input_previous_frame || in.kind == input_global)
            continue;
        set_sampler_states_of(in.index, in.name);
        if (in.kind == input_pass && !passes_filtered())
            read_point_by_point(in.index);
    }
}

// What each stage's code takes of the slots it has, in the order they run.
static void print_slots(const shader_set& set)
{
    printf("Slots: %s %d", shader_source[1], set.vertex_slots);
    for (int i = 0; i < set.pass_count - 1; i++)
        printf(", %s %d", set.passes[set.order[i]].name, set.passes[set.order[i]].slots);
    printf(", %s %d of %d\n", shader_source[2], set.passes[0].slots, profile_slots);
}

static void print_pass_order(const shader_set& set)
{
    if (set.pass_count < 2)
        return;
    printf("Passes in order:");
    for (int i = 0; i < set.pass_count - 1; i++)
        printf(" %s", set.passes[set.order[i]].name);
    printf("\n");
}

void use_named_inputs(bool use, bool watching, bool exact)
{
    named_inputs = use;
    exact_frames = exact;
    controls_shown = watching;
}
