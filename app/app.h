// The shell: the command line, the main window and its class.
#pragma once

#include <windows.h>

extern const char app_name[];
extern WNDCLASSEXA window_class;
extern HWND main_window;

void init_window_class();
LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

extern bool watch_folder;
extern bool save_frames;
extern unsigned long first_frame;
extern unsigned long last_frame;
extern const char* frame_path;
extern bool numbered_frames;
extern unsigned long picture_width;
extern unsigned long picture_height;
extern BYTE osc_address[4];
extern unsigned long osc_port;
extern const char* sound_in_device;
extern bool full_screen_asked;
extern unsigned long monitor_number;
extern bool list_monitors_asked;
extern bool any_option;

bool read_options(int argc, char* argv[]);

// Full screen and the monitors (screen.cpp).
void list_monitors();
bool monitor_there();
void work_area(RECT* work);
void place_window();
void screen_message(UINT message, WPARAM wParam, LPARAM lParam);
bool cursor_stays_hidden(LPARAM lParam);
