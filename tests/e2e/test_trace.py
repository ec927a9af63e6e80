"""The values hotfx.exe passes to Windows, read from Wine's debug channels: +relay logs each
exported call with its arguments ("0024:Call user32.ShowWindow(0002005c,00000005) ret=00408704"),
+d3d9 logs each device method as it is entered ("0024:trace:d3d9:d3d9_device_SetFVF iface
00241108, fvf 0x102."), +d3d shows how wined3d built the swap chain from the present
parameters and +x11drv the window's rectangles."""

import re

import pytest

from support import GREEN, solid

RELAY = re.compile(r"(\w{4}):(Call|Ret) +([\w.]+)\((.*)\)(?: retval=(\w+))? ret=(\w+)$")
D3D9_METHOD = re.compile(r"(\w{4}):trace:d3d9:d3d9_(?:device_)?([A-Z]\w*) (iface .*)$")
# The program's own calls: its image sits low, Wine's DLLs far above.
PROGRAM_TOP = 0x10000000
# The calls that matter; DefWindowProcA is left out as it comes from inside message dispatch,
# and reference counting from inside Wine's own d3d9.
WATCHED = re.compile(r"(?:user32|gdi32|d3dx9_43)\.(?!DefWindowProcA\()|KERNEL32\.GetModuleHandleA\(00000000\)|"
                     r"d3d9\.(?!AddRef\(|Release\(|QueryInterface\()")


class Trace:
    def __init__(self, path):
        self.tid = None
        with open(path, errors="replace") as log:
            for line in log:
                if "Call user32.CreateWindowExA(" in line and '"test"' in line:
                    self.tid = line[:4]
                    break
        assert self.tid, "no CreateWindowExA for the window 'test' in the trace"
        self.calls = []    # "module.Function(arguments)" in order, with return values beside
        self.returns = []
        self.lines = []    # everything else the main thread logged, for the +d3d and +x11drv parts
        open_calls = {}
        with open(path, errors="replace") as log:
            for line in log:
                if not line.startswith(self.tid + ":"):
                    continue
                line = line.rstrip("\n")
                relay, method = RELAY.match(line), D3D9_METHOD.match(line)
                if relay and int(relay.group(6), 16) < PROGRAM_TOP:
                    call = f"{relay.group(3)}({relay.group(4)})"
                    if relay.group(2) == "Call" and WATCHED.match(call):
                        open_calls.setdefault(relay.group(3), []).append(len(self.calls))
                        self.calls.append(call)
                        self.returns.append(None)
                    elif relay.group(2) == "Ret" and open_calls.get(relay.group(3)):
                        self.returns[open_calls[relay.group(3)].pop()] = int(relay.group(5), 16)
                elif method and WATCHED.match(f"d3d9.{method.group(2)}("):
                    self.calls.append(f"d3d9.{method.group(2)}({method.group(3)})")
                    self.returns.append(None)
                elif not relay:
                    self.lines.append(line[5:])

    def returned(self, call_pattern):
        index = next(i for i, call in enumerate(self.calls) if re.fullmatch(call_pattern, call, re.I))
        return self.returns[index]

    def next_line(self, marker, text):
        """The first line holding text that the main thread logged after the one holding marker."""
        start = next(i for i, line in enumerate(self.lines) if marker in line)
        return next(line for line in self.lines[start + 1:] if text in line)


def startup_calls(hwnd, module):
    a = r"\w+"  # an address that changes from run to run
    return [
        r"user32\.LoadIconA\(00000000,00007f00\)",        # IDI_APPLICATION
        r"user32\.LoadCursorA\(00000000,00007f00\)",      # IDC_ARROW
        r"gdi32\.GetStockObject\(00000004\)",             # BLACK_BRUSH
        r"KERNEL32\.GetModuleHandleA\(00000000\)",
        rf"user32\.RegisterClassExA\({a}\)",
        rf'user32\.CreateWindowExA\(00040100,{a} "test",{a} "test",00cf0000,00000000,00000000,'
        rf"00000500,00000400,00000000,00000000,{module:08x},00000000\)",
        rf"user32\.ShowWindow\({hwnd:08x},00000005\)",
        rf"user32\.UpdateWindow\({hwnd:08x}\)",
        r"d3d9\.Direct3DCreate9\(00000020\)",
        rf"d3d9\.CreateDevice\(iface {a}, adapter 0, device_type 0x1, focus_window {hwnd:08x}, "
        rf"flags 0x40, parameters {a}, device {a}\.\)",
        rf'd3dx9_43\.D3DXCompileShaderFromFileA\({a} "main\.fx",00000000,00000000,{a} "vs_main",'
        rf'{a} "vs_3_0",00008400,{a},{a},00000000\)',
        rf"d3d9\.CreateVertexShader\(iface {a}, byte_code {a}, shader {a}\.\)",
        rf'd3dx9_43\.D3DXCompileShaderFromFileA\({a} "main\.fx",00000000,00000000,{a} "ps_main",'
        rf'{a} "ps_3_0",00008400,{a},{a},00000000\)',
        rf"d3d9\.CreatePixelShader\(iface {a}, byte_code {a}, shader {a}\.\)",
    ] + [rf"d3d9\.SetSamplerState\(iface {a}, sampler 0, state {state}, value {value}\.\)"
         for state, value in (("0x5", "0x2"), ("0x6", "0x2"), ("0x7", "0x2"), ("0x1", "0x1"), ("0x2", "0x1"))]


def one_pass(vertex_shader, pixel_shader):
    """A pass of the main loop: drain the messages, poll F5, then one frame."""
    a = r"\w+"
    message = rf"user32\.PeekMessageA\({a},00000000,00000000,00000000,00000001\)\n"
    # Escape, or the close that Alt+F4 turns into, reaches window_proc inside the dispatch,
    # which posts the quit message there.
    dispatch = (rf"user32\.TranslateMessage\({a}\)\nuser32\.DispatchMessageA\({a}\)\n"
                r"(?:user32\.PostQuitMessage\(00000000\)\n)?")
    frame = [
        r"user32\.GetAsyncKeyState\(00000074\)",
        rf"d3d9\.Clear\(iface {a}, rect_count 0, rects 00000000, flags 0x7, color 0x00000000, "
        r"z 1\.00000000e\+00, stencil 0\.\)",
        rf"d3d9\.BeginScene\(iface {a}\.\)",
        rf"d3d9\.SetVertexShaderConstantF\(iface {a}, reg_idx 0, data (?P<constants>{a}), count 64\.\)",
        rf"d3d9\.SetVertexShader\(iface {a}, shader {vertex_shader}\.\)",
        rf"d3d9\.SetPixelShaderConstantF\(iface {a}, reg_idx 0, data (?P=constants), count 64\.\)",
        rf"d3d9\.SetPixelShader\(iface {a}, shader {pixel_shader}\.\)",
        rf"d3d9\.SetFVF\(iface {a}, fvf 0x102\.\)",
        rf"d3d9\.DrawPrimitiveUP\(iface {a}, primitive_type 0x5, primitive_count 2, data {a}, stride 20\.\)",
        rf"d3d9\.EndScene\(iface {a}\.\)",
        rf"d3d9\.Present\(iface {a}, src_rect \(null\), dst_rect \(null\), "
        r"dst_window_override 00000000, dirty_region 00000000\.\)",
    ]
    return f"(?:{message}(?:{dispatch})?)+" + "".join(call + "\n" for call in frame)


@pytest.mark.only_on("wined3d", "the device calls and the swap chain are read from Wine's d3d9 and wined3d "
                     "trace channels, which DXVK's d3d9 does not write to")
@pytest.mark.parametrize("quit_key", ["Escape", "alt+F4"])
def test_values_on_the_wire(hotfx, quit_key):
    run = hotfx(solid(GREEN), winedebug="+relay,+d3d9,+d3d,+x11drv")
    run.expect(r"Load Shader\.$", timeout=120)
    run.wait_for_colour(GREEN)
    client = run.geometry()
    run.key(quit_key)
    assert run.wait_exit(timeout=120) == 0
    trace = Trace(run.stderr_path)

    hwnd = trace.returned(r"user32\.CreateWindowExA\(.*\)")
    module = trace.returned(r"KERNEL32\.GetModuleHandleA\(00000000\)")
    expected = startup_calls(hwnd, module)
    started = trace.calls[:len(expected)]
    wrong = [(want, got) for want, got in zip(expected, started) if not re.fullmatch(want, got, re.I)]
    assert len(started) == len(expected) and not wrong, wrong or started

    vertex_shader = re.search(r"Created vertex shader (\w+)\.", "\n".join(trace.lines)).group(1)
    pixel_shader = re.search(r"Created pixel shader (\w+)\.", "\n".join(trace.lines)).group(1)
    loop = "".join(call + "\n" for call in trace.calls[len(expected):])
    passes = re.compile(one_pass(vertex_shader, pixel_shader), re.I)
    position, frames = 0, 0
    while match := passes.match(loop, position):
        position, frames = match.end(), frames + 1
    assert frames >= 2 and position == len(loop), \
        f"{frames} passes as expected, then:\n" + loop[position:position + 1500]
    # One quit message, so closing did not destroy the window as well; the pass whose drain
    # took WM_QUIT still drew its frame, and was the last.
    assert trace.calls.count("user32.PostQuitMessage(00000000)") == 1
    last_peek = max(i for i, call in enumerate(trace.calls) if call.startswith("user32.PeekMessageA("))
    assert trace.returns[last_peek] != 0 and not trace.calls[last_peek + 1].startswith("user32.TranslateMessage(")

    # The present parameters, as wined3d built the swap chain from them: the focus window as
    # target, one 1280x1024 X8R8G8B8 back buffer without multisampling, a D24S8 depth-stencil
    # buffer of the same size, one retrace per present, and no display mode change (windowed).
    assert any(re.search(rf"wined3d_swapchain_init Using target window {hwnd:08x}\.", line, re.I)
               for line in trace.lines)
    buffers = [line for line in trace.lines if "wined3d_swapchain_init Creating back buffer" in line]
    assert buffers == ["trace:d3d:wined3d_swapchain_init Creating back buffer 0."]
    texture = r"format {}, multisample_type 0, multisample_quality 0, .*width 1280, height 1024,"
    assert re.search(texture.format("WINED3DFMT_B8G8R8X8_UNORM"),
                     trace.next_line("Creating back buffer 0.", "wined3d_texture_init"))
    assert re.search(texture.format("WINED3DFMT_D24_UNORM_S8_UINT"),
                     trace.next_line("Creating depth/stencil buffer.", "wined3d_texture_init"))
    intervals = {re.search(r"swap_interval (\d+)", line).group(1)
                 for line in trace.lines if "wined3d_swapchain_present" in line}
    assert intervals == {"1"}
    assert not [line for line in trace.lines if "set_display_mode" in line]

    # Wine's own rectangles for the window: the outer one is 1280x1024 at the corner, and the
    # client one is where xwininfo saw the X window.
    last = [line for line in trace.lines if re.search(rf"X11DRV_WindowPosChanged win 0x{hwnd:x}/", line)][-1]
    rect = lambda name: tuple(map(int, re.search(name + r" \((\d+),(\d+)\)-\((\d+),(\d+)\)", last).groups()))
    assert rect("window") == (0, 0, 1280, 1024), last
    left, top, right, bottom = rect("client")
    assert (left, top, right - left, bottom - top) == client, last
