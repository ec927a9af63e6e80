// The stand-in's current folder: the file, search and change-notification calls of Windows,
// logged like every other call, over the files a test puts into standin().folder.
#include "standin.h"

#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <algorithm>

namespace {

HANDLE const change_handle = (HANDLE)0x7C00;

standin_folder& folder()
{
    return standin().folder;
}

void log(const std::string& call)
{
    standin().calls.push_back(call);
}

std::string handle_name(HANDLE handle)
{
    if (handle == change_handle)
        return "change";
    auto open = folder().open.find((uintptr_t)handle);
    if (open == folder().open.end())
        return handle == INVALID_HANDLE_VALUE ? "INVALID_HANDLE_VALUE" : "unknown handle";
    return open->second.name == "*" ? "search" : "file";
}

void changed()
{
    if (folder().watched)
        folder().signalled = true;
}

HANDLE fail(DWORD error)
{
    folder().last_error = error;
    return INVALID_HANDLE_VALUE;
}

HANDLE opened(standin_open record)
{
    uintptr_t handle = folder().next_handle++;
    folder().open[handle] = record;
    return (HANDLE)handle;
}

// The record of an open file or search, or null after noting the misuse.
standin_open* find_open(HANDLE handle, const char* call)
{
    auto open = folder().open.find((uintptr_t)handle);
    if (open != folder().open.end())
        return &open->second;
    standin().faults.push_back(std::string(call) + " given a handle that is not open");
    return nullptr;
}

bool found_next(standin_open* search, LPWIN32_FIND_DATAA found)
{
    // A name listed when the search began may be gone by now, as on a real folder.
    while (search->at < search->names.size()) {
        const std::string& name = search->names[search->at++];
        auto file = folder().files.find(name);
        if (file == folder().files.end())
            continue;
        memset(found, 0, sizeof *found);
        found->dwFileAttributes = file->second.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
        found->nFileSizeLow = DWORD(file->second.bytes.size());
        snprintf(found->cFileName, sizeof found->cFileName, "%s", name.c_str());
        return true;
    }
    folder().last_error = 18;   // ERROR_NO_MORE_FILES
    return false;
}

}  // namespace

void standin_write(const std::string& name, const std::string& bytes)
{
    folder().files[name].bytes = bytes;
    folder().files[name].written = folder().now;
    changed();
}

void standin_remove(const std::string& name)
{
    folder().files.erase(name);
    changed();
}

void standin_rename(const std::string& from, const std::string& to)
{
    folder().files[to] = folder().files[from];
    folder().files.erase(from);
    changed();
}

HANDLE WINAPI FindFirstChangeNotificationA(LPCSTR path, BOOL subtree, DWORD filter)
{
    char call[128];
    snprintf(call, sizeof call, "FindFirstChangeNotificationA(\"%s\", %d, 0x%x)", path, subtree, filter);
    log(call);
    if (folder().notification_fails)
        return fail(ERROR_ACCESS_DENIED);
    if (folder().watched)
        standin().faults.push_back("a second change notification on the folder");
    folder().watched = true;
    folder().signalled = false;
    return change_handle;
}

BOOL WINAPI FindNextChangeNotification(HANDLE change)
{
    log("FindNextChangeNotification(" + handle_name(change) + ")");
    if (change != change_handle || !folder().watched)
        standin().faults.push_back("FindNextChangeNotification without a notification");
    if (folder().rearm_fails) {
        folder().last_error = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    folder().signalled = false;
    return TRUE;
}

BOOL WINAPI FindCloseChangeNotification(HANDLE change)
{
    log("FindCloseChangeNotification(" + handle_name(change) + ")");
    if (change != change_handle || !folder().watched)
        standin().faults.push_back("FindCloseChangeNotification without a notification");
    folder().watched = false;
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds)
{
    log("WaitForSingleObject(" + handle_name(object) + ", " + std::to_string(milliseconds) + ")");
    if (milliseconds != 0)
        standin().faults.push_back("a wait that may block the frame");
    return object == change_handle && folder().signalled ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

DWORD WINAPI GetTickCount()
{
    log("GetTickCount()");
    return folder().now;
}

// The same clock, counted in milliseconds.
BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count)
{
    log("QueryPerformanceCounter()");
    count->QuadPart = folder().now;
    return TRUE;
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency)
{
    frequency->QuadPart = 1000;
    return TRUE;
}

DWORD WINAPI GetLastError()
{
    log("GetLastError()");
    return folder().last_error;
}

HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA found)
{
    log(std::string("FindFirstFileA(\"") + pattern + "\", found)");
    if (strcmp(pattern, "*") != 0)
        standin().faults.push_back("the stand-in lists the whole folder only");
    if (folder().gone)
        return fail(ERROR_PATH_NOT_FOUND);
    standin_open search;
    search.name = "*";
    for (auto& file : folder().files)
        search.names.push_back(file.first);
    if (!found_next(&search, found))
        return fail(ERROR_FILE_NOT_FOUND);
    return opened(search);
}

BOOL WINAPI FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA found)
{
    log("FindNextFileA(" + handle_name(search) + ", found)");
    standin_open* open = find_open(search, "FindNextFileA");
    return open && found_next(open, found);
}

BOOL WINAPI FindClose(HANDLE search)
{
    log("FindClose(" + handle_name(search) + ")");
    if (find_open(search, "FindClose"))
        folder().open.erase((uintptr_t)search);
    return TRUE;
}

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE template_file)
{
    char call[400];
    snprintf(call, sizeof call, "CreateFileA(\"%s\", 0x%x, 0x%x, %s, %u, 0x%x, %s)", name, access, share,
             security ? "security" : "NULL", disposition, flags, template_file ? "template" : "NULL");
    log(call);
    // Names are compared as Windows compares them, without regard to case.
    auto file = std::find_if(folder().files.begin(), folder().files.end(),
                             [&](const std::pair<const std::string, standin_file>& f) { return strcasecmp(f.first.c_str(), name) == 0; });
    bool create = disposition == CREATE_ALWAYS && (access & GENERIC_WRITE);
    if (folder().gone || (file == folder().files.end() && !create))
        return fail(ERROR_FILE_NOT_FOUND);
    if (file != folder().files.end() && file->second.locked)
        return fail(ERROR_SHARING_VIOLATION);
    if (file != folder().files.end() && file->second.denied)
        return fail(ERROR_ACCESS_DENIED);
    standin_open record;
    record.name = file != folder().files.end() ? file->first : std::string(name);
    record.writing = create;
    if (create)
        standin_write(record.name, "");
    return opened(record);
}

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped)
{
    log("ReadFile(" + handle_name(handle) + ", buffer, " + std::to_string(size) + ", read, " +
        (overlapped ? "overlapped" : "NULL") + ")");
    standin_open* open = find_open(handle, "ReadFile");
    *read = 0;
    if (!open)
        return FALSE;
    // A file removed while open reads nothing more.
    auto file = folder().files.find(open->name);
    const std::string bytes = file != folder().files.end() ? file->second.bytes : std::string();
    if (open->at < bytes.size()) {
        *read = DWORD(std::min<size_t>(size, bytes.size() - open->at));
        memcpy(buffer, bytes.data() + open->at, *read);
        open->at += *read;
    }
    return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE handle, LPDWORD size_high)
{
    log("GetFileSize(" + handle_name(handle) + ", " + (size_high ? "high" : "NULL") + ")");
    standin_open* open = find_open(handle, "GetFileSize");
    auto file = open ? folder().files.find(open->name) : folder().files.end();
    if (size_high)
        *size_high = 0;
    return file != folder().files.end() ? DWORD(file->second.bytes.size()) : INVALID_FILE_SIZE;
}

BOOL WINAPI CloseHandle(HANDLE handle)
{
    log("CloseHandle(" + handle_name(handle) + ")");
    if (find_open(handle, "CloseHandle"))
        folder().open.erase((uintptr_t)handle);
    return TRUE;
}

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b)
{
    return strcasecmp(a, b);
}

// A file opened to write grows at its end.
BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED)
{
    log("WriteFile(" + handle_name(handle) + ", buffer, " + std::to_string(size) + ", written, NULL)");
    standin_open* open = find_open(handle, "WriteFile");
    *written = 0;
    if (!open || !open->writing)
        return FALSE;
    standin_write(open->name, folder().files[open->name].bytes + std::string((const char*)buffer, size));
    *written = size;
    return TRUE;
}

BOOL WINAPI FlushFileBuffers(HANDLE handle)
{
    log("FlushFileBuffers(" + handle_name(handle) + ")");
    standin_open* open = find_open(handle, "FlushFileBuffers");
    return open && open->writing;
}

// A file held or denied can't be replaced.
BOOL WINAPI MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags)
{
    log(std::string("MoveFileExA(\"") + from + "\", \"" + to + "\", " + std::to_string(flags) + ")");
    auto target = folder().files.find(to);
    if (target != folder().files.end() && (target->second.locked || target->second.denied)) {
        folder().last_error = target->second.locked ? ERROR_SHARING_VIOLATION : ERROR_ACCESS_DENIED;
        return FALSE;
    }
    if (!folder().files.count(from)) {
        folder().last_error = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    standin_rename(from, to);
    return TRUE;
}

// File times in the clock's milliseconds.
BOOL WINAPI GetFileTime(HANDLE handle, FILETIME* created, FILETIME* accessed, FILETIME* written)
{
    log("GetFileTime(" + handle_name(handle) + ")");
    standin_open* open = find_open(handle, "GetFileTime");
    auto file = open ? folder().files.find(open->name) : folder().files.end();
    if (file == folder().files.end() || created || accessed)
        return FALSE;
    unsigned long long at = file->second.written * 10000ull;
    *written = FILETIME{DWORD(at), DWORD(at >> 32)};
    return TRUE;
}

void WINAPI GetSystemTimeAsFileTime(FILETIME* now)
{
    log("GetSystemTimeAsFileTime()");
    unsigned long long at = folder().now * 10000ull;
    *now = FILETIME{DWORD(at), DWORD(at >> 32)};
}

