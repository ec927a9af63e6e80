#include "render/render.h"

// The controls window: not yet made.
void show_controls(shader_set*) {}
bool controls_message(MSG*) { return false; }
void close_controls() {}
