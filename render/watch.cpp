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

// The shader, what it may include and the images it may read. Names that begin with one of
// these are editors' swap, lock and backup files (".main.fx.swp", ".#main.fx", "#main.fx#",
// "~$main.fx"); the names of their temporary copies end otherwise (".tmp", "~", "___jb_tmp___", Kate's random six).
const char* const counted_extensions[] = {".fx", ".fxh", ".hlsl", ".hlsli", ".h", ".inc", ".png",
                                                   ".jpg", ".jpeg", ".bmp", ".dds", ".tga"};
static const char uncounted_starts[] = ".#~";

static HANDLE folder_change = NULL;
static bool change_pending = false;
static DWORD last_change_at = 0;
static DWORD look_after_ms = 0;
static DWORD busy_since = 0;
static bool busy = false;
static char left_out[MAX_PATH];
// Of the counted files as last loaded: 64-bit FNV-1a of each file's name and bytes, summed.
static unsigned long long loaded_hash = 0;
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

static bool counts(const char* name)
{
    if (strchr(uncounted_starts, name[0]))
        return false;
    for (const char* counted : counted_extensions)
        if (same_name(extension_of(name), counted))
            return true;
    return false;
}

static unsigned long long fnv1a(unsigned long long hash, const BYTE* bytes, DWORD count)
{
    for (DWORD i = 0; i < count; i++)
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    return hash;
}

// Adds one file's hash to *hash and counts its bytes into *size. A file the editor still
// holds without sharing is busy; one gone since the folder was listed is incomplete.
static save_state hash_file(const char* name, unsigned long long* hash, DWORD* size)
{
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION ? save_busy : save_incomplete;
    unsigned long long own = fnv1a(14695981039346656037ull, (const BYTE*)name, (DWORD)strlen(name));
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
// or may be left out.
static save_state hash_folder(unsigned long long* hash, bool give_up)
{
    *hash = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return save_incomplete;
    save_state state = save_incomplete;
    bool shader_seen = false, any_left_out = false;
    do {
        const char* name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !counts(name))
            continue;
        DWORD size = 0;
        save_state file = hash_file(name, hash, &size);
        bool shader = same_name(name, shader_source[0]);
        bool known = strcmp(name, left_out) == 0;
        if (file == save_busy && (shader || !(give_up || known))) {
            state = save_busy;
            break;
        }
        if (file == save_busy && !known) {
            printf("Error : %s is held by another program; reloading without waiting for it\n", name);
            strcpy(left_out, name);
        }
        any_left_out |= file == save_busy;
        if (shader)
            shader_seen = file == save_complete && size > 0;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    if (state != save_busy && !any_left_out)
        left_out[0] = 0;
    return state == save_busy ? save_busy : shader_seen ? save_complete : save_incomplete;
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
    change_pending = false;
    if (hash_folder(&loaded_hash, false) != save_complete)
        loaded_hash = 0;
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
    if (!change_pending)
        return false;
    DWORD now = GetTickCount();
    if (now - last_change_at < look_after_ms)
        return false;
    if (!busy)
        busy_since = now;
    unsigned long long hash;
    save_state state = hash_folder(&hash, now - busy_since >= busy_give_up_ms);
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
    return true;
}
