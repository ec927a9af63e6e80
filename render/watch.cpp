#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "render/render.h"

// Reload on save. Every file a load reads comes through read_listed_file, which lists it with
// the hash of the bytes the load got: main.fx and what it includes, and the images and sounds
// that its samplers name, tried or found. The folder's change notification is looked at once a
// frame without waiting; once it has stayed quiet for a moment, the listed files whose size or
// last write time moved, or that were written a moment ago, are hashed again (main.values
// always, being small and written by hotfx itself), and a save that changed one reloads the
// shaders. So hotfx's own saves of main.values
// hash only main.values, however large the images and sounds beside it. Nothing else in the
// folder counts. There is no thread and no sleep of its own.

// Editors save in bursts: truncate then write, write a copy then rename it over, a backup
// made and removed. Before a save's last write, vim, nano and emacs left gaps of 12 ms at
// most (bench/save_gaps.py, under strace on a busy machine); a longer gap after it, while
// a lock file goes, only costs a second look at unchanged files.
static const DWORD save_quiet_ms = 20;

// A listed file that another program holds without sharing (a build, a sync tool) is looked
// at again after a pause, not in every frame. Once it has stayed busy this long it is left out
// of the comparison, said once, and not waited for again; main.fx itself is waited for.
static const DWORD busy_retry_ms = 50;
static const DWORD busy_give_up_ms = 1000;

static const DWORD watched_changes =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;

// A main.values that couldn't be read is tried again after this pause, and read once it can be.
static const DWORD unread_retry_ms = 250;

// How long after its last write a file's size and write time tell whether it changed, in the
// 100 ns steps of a file time: well past a FAT drive's two seconds and a held file's second.
static const unsigned long long settled_after = 5 * 10000000ull;

// 64-bit FNV-1a of a file's bytes; a file that wasn't there, one that was held, one that
// couldn't be read otherwise, and one whose bytes differed between two reads of the same load
// have hashes no bytes give.
static const unsigned long long fnv_basis = 14695981039346656037ull;
enum { file_absent = 0, file_read_twice_differing = 1, file_held = 2, file_unreadable = 3 };

struct listed_file {
    char name[MAX_PATH];
    unsigned long long hash;
    bool said_held;
    DWORD size;            // and the last write time, as hashed; 0 and 0 where it didn't read
    FILETIME written;
};
static listed_file listed[128];
static int listed_count = 0;

static HANDLE folder_change = NULL;
static bool change_pending = false;
static DWORD last_change_at = 0;
static DWORD look_after_ms = 0;
static DWORD busy_since = 0;
static bool busy = false;
static DWORD unread_tried_at = 0;
static bool said_full = false;

static unsigned long long fnv1a(unsigned long long hash, const BYTE* bytes, DWORD count)
{
    for (DWORD i = 0; i < count; i++)
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    return hash;
}

void begin_listing_files()
{
    listed_count = 0;
    said_full = false;
}

// A name listed twice keeps one entry; past the list's end a file is read but not watched, said
// once a load. The last entry is kept for main.values, read after everything else a load
// reads: unlisted, a control's save would take a hand's edit for unchanged and write over it.
// main.values is also read between loads, and written by hotfx: its last bytes count.
static void list_file(const char* name, unsigned long long hash, DWORD size, FILETIME written)
{
    for (int i = 0; i < listed_count; i++)
        if (lstrcmpiA(listed[i].name, name) == 0) {
            if (listed[i].hash != hash && lstrcmpiA(name, values_path) != 0) {
                listed[i].hash = file_read_twice_differing;
                listed[i].size = 0;
                listed[i].written = FILETIME{0, 0};
            }
            listed[i].hash = lstrcmpiA(name, values_path) ? listed[i].hash : hash;
            return;
        }
    const int room = (int)(sizeof listed / sizeof listed[0]);
    if (listed_count >= room - (lstrcmpiA(name, values_path) != 0)) {
        if (folder_change && !said_full)
            printf("Error : the load read more than %d files; %s and those after it aren't watched for saves\n",
                   room - 1, name);
        said_full = true;
        return;
    }
    if (strlen(name) >= sizeof listed[0].name)
        return;
    strcpy(listed[listed_count].name, name);
    listed[listed_count].hash = hash;
    listed[listed_count].said_held = false;
    listed[listed_count].size = size;
    listed[listed_count].written = written;
    listed_count++;
}

// Whether a listed file is as it was when hashed, by its size and last write time: then its
// bytes aren't read again. main.values, a file that didn't read, and one written in the last
// few seconds are always read: a FAT drive keeps write times in steps of two seconds, so two
// saves of the same size within one step look alike but for their bytes.
static bool unmoved(const listed_file* file, DWORD size, const FILETIME& written)
{
    FILETIME now;
    if (!file || !(file->size || file->written.dwLowDateTime || file->written.dwHighDateTime) ||
        !lstrcmpiA(file->name, values_path) || size != file->size ||
        written.dwLowDateTime != file->written.dwLowDateTime || written.dwHighDateTime != file->written.dwHighDateTime)
        return false;
    GetSystemTimeAsFileTime(&now);
    unsigned long long at = (unsigned long long)written.dwHighDateTime << 32 | written.dwLowDateTime;
    return ((unsigned long long)now.dwHighDateTime << 32 | now.dwLowDateTime) >= at + settled_after;
}

// The whole file in memory allocated here, with a zero byte after it, and the hash of its
// bytes; or NULL with the system's error, the hash saying absent or held, or changed where the
// file is too large to hold (saved smaller, it reads). A listed file given as known that hasn't
// moved is not read: NULL, with its hash as listed.
static BYTE* read_file(const char* name, DWORD* size, DWORD* error, unsigned long long* hash,
                       FILETIME* written = NULL, const listed_file* known = NULL)
{
    *size = 0;
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        *hash = *error == ERROR_SHARING_VIOLATION                                    ? file_held
                : *error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND ? file_absent
                                                                                     : file_unreadable;
        return NULL;
    }
    if (written && !GetFileTime(file, NULL, NULL, written))
        memset(written, 0, sizeof *written);
    DWORD expected = GetFileSize(file, NULL);
    if (written && unmoved(known, expected, *written)) {
        CloseHandle(file);
        *size = expected;
        *error = 0;
        *hash = known->hash;
        return NULL;
    }
    BYTE* bytes = expected != INVALID_FILE_SIZE ? (BYTE*)malloc(expected + 1) : NULL;
    DWORD got = 0;
    while (bytes && *size < expected && ReadFile(file, bytes + *size, expected - *size, &got, NULL) && got)
        *size += got;
    CloseHandle(file);
    *error = bytes ? 0 : ERROR_NOT_ENOUGH_MEMORY;
    *hash = bytes ? fnv1a(fnv_basis, bytes, *size) : (unsigned long long)file_read_twice_differing;
    if (bytes)
        bytes[*size] = 0;
    return bytes;
}

BYTE* read_listed_file(const char* name, DWORD* size, DWORD* error)
{
    unsigned long long hash;
    FILETIME written = {0, 0};
    BYTE* bytes = read_file(name, size, error, &hash, &written);
    list_file(name, hash, bytes ? *size : 0, written);
    return bytes;
}

// What hotfx wrote itself is no change.
void list_written_file(const char* name, const BYTE* bytes, DWORD size)
{
    FILETIME unknown = {0, 0};
    list_file(name, fnv1a(fnv_basis, bytes, size), 0, unknown);
}

// Whether a listed file's bytes are no longer those hotfx last read or wrote.
bool listed_file_changed(const char* name)
{
    for (int i = 0; i < listed_count; i++)
        if (lstrcmpiA(listed[i].name, name) == 0) {
            unsigned long long hash;
            DWORD size, error;
            free(read_file(name, &size, &error, &hash));
            return hash != listed[i].hash;
        }
    return false;
}

enum look_result { look_same, look_changed, look_incomplete, look_busy, look_values_changed };

// Whether a save changed a listed file. A save is complete once main.fx is there and holds
// something, and every listed file reads or may be left out as held.
static look_result look(bool give_up)
{
    bool changed = false, values_changed = false;
    for (int i = 0; i < listed_count; i++) {
        listed_file& file = listed[i];
        unsigned long long hash;
        DWORD size, error;
        bool shader = lstrcmpiA(file.name, shader_source[0]) == 0;
        FILETIME written = {0, 0};
        free(read_file(file.name, &size, &error, &hash, &written, &file));
        // Written again with the same bytes: not read again until it moves once more.
        if (hash == file.hash && hash > file_unreadable)
            file.size = size, file.written = written;
        if (hash == file_held) {
            if (shader || !(give_up || file.said_held || file.hash == file_held))
                return look_busy;
            // One held at the load was said by the load.
            if (!file.said_held && file.hash != file_held)
                printf("Error : %s is held by another program; reloading without waiting for it\n", file.name);
            // Read at the load, it may have changed since: what was saved beside it reloads, and
            // it is read anew. One held since the load has nothing new to give.
            bool values = lstrcmpiA(file.name, values_path) == 0;
            (values ? values_changed : changed) |= !file.said_held && file.hash != file_held;
            file.said_held = true;
            continue;
        }
        if (shader && size == 0)
            return look_incomplete;
        if (lstrcmpiA(file.name, values_path) == 0)
            values_changed |= hash != file.hash;
        else
            changed |= hash != file.hash;
    }
    return changed ? look_changed : values_changed ? look_values_changed : look_same;
}

void start_watching()
{
    // With its subfolders, where includes may lie; a change there to a file no load read costs
    // a look at the listed files, no reload.
    folder_change = FindFirstChangeNotificationA(".", TRUE, watched_changes);
    if (folder_change == INVALID_HANDLE_VALUE) {
        folder_change = NULL;
        printf("Error : can't watch this folder for saves (error %lu); F5 still reloads\n",
               (unsigned long)GetLastError());
        return;
    }
    change_pending = busy = false;
}

void stop_watching()
{
    if (folder_change) {
        FindCloseChangeNotification(folder_change);
        folder_change = NULL;
    }
}

// What a save that changed a listed file changed, once it is complete: main.values alone needs
// no compile. A busy file is tried again a pause later; an empty or missing main.fx waits for
// the next change.
// A main.values listed as held or unreadable that reads now, tried after a pause, with or
// without a change in the folder: a hold that ends without a write changes nothing there.
static bool values_readable_again()
{
    for (int i = 0; i < listed_count; i++) {
        const listed_file& file = listed[i];
        if (lstrcmpiA(file.name, values_path) != 0 || (file.hash != file_held && file.hash != file_unreadable))
            continue;
        DWORD now = GetTickCount(), size, error;
        if (now - unread_tried_at < unread_retry_ms)
            return false;
        unread_tried_at = now;
        unsigned long long hash;
        free(read_file(file.name, &size, &error, &hash));
        return hash != file_held && hash != file_unreadable;
    }
    return false;
}

saved_change saved_files_changed()
{
    // Unwatched, main.values is read at a load only, and no controls follow it.
    if (!folder_change)
        return saved_nothing;
    if (values_readable_again())
        return saved_values;
    if (WaitForSingleObject(folder_change, 0) == WAIT_OBJECT_0) {
        change_pending = true;
        last_change_at = GetTickCount();
        look_after_ms = save_quiet_ms;
        if (!FindNextChangeNotification(folder_change)) {
            printf("Error : stopped watching this folder for saves (error %lu); F5 still reloads\n",
                   (unsigned long)GetLastError());
            stop_watching();
        }
        return saved_nothing;
    }
    if (!change_pending)
        return saved_nothing;
    DWORD now = GetTickCount();
    if (now - last_change_at < look_after_ms)
        return saved_nothing;
    if (!busy)
        busy_since = now;
    look_result result = look(now - busy_since >= busy_give_up_ms);
    busy = result == look_busy;
    if (busy) {
        last_change_at = now;
        look_after_ms = busy_retry_ms;
        return saved_nothing;
    }
    change_pending = false;
    return result == look_changed ? saved_shaders : result == look_values_changed ? saved_values : saved_nothing;
}
