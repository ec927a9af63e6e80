#include <stdio.h>
#include <string.h>

#include "render/render.h"

// Reload on save. The folder's change notification is looked at once a frame without waiting;
// once it has stayed quiet for a moment, the files that count are hashed, and a save that
// changed them reloads the shaders. There is no thread, no allocation and no sleep of its own.

// Editors save in bursts: truncate then write, write a copy then rename it over, a backup
// made and removed. Before a save's last write, vim, nano and emacs left gaps of 12 ms at
// most (bench/save_gaps.py, under strace on a busy machine); a longer gap after it, while
// a lock file goes, only costs a second look at unchanged files.
static const DWORD save_quiet_ms = 20;

// A counted file that another program holds without sharing (a build, a sync tool) is looked
// at again after a pause, not in every frame. Once it has stayed busy this long it is left out
// of the comparison, and from then on at once for as long as it stays busy; main.fx itself is
// waited for.
static const DWORD busy_retry_ms = 50;
static const DWORD busy_give_up_ms = 1000;

static const DWORD watched_changes =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;

// The shader and what it may include, then the images a sampler may name: only those that a
// sampler of the loaded shaders names count (image_read_by_shaders), so that a picture saved
// beside the shader reloads nothing and a folder of textures is not read at every swap file.
// Names that begin with one of these are editors' swap, lock and backup files
// (".main.fx.swp", ".#main.fx", "#main.fx#", "~$main.fx"); the names of their temporary copies
// end otherwise (".tmp", "~", "___jb_tmp___", Kate's random six).
const char* const counted_extensions[] = {".fx", ".fxh", ".hlsl", ".hlsli", ".h", ".inc", ".png",
                                                   ".jpg", ".jpeg", ".bmp", ".dds", ".tga"};
static const size_t source_kinds = 6;
static const char uncounted_starts[] = ".#~";

static HANDLE folder_change = NULL;
static bool change_pending = false;
static DWORD last_change_at = 0;
static DWORD look_after_ms = 0;
static DWORD busy_since = 0;
static bool busy = false;
// The counted files left out as held, by the hash of their names: each is said once and not
// waited for while it stays held. Past this many, the rest are said again at every save.
static unsigned long long left_out[32];
static int left_out_count = 0;
// Of the counted files as last loaded: 64-bit FNV-1a of each file's name and bytes, summed.
// Which images count follows the shaders, so their part is taken again once they have loaded;
// the sources' part stays as the reload was decided on.
static unsigned long long loaded_hash = 0;
static unsigned long long loaded_sources = 0;
static bool sources_decided = false;
static bool hash_after_load = false;
static const unsigned long long fnv_basis = 14695981039346656037ull;
static BYTE read_buffer[4096];

enum save_state { save_complete, save_incomplete, save_busy };

// Windows compares file names without regard to case; the names compared with are ASCII, in
// lower case, and hold no character that the case bit would turn into another (such as '_').
bool same_name(const char* name, const char* lower)
{
    while (*lower && (*name == *lower || (*name | 0x20) == *lower))
        name++, lower++;
    return *name == *lower;
}

// From the name's last dot on, or its end when it has none.
const char* extension_of(const char* name)
{
    const char* extension = name + strlen(name);
    for (const char* at = name; *at; at++)
        if (*at == '.')
            extension = at;
    return extension;
}

static bool is_source(const char* name)
{
    for (size_t i = 0; i < source_kinds; i++)
        if (same_name(extension_of(name), counted_extensions[i]))
            return true;
    return false;
}

static bool counts(const char* name)
{
    return !strchr(uncounted_starts, name[0]) && (is_source(name) || image_read_by_shaders(name));
}

static unsigned long long fnv1a(unsigned long long hash, const BYTE* bytes, DWORD count)
{
    for (DWORD i = 0; i < count; i++)
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    return hash;
}

static bool held_before(unsigned long long name_hash)
{
    for (int i = 0; i < left_out_count; i++)
        if (left_out[i] == name_hash)
            return true;
    return false;
}

// Adds one file's hash, begun with its name's, to *hash and counts its bytes into *size. A file
// the editor still holds without sharing is busy; one gone since the folder was listed is
// incomplete.
static save_state hash_file(const char* name, unsigned long long own, unsigned long long* hash, DWORD* size)
{
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION ? save_busy : save_incomplete;
    DWORD got = 0;
    BOOL read;
    *size = 0;
    while ((read = ReadFile(file, read_buffer, sizeof read_buffer, &got, NULL)) && got) {
        own = fnv1a(own, read_buffer, got);
        *size += got;
    }
    CloseHandle(file);
    *hash += own;
    return read ? save_complete : save_busy;
}

// A save is complete once main.fx is there, holds something, and every counted file reads
// or may be left out. Only a complete look says which held files are still held.
static save_state hash_folder(unsigned long long* hash, unsigned long long* sources, bool give_up)
{
    *hash = *sources = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return save_incomplete;
    bool shader_seen = false;
    unsigned long long held[sizeof left_out / sizeof left_out[0]];
    int held_count = 0;
    do {
        const char* name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !counts(name))
            continue;
        unsigned long long own = fnv1a(fnv_basis, (const BYTE*)name, (DWORD)strlen(name));
        DWORD size = 0;
        unsigned long long before = *hash;
        save_state file = hash_file(name, own, hash, &size);
        if (is_source(name))
            *sources += *hash - before;
        bool shader = same_name(name, shader_source[0]);
        bool known = held_before(own);
        if (file == save_busy && (shader || !(give_up || known))) {
            FindClose(search);
            return save_busy;
        }
        if (file == save_busy && !known) {
            printf("Error : %s is held by another program; reloading without waiting for it\n", name);
            if (left_out_count < (int)(sizeof left_out / sizeof left_out[0]))
                left_out[left_out_count++] = own;
        }
        if (file == save_busy && held_count < (int)(sizeof held / sizeof held[0]))
            held[held_count++] = own;
        if (shader)
            shader_seen = file == save_complete && size > 0;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    memcpy(left_out, held, sizeof held[0] * held_count);
    left_out_count = held_count;
    return shader_seen ? save_complete : save_incomplete;
}

void start_watching()
{
    folder_change = FindFirstChangeNotificationA(".", FALSE, watched_changes);
    if (folder_change == INVALID_HANDLE_VALUE) {
        folder_change = NULL;
        printf("Error : can't watch this folder for saves (error %lu); F5 still reloads\n",
               (unsigned long)GetLastError());
        return;
    }
    change_pending = busy = sources_decided = false;
    left_out_count = 0;
    loaded_hash = 0;
    hash_after_load = true;
}

void stop_watching()
{
    if (folder_change) {
        FindCloseChangeNotification(folder_change);
        folder_change = NULL;
    }
}

// True once a save that changed a counted file is complete. A busy file is tried again a pause
// later; an empty or missing main.fx waits for the next change.
bool saved_shaders_changed()
{
    if (!folder_change)
        return false;
    if (WaitForSingleObject(folder_change, 0) == WAIT_OBJECT_0) {
        // A change since the load: what was loaded is no longer on disk to be hashed, so the
        // save is compared with the hash before the load.
        hash_after_load = false;
        change_pending = true;
        last_change_at = GetTickCount();
        look_after_ms = save_quiet_ms;
        if (!FindNextChangeNotification(folder_change)) {
            printf("Error : stopped watching this folder for saves (error %lu); F5 still reloads\n",
                   (unsigned long)GetLastError());
            stop_watching();
        }
        return false;
    }
    unsigned long long hash, sources;
    if (hash_after_load) {
        hash_after_load = false;
        // Wine signals a change a moment after its bytes can be read, so the sources here may
        // already be a save that came as the shaders loaded: what loaded is the sources the
        // reload was decided on, with the images the new shaders name.
        if (hash_folder(&hash, &sources, true) == save_complete)
            loaded_hash = hash - sources + (sources_decided ? loaded_sources : sources);
        return false;
    }
    if (!change_pending)
        return false;
    DWORD now = GetTickCount();
    if (now - last_change_at < look_after_ms)
        return false;
    if (!busy)
        busy_since = now;
    save_state state = hash_folder(&hash, &sources, now - busy_since >= busy_give_up_ms);
    busy = state == save_busy;
    if (busy) {
        last_change_at = now;
        look_after_ms = busy_retry_ms;
        return false;
    }
    change_pending = false;
    if (state != save_complete || hash == loaded_hash)
        return false;
    loaded_hash = hash;
    loaded_sources = sources;
    sources_decided = hash_after_load = true;
    return true;
}
