// SPDX-License-Identifier: Apache-2.0
// Test-side driver of the checkerboard corner detection: renders a board through a known
// camera, runs tile detection, mesh, calipers and corner fit as the pipeline does, and
// scores the tiles and fitted corners against the exact truth.
#ifndef TESTS_SUPPORT_CHECKER_STAGES_DRIVER_H
#define TESTS_SUPPORT_CHECKER_STAGES_DRIVER_H

#include <string>
#include <vector>

#include "cal/checkertiles/checker_stages.h"
#include "tools/plate/plate_render.h"

// Everything one detection pass makes, owned together so that the pointers between tiles,
// corners and blobs stay valid.
struct ccCheckerStagesRun {
  ccPelBuffer_const<unsigned char> detection;  // the detection image the tiles were found on
  std::vector<cc_Checker> tiles;
  std::vector<cc_Corner> corners;
  ccPelBuffer<unsigned char> edgeMap;   // thickened edge map (non-uniform lighting only)
  ccBlobResults blobResults;            // non-uniform lighting only
  std::vector<const ccBlob*> blobList;  // non-uniform lighting only
};

// The first detection pass on the working image `image`: detection image (with uniform
// lighting a 5-tap Gaussian of sigma 1 of the working image, else the image itself), tiles,
// mesh, calipers on the working image, fit. Fiducial rectangles in client coordinates,
// degenerate when none is known.
void cfRunCheckerStages(const ccPelBuffer_const<unsigned char>& image,
                        const ccCalib2VertexFeatureParams& params, ccCheckerStagesRun& run,
                        const ccAffineRectangle& fiducialRect1 = ccAffineRectangle(),
                        const ccAffineRectangle& fiducialRect2 = ccAffineRectangle());

// The second pass, after a non-uniform first pass: tiles again from the first pass's blobs
// and edge map with the fiducial zones now known, mesh (second-pass rules), calipers, fit.
void cfRunCheckerSecondPass(const ccPelBuffer_const<unsigned char>& image,
                            const ccCalib2VertexFeatureParams& params,
                            const ccAffineRectangle& fiducialRect1,
                            const ccAffineRectangle& fiducialRect2, ccCheckerStagesRun& run);

// One rendered test scene.
struct ccCheckerScene {
  std::string name;
  long width = 640, height = 480;
  double squarePx = 30.0;  // square size in the image at the board centre, facing the camera
  double tiltX = 0.0, tiltY = 0.0, rotation = 0.0;  // degrees
  bool perspective = true;
  double blur = 0.0, noise = 0.0;
  bool fiducial = false;
  bool uniformLighting = true;
  ccVector<2> gradient;  // relative gain per pixel (see ccPlateRenderParams)
  double vignetting = 0.0;
  double fill = 0.92;  // board field over the image, in the tighter direction
  int supersample = 8;
  unsigned seed = 7;
};

struct ccCheckerSceneImage {
  ccCheckerPlate plate;
  ccPlateCamera camera;
  ccPlateRendering rendering;
};

ccCheckerSceneImage cfRenderCheckerScene(const ccCheckerScene& scene);

// How a run did against the truth.
//  - Expected tiles: light squares (not painted over by the fiducial bands) whose every point
//    lies at least `tileMargin` pixels inside the image; found when a tile's centre of mass
//    lies within a quarter square of the square's centre.
//  - Expected corners: X-junction vertices whose 2 x 2 squares around them lie inside the
//    image (the vertex is a square or more inside); found when a valid corner lies within
//    0.5 px of it.
//  - Every valid corner is matched to the nearest lattice point of the board (X-junction or
//    not); errors and the far count use that distance. Corners at vertices touching a
//    fiducial band are kept out of the error statistics and counted apart.
struct ccCheckerScore {
  int tilesExpected = 0, tilesFound = 0, tilesTotal = 0;
  int cornersExpected = 0, cornersFound = 0, validTotal = 0;
  int farCorners = 0;     // valid corners more than 0.5 px from every lattice point ...
  int farAtFiducial = 0;  // ... of which at vertices touching a fiducial band (where a bar's
                          // end lies a quarter square from the vertex)
  double maxError = 0.0;  // over valid corners not at the fiducial, px
  double rmsError = 0.0;
  double maxErrorAtFiducial = 0.0;   // over valid corners at vertices touching a band, px
  std::vector<std::string> missing;  // descriptions of missed tiles and corners (first few)
};

ccCheckerScore cfScoreCheckerRun(const ccCheckerSceneImage& scene, const ccCheckerStagesRun& run,
                                 double tileMargin = 2.0);

#endif  // TESTS_SUPPORT_CHECKER_STAGES_DRIVER_H
