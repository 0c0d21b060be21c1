// SPDX-License-Identifier: Apache-2.0
// Printable calibration plates: an SVG document in millimetres for a printer or a plotter,
// and a raster image at a chosen resolution. Both draw exactly the layout the renderer uses.
#ifndef TOOLS_PLATE_PLATE_PRINT_H
#define TOOLS_PLATE_PLATE_PRINT_H

#include <string>

#include "platform/foundation/pel_buffer.h"
#include "tools/plate/plate_render.h"

// An SVG document of the whole sheet (cfPaperRegion), one grid pitch = pitchMm millimetres,
// in the printed orientation (plate x to the right, plate y down the page). Ink is black,
// ground and paper white. Throws ccBadArgument for an invalid plate or a pitch that is not
// positive and finite.
std::string cfPlateSvg(const ccDotPlate& plate, double pitchMm);
std::string cfPlateSvg(const ccCheckerPlate& plate, double pitchMm);

// The sheet as an 8-bit image with pxPerPitch pixels per grid pitch: ink 0, paper 255,
// edges anti-aliased by 4 x 4 supersampling. The image spans cfPaperRegion exactly (its
// width is that region's width times pxPerPitch, rounded). Throws ccBadArgument for an
// invalid plate, a non-positive scale or an image over 2^28 pixels.
ccPelBuffer<unsigned char> cfPlateRaster(const ccDotPlate& plate, double pxPerPitch);
ccPelBuffer<unsigned char> cfPlateRaster(const ccCheckerPlate& plate, double pxPerPitch);

#endif  // TOOLS_PLATE_PLATE_PRINT_H
