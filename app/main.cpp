#include <stdio.h>
#include <string.h>

#include "app/app.h"
#include "render/render.h"

HWND main_window = NULL;
IDirect3D9* d3d = NULL;
IDirect3DDevice9* device = NULL;

static int greatest_common_divisor(int a, int b)
{
    return b ? greatest_common_divisor(b, a % b) : a;
}

// --watch: a client area of the picture's own size, so that what is shown is what --frame
// saves, pixel for pixel; where the work area of the monitor it opens on (the primary, where
// 0,0 is, or the one --monitor names) has no room for that, the largest client area with the
// picture's aspect that fits (5:4 for 1280x1024), or the picture scaled to fit and rounded
// where the exact aspect would leave more than a fiftieth of the room unused.
static void fit_window(DWORD style, DWORD ex_style, int* x, int* y, int* width, int* height)
{
    RECT work, frame = {0, 0, 0, 0};
    work_area(&work);
    AdjustWindowRectEx(&frame, style, FALSE, ex_style);
    int frame_width = frame.right - frame.left, frame_height = frame.bottom - frame.top;
    // Not std::min: Visual Studio's windows.h makes min a macro.
    int outer_width = work.right - work.left < *width + frame_width ? work.right - work.left : *width + frame_width;
    int outer_height =
        work.bottom - work.top < *height + frame_height ? work.bottom - work.top : *height + frame_height;
    int divisor = greatest_common_divisor(*width, *height);
    int aspect_width = *width / divisor, aspect_height = *height / divisor;
    int step = (outer_width - frame_width) / aspect_width;
    if ((outer_height - frame_height) / aspect_height < step)
        step = (outer_height - frame_height) / aspect_height;
    double scale = (double)(outer_width - frame_width) / *width;
    if ((double)(outer_height - frame_height) / *height < scale)
        scale = (double)(outer_height - frame_height) / *height;
    *x = work.left;
    *y = work.top;
    if (aspect_width * step < 0.98 * *width * scale) {
        *width = (int)(*width * scale + 0.5) + frame_width;
        *height = (int)(*height * scale + 0.5) + frame_height;
    } else {
        *width = aspect_width * step + frame_width;
        *height = aspect_height * step + frame_height;
    }
    // At least a pixel each way, however thin the picture.
    *width = *width > frame_width ? *width : frame_width + 1;
    *height = *height > frame_height ? *height : frame_height + 1;
}

// Returns true once the window exists; on failure says so on the debugger channel. Saving
// frames draws off screen, so the window stays hidden then.
static bool create_main_window()
{
    window_class.hInstance = GetModuleHandleA(NULL);
    if (!RegisterClassExA(&window_class))
        return false;

    DWORD ex_style = present_params.Windowed ? WS_EX_APPWINDOW | WS_EX_WINDOWEDGE : WS_EX_APPWINDOW;
    DWORD style = present_params.Windowed ? WS_OVERLAPPEDWINDOW : WS_POPUP;
    // Without --watch, the outer size is the picture's: the client area is stretched over by it.
    int x = 0, y = 0, width = present_params.BackBufferWidth, height = present_params.BackBufferHeight;
    RECT work;
    if (watch_folder) {
        fit_window(style, ex_style, &x, &y, &width, &height);
    } else if (monitor_number) {
        work_area(&work);
        x = work.left;
        y = work.top;
    }
    main_window = CreateWindowExA(ex_style, app_name, app_name, style, x, y, width, height, NULL,
                                  NULL, window_class.hInstance, NULL);
    if (!main_window) {
        OutputDebugStringA("ERROR : Can't Create Window");
        return false;
    }
    if (!save_frames) {
        ShowWindow(main_window, SW_SHOW);
        UpdateWindow(main_window);
    }
    if (!present_params.Windowed)
        ShowCursor(FALSE);
    return true;
}

// Renders one frame per pass, the last one included, and never waits for a message:
// presentation sets the pace.
static void run_main_loop()
{
    MSG msg;
    bool done = false;
    while (!done) {
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                done = true;
                break;
            }
            if (controls_message(&msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        render_frame();
    }
}

// A numbered file name: a Windows command line holds at most 32,767 characters, and the
// number adds at most the 999 that the widest width allowed asks for.
static char numbered_path[32768 + 1024];

// Draws the frames that the command line names, each as the live loop draws it, and saves
// them; returns the exit code. Only the time carries over from one frame to the next, unless
// the shaders carry state (the previous frame, a pass that reads itself): then the frames
// before the first are drawn too, and a scene that won't begin among them fails the run as it
// would among the saved ones.
static int save_frames_asked()
{
    // Before the load, so that its lines already go to stderr.
    if (strcmp(frame_path, "-") == 0)
        send_frames_to_stdout();
    load_shaders();
    if (!shaders_loaded() || inputs_failed())
        return 3;
    unsigned long frame = carries_state() ? 0 : first_frame;
    go_to_frame(frame);
    int exit_code = 0;
    for (; exit_code == 0; frame++) {
        if (!draw_scene()) {
            printf("Error : can't draw frame %lu: the device did not begin the scene\n", frame);
            exit_code = 1;
        } else if (frame >= first_frame && numbered_frames) {
            sprintf(numbered_path, frame_path, (unsigned)frame);
            exit_code = save_picture(numbered_path);
        } else if (frame >= first_frame) {
            exit_code = save_picture(frame_path);
        }
        if (frame == last_frame)
            break;
    }
    release_picture_copy();
    return exit_code;
}

int main(int argc, char* argv[])
{
    // Each status line must reach a pipe (an editor's build panel, a log) when it is printed,
    // not when a buffer fills or the process ends.
    setvbuf(stdout, NULL, _IONBF, 0);
    if (!read_options(argc, argv))
        return 2;
    if (list_monitors_asked) {
        list_monitors();
        return 0;
    }
    if (strcmp(sound_in_device, "list") == 0) {
        list_capture_devices();
        return 0;
    }
    if (sound_in_device[0] && !choose_capture_device(sound_in_device))
        return 2;
    // What a shader declares by name and hotfx fills, given any option. Without one a shader
    // sees c0.x alone and the compiler is asked for no constant table, exactly as before.
    use_options(any_option, watch_folder, save_frames);
    if (picture_width && !use_picture_size(picture_width, picture_height))
        return 2;
    if (!monitor_there())
        return 2;
    // --frame and --frames draw what main.values holds: they don't listen.
    if (osc_port && !save_frames && !listen_osc(osc_address, (WORD)osc_port))
        return 2;
    if (!create_main_window()) {
        stop_osc();
        return 1;
    }
    place_window();

    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (!d3d) {
        OutputDebugStringA("ERROR : Direct3DCreate9");
        stop_osc();
        return 1;
    }
    HRESULT created = d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, main_window,
                                        D3DCREATE_HARDWARE_VERTEXPROCESSING, &present_params, &device);
    int exit_code = 0;
    if (device && save_frames) {
        exit_code = save_frames_asked();
    } else if (device) {
        if (watch_folder)
            start_watching();
        load_shaders();
        run_main_loop();
        if (watch_folder)
            close_controls();
        if (watch_folder || osc_port)
            save_values();
        if (device_gave_up())
            exit_code = 1;
    } else if (picture_width && (created == D3DERR_OUTOFVIDEOMEMORY || created == E_OUTOFMEMORY)) {
        fprintf(stderr, "hotfx: --size %lux%lu: the device has no memory for a picture that large\n",
                picture_width, picture_height);
        exit_code = 2;
    } else {
        OutputDebugStringA("ERROR : CreateDevice");
        exit_code = 1;
    }

    stop_watching();
    stop_osc();
    stop_listening();
    release_shaders();
    release_device_resources(false);
    if (device) {
        device->Release();
        device = NULL;
    }
    if (d3d) {
        d3d->Release();
        d3d = NULL;
    }
    return exit_code;
}
