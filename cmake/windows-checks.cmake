# Fails the configuration at once, with one line saying why, where hotfx.exe could not be
# built: a target that isn't 32-bit, or no D3DX 9 header or import library. Leaves the
# include folder (empty when the compiler's own will do) in hotfx_d3dx9_include_dir and
# the library to link in hotfx_d3dx9_library.
include(CheckIncludeFileCXX)
include(CheckCXXSourceCompiles)

# Each message starts with a space, which keeps CMake from wrapping it over several lines.
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
    message(FATAL_ERROR " hotfx is a 32-bit program, but this compiler targets ${CMAKE_SIZEOF_VOID_P}-byte pointers: "
                         "configure with -A Win32 (Visual Studio) or from MSYS2's MINGW32 shell")
endif()

# mingw-w64 brings its own D3DX headers and import libraries. With Visual Studio they come
# from the DirectX SDK (June 2010), whose installer sets DXSDK_DIR, ending in a backslash.
set(hotfx_d3dx9_include_dir "")
set(hotfx_d3dx9_library d3dx9)
if(MSVC AND DEFINED ENV{DXSDK_DIR})
    file(TO_CMAKE_PATH "$ENV{DXSDK_DIR}" dxsdk_dir)
    string(REGEX REPLACE "/+$" "" dxsdk_dir "${dxsdk_dir}")
    set(hotfx_d3dx9_include_dir "${dxsdk_dir}/Include")
    set(hotfx_d3dx9_library "${dxsdk_dir}/Lib/x86/d3dx9.lib")
endif()

set(CMAKE_REQUIRED_QUIET ON)
set(CMAKE_REQUIRED_INCLUDES ${hotfx_d3dx9_include_dir})
# Checked again at every configuration, so that installing what was missing is enough.
unset(hotfx_have_d3dx9_h CACHE)
check_include_file_cxx(d3dx9.h hotfx_have_d3dx9_h)
if(NOT hotfx_have_d3dx9_h)
    message(FATAL_ERROR " d3dx9.h not found: install the DirectX SDK (June 2010), which sets DXSDK_DIR, "
                         "or build with MSYS2's mingw-w64 i686 toolchain")
endif()

set(CMAKE_REQUIRED_LIBRARIES ${hotfx_d3dx9_library})
unset(hotfx_links_d3dx9 CACHE)
check_cxx_source_compiles("
#include <d3dx9.h>
int main() { return D3DXGetShaderVersion(0) != 0; }" hotfx_links_d3dx9)
if(NOT hotfx_links_d3dx9)
    message(FATAL_ERROR " the D3DX 9 import library (${hotfx_d3dx9_library}) can't be linked: "
                         "install the DirectX SDK (June 2010), which sets DXSDK_DIR")
endif()
unset(CMAKE_REQUIRED_QUIET)
unset(CMAKE_REQUIRED_INCLUDES)
unset(CMAKE_REQUIRED_LIBRARIES)
