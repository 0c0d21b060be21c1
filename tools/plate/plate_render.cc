#include "tools/plate/plate_render.h"
int cfPlateRendererVersion() { return 0; }
