// SPDX-License-Identifier: Apache-2.0
// Diagnostics of the vertex feature extraction: the parameters, the features with their
// plate coordinates, the grid links between neighbouring features per plate row and column,
// the plate axes at the origin, the features' bounding box and a listing of all coordinates.
#include "cal/calibftr/vertex_feature_diag.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <string>

#include "platform/foundation/graphics.h"
#include "platform/foundation/lines.h"
#include "platform/foundation/text.h"

namespace {

using Defs = ccCalib2VertexFeatureDefs;

constexpr int kCoordinateDecimals = 3;
// Two features are grid neighbours when their plate positions differ by one pitch within
// this fraction of the pitch.
constexpr double kNeighbourTolerance = 0.01;
// The origin axes run from plate (0, 0) to the feature this many pitches along each axis.
constexpr double kOriginAxisPitches = 3.0;
constexpr int kOriginAxisWidth = 3;
constexpr int kSolidPen = 0;
const ccVector<2> kTextOffset(2.0, 2.0);  // screen pixels
// Colours of the per-column and per-row link lists, by |index| modulo their count.
const ccColor kPalette[] = {ccColor::white, ccColor::red,  ccColor::orange, ccColor::yellow,
                            ccColor::green, ccColor::cyan, ccColor::magenta};
constexpr long kPaletteSize = sizeof(kPalette) / sizeof(kPalette[0]);

ccGraphicProps props(const ccColor& colour, int width = 1) {
  return ccGraphicProps(colour, width, kSolidPen, false);
}

std::string paramVector(const ccVector<2>& v) {
  return "( " + cfStr(v.x()) + " , " + cfStr(v.y()) + " )";
}
std::string featurePoint(const ccVector<2>& v) {
  return "(" + cfDbl(v.x(), kCoordinateDecimals, false) + ", " +
         cfDbl(v.y(), kCoordinateDecimals, false) + ")";
}
const char* boolText(bool b) {
  return b ? "true" : "false";
}

std::string labelModeText(Defs::CorrespondMethod m) {
  switch (m) {
    case Defs::eNone:
      return "ccCalib2VertexFeatureDefs::eNone";
    case Defs::eUseOrigin:
      return "ccCalib2VertexFeatureDefs::eUseOrigin";
    case Defs::eUseFiducial:
      return "ccCalib2VertexFeatureDefs::eUseFiducial";
  }
  // Only an archive can carry another value.
  return "ccCalib2VertexFeatureDefs::CorrespondMethod(" + cfStr(static_cast<int>(m)) + ")";
}

std::string paramText(const ccCalib2VertexFeatureParams& p) {
  std::string s = "Params\n";
  s += "PhysicalGridPitch = " + paramVector(p.physicalGridPitch()) + "\n";
  s += "Origin = " + paramVector(p.origin()) + "\n";
  s += "LabelMode = " + labelModeText(p.labelMode()) + "\n";
  s += std::string("Algorithm = ") +
       (p.algorithm() == Defs::eExhaustive ? "ccCalib2VertexFeatureDefs::eExhaustive"
                                           : "ccCalib2VertexFeatureDefs::eStandard") +
       "\n";
  s += "PrecisionThreshold = " + cfStr(p.precisionThreshold()) + "\n";
  s += std::string("NeedBothCheckers = ") + boolText(p.needBothCheckers()) + "\n";
  s += std::string("UniformLighting = ") + boolText(p.uniformLighting()) + "\n";
  return s;
}

// Graphic lists indexed by a signed plate column or row, negative and non-negative apart.
class IndexedLists {
 public:
  ccGraphicList& at(long k) {
    std::vector<ccGraphicList>& side = k < 0 ? negative_ : positive_;
    const std::size_t i = static_cast<std::size_t>(std::labs(k));
    if (side.size() <= i) side.resize(i + 1);
    return side[i];
  }
  // Every non-empty list in ascending order of k, with its k.
  template <class F>
  void forEach(F f) const {
    for (std::size_t i = negative_.size(); i-- > 0;)
      if (!negative_[i].empty()) f(-static_cast<long>(i), negative_[i]);
    for (std::size_t i = 0; i < positive_.size(); ++i)
      if (!positive_[i].empty()) f(static_cast<long>(i), positive_[i]);
  }

 private:
  std::vector<ccGraphicList> negative_;
  std::vector<ccGraphicList> positive_;
};

const ccColor& paletteColour(long k) {
  return kPalette[std::labs(k) % kPaletteSize];
}

struct FeatureGraphics {
  ccGraphicList features, plateCoordinates, neighbours, origin;
  IndexedLists columns, rows;
};

// Links from feature i to the features one plate step `step` before it, into "Neighbors" and
// into the list of its column or row `k`.
void addLinks(const std::vector<ccCrspPairWeighted>& f, std::size_t i, const ccVector<2>& step,
              double tolerance, long k, ccGraphicList& neighbours, IndexedLists& lists) {
  for (const ccCrspPairWeighted& j : f) {
    if (!cfRealEq(j.second + step, f[i].second, tolerance)) continue;
    const ccLineSeg link(f[i].first, j.first);
    neighbours.append(ccGraphicSimple<ccLineSeg>(link, props(ccColor::yellowColor)));
    lists.at(k).append(ccGraphicSimple<ccLineSeg>(link, props(paletteColour(k))));
  }
}

void addOriginAxes(const std::vector<ccCrspPairWeighted>& f, std::size_t i,
                   const ccVector<2>& pitch, ccGraphicList& origin) {
  if (!cfRealEq(f[i].second, ccVector<2>(), pitch.x() * kNeighbourTolerance)) return;
  const ccVector<2> alongX(kOriginAxisPitches * pitch.x(), 0.0),
      alongY(0.0, kOriginAxisPitches * pitch.y());
  for (const ccCrspPairWeighted& j : f) {
    if (cfRealEq(j.second, alongX, pitch.x() * kNeighbourTolerance))
      origin.append(ccGraphicSimple<ccLineSeg>(ccLineSeg(f[i].first, j.first),
                                               props(ccColor::yellowColor, kOriginAxisWidth)));
    if (cfRealEq(j.second, alongY, pitch.y() * kNeighbourTolerance))
      origin.append(ccGraphicSimple<ccLineSeg>(ccLineSeg(f[i].first, j.first),
                                               props(ccColor::greenColor, kOriginAxisWidth)));
  }
}

FeatureGraphics featureGraphics(const std::vector<ccCrspPairWeighted>& f,
                                const ccVector<2>& pitch) {
  FeatureGraphics g;
  for (std::size_t i = 0; i < f.size(); ++i) {
    g.features.append(ccGraphicPointIcon(f[i].first, props(ccColor::redColor)));
    g.plateCoordinates.append(ccGraphicText(featurePoint(f[i].second), f[i].first,
                                            ccColor::redColor, ccColor::passColor,
                                            ccUIFormat(ccUIFormat::eTopLeft), kTextOffset));
    addLinks(f, i, ccVector<2>(0.0, pitch.y()), pitch.y() * kNeighbourTolerance,
             iRound(f[i].second.x() / pitch.x()), g.neighbours, g.columns);
    addLinks(f, i, ccVector<2>(pitch.x(), 0.0), pitch.x() * kNeighbourTolerance,
             iRound(f[i].second.y() / pitch.y()), g.neighbours, g.rows);
    addOriginAxes(f, i, pitch, g.origin);
  }
  return g;
}

void recordLinkLists(ccDiagObject* diag, const ccPelBuffer_const<unsigned char>& srcImg,
                     const IndexedLists& lists, const char* imageLabel, const char* listLabel,
                     double pitch) {
  ccDiagIncrementLevel level(diag);
  cf_AddImage(diag, srcImg, imageLabel, false);
  lists.forEach([&](long k, const ccGraphicList& list) {
    cf_AddGraphics(diag, list, listLabel + cfStr(static_cast<double>(k) * pitch),
                   ccDiagDefs::eClientCoords);
  });
}

}  // namespace

void cfCalib2VertexFeatureDiag(ccDiagObject* diagObj, unsigned long diagFlags,
                               const ccCalib2VertexFeatureParams& params,
                               const ccPelBuffer_const<unsigned char>& srcImg,
                               const std::vector<ccCrspPairWeighted>& features) {
  if (diagObj == nullptr) return;
  const bool input = diagObj->shouldRecord(diagFlags, ccDiagDefs::eRecordInput);
  const bool results = diagObj->shouldRecord(diagFlags, ccDiagDefs::eRecordResult);
  const bool neighbours = diagObj->shouldRecord(diagFlags, ccDiagDefs::eRecordIntermediate);

  const std::string parameters = paramText(params);
  std::string coordinates =
      "nFeatures = " + cfStr(static_cast<unsigned long>(features.size())) + "\n";
  coordinates += "Image position : physical position\n";
  double minX = std::numeric_limits<double>::infinity(), minY = minX;
  double maxX = -std::numeric_limits<double>::infinity(), maxY = maxX;
  for (const ccCrspPairWeighted& f : features) {
    coordinates += featurePoint(f.first) + " : " + featurePoint(f.second) + "  " +
                   cfDbl(f.weight(), kCoordinateDecimals, false) + "\n";
    minX = std::min(minX, f.first.x());
    minY = std::min(minY, f.first.y());
    maxX = std::max(maxX, f.first.x());
    maxY = std::max(maxY, f.first.y());
  }

  FeatureGraphics g;
  if (results || neighbours) g = featureGraphics(features, params.physicalGridPitch());

  if (input || results || neighbours) cf_AddImage(diagObj, srcImg, "image", false);
  if (input) cf_AddText(diagObj, parameters, "params");
  if (neighbours) {
    const ccVector<2>& pitch = params.physicalGridPitch();
    recordLinkLists(diagObj, srcImg, g.columns, "Neighbors x", "Neighbors at x = ", pitch.x());
    recordLinkLists(diagObj, srcImg, g.rows, "Neighbors y", "Neighbors at y = ", pitch.y());
  }
  if (results) {
    ccDiagIncrementLevel level(diagObj);
    cf_AddImage(diagObj, srcImg, "Results", false);
    cf_AddGraphics(diagObj, g.features, "Features", ccDiagDefs::eClientCoords);
    cf_AddGraphics(diagObj, g.plateCoordinates, "Plate coordinates", ccDiagDefs::eClientCoords);
    cf_AddGraphics(diagObj, g.neighbours, "Neighbors", ccDiagDefs::eClientCoords);
    cf_AddGraphics(diagObj, g.origin, "Origin", ccDiagDefs::eClientCoords);
    ccGraphicList box;
    box.append(ccGraphicWithFill<ccRect, ccGenRect>(ccRect(minX, minY, maxX - minX, maxY - minY),
                                                    props(ccColor::yellowColor)));
    cf_AddGraphics(diagObj, box, "Bounding box", ccDiagDefs::eClientCoords);
    cf_AddText(diagObj, coordinates, "Coordinates (image : plate -> mapped image )");
  }
}
