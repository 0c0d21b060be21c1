// Plate renderer (to be written).
#ifndef TOOLS_PLATE_PLATE_RENDER_H
#define TOOLS_PLATE_PLATE_RENDER_H
int cfPlateRendererVersion();
#endif
