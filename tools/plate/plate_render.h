// SPDX-License-Identifier: Apache-2.0
// Synthetic images of the two calibration plates (the dot grid and the checkerboard) seen
// through a known camera, with their exact ground truth. Tests, benchmarks and the `calib`
// tool use it to make images whose every dot centre and vertex position is known.
//
// Frames and units:
// - Plate coordinates (u, v) are in grid pitches: dot (i, j) is centred on (i, j); checker
//   vertex (i, j) sits at (i, j). Plate y grows "down" the printed sheet, so the identity
//   camera shows the plate as it is printed, not mirrored.
// - Image coordinates are pixels: the centre of pixel (x, y) is the point (x, y) and the
//   pixel covers [x - 0.5, x + 0.5) x [y - 0.5, y + 0.5).
// - The camera maps plate to image: a 3 x 3 homography to undistorted pixels, then radial
//   distortion. Every truth position is that map applied to the exact plate point.
//
// Layouts follow the plate designs exactly:
// - Dot plate: discs of diameter 0.5 on the integer points; the optional marker is two bars
//   0.125 wide of the dot colour, bar 1 from (c.x + 0.15, c.y) to (c.x + 1.35, c.y) and bar 2
//   from (c.x, c.y + 0.15) to (c.x, c.y + 1.35), c = (i0 + 0.5, j0 + 0.5) the marker cell
//   centre. Plain ground surrounds the grid.
// - Checkerboard: cell [i, i+1] x [j, j+1] light when i + j is even; a dark margin around
//   the field, then light paper. The optional fiducial paints the dark bands (cells j = -4,
//   i = -5..1 and cells i = -4, j = -3..0) and on them the light bars A (x in [-4.75, 1.75],
//   y in [-3.75, -3.25]) and B (x in [-3.75, -3.25], y in [-3.0, 0.75]). Their axes cross at
//   (-3.5, -3.5); the anchor vertex is (-2, -2), the second anchor (-2, -5).
#ifndef TOOLS_PLATE_PLATE_RENDER_H
#define TOOLS_PLATE_PLATE_RENDER_H

#include <array>
#include <cstdint>
#include <vector>

#include "platform/foundation/pel_buffer.h"
#include "platform/foundation/rect.h"
#include "platform/foundation/vector.h"
#include "platform/foundation/xform.h"

// ---------------------------------------------------------------------------------------
// Camera.

// Maps plate points to image pixels: homography, then radial distortion about a centre.
class ccPlateCamera {
 public:
  // Row-major 3 x 3 matrix acting on (u, v, 1).
  using Homography = std::array<double, 9>;

  // The identity: plate point (u, v) lands on pixel (u, v).
  ccPlateCamera() = default;
  // The given plate-to-pixel homography (any scale; the sign is fixed by the renderer so
  // that the viewed side of the plate is the one in front). Throws ccBadArgument when it is
  // singular or not finite.
  explicit ccPlateCamera(const Homography& homography);
  // An affine camera: pixel = xform * plate. Throws ccBadArgument when singular.
  explicit ccPlateCamera(const ccXform<2>& imageFromPlate);

  // Adds radial distortion: a point at offset d from `centre` (undistorted pixels) moves to
  // centre + d * (1 + k1 r^2 + k2 r^4), with r = |d| / normRadius (pixels). k1 < 0 gives
  // barrel, k1 > 0 pincushion distortion. Throws ccBadArgument for normRadius <= 0 or
  // non-finite values. The map must stay one-to-one over the rendered image; the renderer
  // checks that.
  void distortion(const ccVector<2>& centre, double normRadius, double k1, double k2);

  const Homography& homography() const { return h_; }
  bool hasDistortion() const { return k1_ != 0.0 || k2_ != 0.0; }
  const ccVector<2>& distortionCentre() const { return centre_; }
  double distortionRadius() const { return radius_; }
  double k1() const { return k1_; }
  double k2() const { return k2_; }

  // Plate point to image pixel. Throws ccMathError when the point lies on the camera's
  // horizon (its homogeneous scale is zero).
  ccVector<2> imageFromPlate(const ccVector<2>& plate) const;
  // Image pixel to plate point (undistortion, then the inverse homography). Throws
  // ccMathError when the pixel sees no point of the plane or the distortion cannot be
  // inverted there.
  ccVector<2> plateFromImage(const ccVector<2>& image) const;
  // Undistorted to distorted pixel position, and back. undistort() solves the radial
  // polynomial by Newton's method and throws ccMathError when it does not converge (a
  // position beyond the fold of a strong distortion).
  ccVector<2> distort(const ccVector<2>& undistorted) const;
  ccVector<2> undistort(const ccVector<2>& distorted) const;

 private:
  Homography h_{1, 0, 0, 0, 1, 0, 0, 0, 1};
  Homography inverse_{1, 0, 0, 0, 1, 0, 0, 0, 1};
  ccVector<2> centre_;
  double radius_ = 1.0;
  double k1_ = 0.0;
  double k2_ = 0.0;
};

// A pinhole camera viewing the plate rectangle `region` (plate units). The plate is turned
// by tiltXDeg about its x axis, then by tiltYDeg about its y axis (0 = facing the camera),
// then by rotationDeg in the image plane (positive turns +x towards +y, i.e. clockwise on
// screen). The camera stands so that the region's diagonal spans fieldOfViewDeg when the
// plate faces it (smaller: weaker perspective); the focal length and principal point make
// the region's image fill `fill` of the image in the tighter direction, centred. Throws
// ccBadArgument for an empty region or image, fill outside (0, 10], a tilt of 80 degrees or
// more, or a field of view outside (0, 150) degrees.
ccPlateCamera cfPlateCameraView(const ccRect& region, long width, long height, double tiltXDeg,
                                double tiltYDeg, double rotationDeg, double fill = 0.9,
                                double fieldOfViewDeg = 40.0);

// The same view without perspective: the tilted plate is projected orthographically, which
// gives an affine camera (foreshortening and skew, no vanishing points). Same arguments and
// exceptions.
ccPlateCamera cfPlateCameraAffine(const ccRect& region, long width, long height, double tiltXDeg,
                                  double tiltYDeg, double rotationDeg, double fill = 0.9);

// ---------------------------------------------------------------------------------------
// Plates.

struct ccDotPlate {
  long cols = 10;  // dots along x: i = 0 .. cols - 1
  long rows = 8;   // dots along y: j = 0 .. rows - 1
  bool marker = false;
  // Cell (i0, j0) whose centre (i0 + 0.5, j0 + 0.5) the marker bars cross; must lie in
  // [0, cols - 2] x [0, rows - 2].
  ccPair<long> markerCell{0, 0};
};

// A dot plate with the marker, when asked for, in the cell nearest the grid centre.
ccDotPlate cfDotPlate(long cols, long rows, bool marker);

struct ccCheckerPlate {
  long cols = 10;                  // squares along x
  long rows = 8;                   // squares along y
  ccPair<long> firstCell{-5, -4};  // index (i, j) of the upper-left square
  bool fiducial = false;
  double margin = 1.0;  // width of the dark margin around the field, squares
};

// A checkerboard of cols x rows squares: without the fiducial centred on the plate origin,
// with it placed so the fiducial fits (then cols >= 9 and rows >= 8 are needed; the renderer
// and printer check).
ccCheckerPlate cfCheckerPlate(long cols, long rows, bool fiducial);

// The patterned area, plate units: dot centres +- 0.5, or the checker field.
ccRect cfPatternRegion(const ccDotPlate& plate);
ccRect cfPatternRegion(const ccCheckerPlate& plate);
// The whole printed sheet, plate units: dot centres +- 1.5 (one pitch of plain ground
// beyond the dots' edges), or the checker field plus its margin plus half a square of paper.
ccRect cfPaperRegion(const ccDotPlate& plate);
ccRect cfPaperRegion(const ccCheckerPlate& plate);

// True where the plate is dark in the normal polarity (dots, marker bars; dark squares,
// margin, fiducial bands), false on light ground, light squares, bars and paper. Points
// exactly on an edge may go either way.
bool cfPlateInk(const ccDotPlate& plate, const ccVector<2>& p);
bool cfPlateInk(const ccCheckerPlate& plate, const ccVector<2>& p);

// The plate as a painter's list of shapes, drawn in order over light paper covering
// cfPaperRegion: each shape is ink (dark) or light. Painting the list gives cfPlateInk.
struct ccPlateShape {
  enum Kind { eDisc, eRectangle };
  Kind kind = eRectangle;
  bool ink = true;
  ccVector<2> centre;  // disc centre
  double radius = 0;   // disc radius
  ccRect rect;         // axis-aligned rectangle, plate units
};
std::vector<ccPlateShape> cfPlateShapes(const ccDotPlate& plate);
std::vector<ccPlateShape> cfPlateShapes(const ccCheckerPlate& plate);

// Checks a plate's layout; throws ccBadArgument with the reason (too few dots or squares,
// marker cell outside the grid, field too small for the fiducial, negative margin, more than
// kMaxPlateFeatures dots or squares).
void cfCheckPlate(const ccDotPlate& plate);
void cfCheckPlate(const ccCheckerPlate& plate);

// Most dots or squares a plate may have.
constexpr long kMaxPlateFeatures = 1000000;

// ---------------------------------------------------------------------------------------
// Rendering.

struct ccPlateRenderParams {
  long width = 640;  // image size, pixels
  long height = 480;
  int supersample = 4;          // samples per pixel along each axis (1 to 32)
  double lightLevel = 200.0;    // grey level of light plate areas, before lighting and noise
  double darkLevel = 40.0;      // grey level of ink
  bool invert = false;          // swap the levels: light dots on dark ground, inverted board
  double blurSigma = 0.0;       // Gaussian defocus blur, standard deviation in pixels
  ccVector<2> gradient;         // lighting: relative gain change per pixel along x and y,
                                // about the image centre (0.0005: +5 % 100 px right of it)
  double vignetting = 0.0;      // fraction of brightness lost at the image corners (0 to 1),
                                // falling off with the squared distance from the centre
  double noiseSigma = 0.0;      // additive Gaussian sensor noise, grey levels
  double surroundLevel = -1.0;  // grey level of the scene beyond the printed sheet
                                // (cfPaperRegion), before lighting and noise; negative: the
                                // sheet's ground extends over the whole view
  std::uint32_t seed = 1;       // noise seed: the same seed gives the same image
};

struct ccPlateDotTruth {
  ccPair<long> index;    // (i, j)
  ccVector<2> plate;     // (i, j), plate units
  ccVector<2> image;     // pixels; NaN when the point is beyond the camera's horizon
  bool inImage = false;  // the whole dot lies inside the image
};

struct ccPlateVertexTruth {
  ccPair<long> label;    // (i, j); the plate position is the label, in pitches
  ccVector<2> image;     // pixels; NaN when beyond the horizon
  bool inImage = false;  // the vertex lies inside the image
};

struct ccPlateTruth {
  // Dot plate: every dot, row by row (j, then i).
  std::vector<ccPlateDotTruth> dots;
  bool hasMarker = false;
  ccPair<long> markerCell;  // (i0, j0)
  ccVector<2> markerPlate;  // cell centre, plate units
  ccVector<2> markerImage;  // where the bar axes cross, pixels

  // Checkerboard: every vertex where four unpainted squares meet, row by row.
  std::vector<ccPlateVertexTruth> vertices;
  bool hasFiducial = false;
  ccVector<2> fiducialPlate;  // (-3.5, -3.5)
  ccVector<2> fiducialImage;
  ccPlateVertexTruth anchor;        // label (-2, -2)
  ccPlateVertexTruth secondAnchor;  // label (-2, -5)
};

struct ccPlateRendering {
  ccPelBuffer<unsigned char> image;  // offset (0, 0), identity client transform
  ccPlateTruth truth;
};

// Renders the plate through the camera. Each pixel averages supersample^2 samples on a
// regular grid, each mapped back to the plate and tested against the exact layout; then
// lighting, blur, noise and rounding to 8 bits (clamped to 0..255). Pixels that see no plate
// (beyond the horizon) show plain ground. Throws ccBadArgument for an invalid plate or
// parameters, or a distortion that folds over inside the image.
ccPlateRendering cfRenderPlate(const ccDotPlate& plate, const ccPlateCamera& camera,
                               const ccPlateRenderParams& params);
ccPlateRendering cfRenderPlate(const ccCheckerPlate& plate, const ccPlateCamera& camera,
                               const ccPlateRenderParams& params);

// The ground truth alone (no image), for the given image size.
ccPlateTruth cfPlateTruth(const ccDotPlate& plate, const ccPlateCamera& camera, long width,
                          long height);
ccPlateTruth cfPlateTruth(const ccCheckerPlate& plate, const ccPlateCamera& camera, long width,
                          long height);

#endif  // TOOLS_PLATE_PLATE_RENDER_H
