// Vertex feature parameters: setter checks, the archive format of every version, and the
// archive round trip of the extraction's error classes.
#include "cal/calibftr/vertex_feature_params.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "platform/foundation/archive.h"

namespace {

using Defs = ccCalib2VertexFeatureDefs;

// Every field that can differ, so that a dropped or swapped field shows.
void expectSame(const ccCalib2VertexFeatureParams& a, const ccCalib2VertexFeatureParams& b) {
  EXPECT_EQ(a.nominalTileSize(), b.nominalTileSize());
  EXPECT_EQ(a.physicalGridPitch(), b.physicalGridPitch());
  EXPECT_EQ(a.origin(), b.origin());
  EXPECT_EQ(a.labelMode(), b.labelMode());
  EXPECT_EQ(a.precisionThreshold(), b.precisionThreshold());
  EXPECT_EQ(a.needBothCheckers(), b.needBothCheckers());
  EXPECT_EQ(a.uniformLighting(), b.uniformLighting());
  EXPECT_EQ(a.algorithm(), b.algorithm());
}

ccCalib2VertexFeatureParams nonDefault() {
  ccCalib2VertexFeatureParams p(ccVector<2>(2.5, 3.5), ccVector<2>(31, 17), Defs::eUseFiducial);
  p.origin(ccVector<2>(-4, 9));
  p.precisionThreshold(0.25);
  p.needBothCheckers(false);
  p.uniformLighting(false);
  p.algorithm(Defs::eExhaustive);
  return p;
}

TEST(VertexFeatureParams, ConstructorsTakePitchFirstAndCheckNothing) {
  const ccCalib2VertexFeatureParams p(ccVector<2>(2, 3), ccVector<2>(1, 1), Defs::eUseOrigin);
  EXPECT_EQ(p.physicalGridPitch(), ccVector<2>(2, 3));
  EXPECT_EQ(p.nominalTileSize(), ccVector<2>(1, 1));
  EXPECT_EQ(p.labelMode(), Defs::eUseOrigin);
  EXPECT_EQ(p.setMask(), 0u);
  const ccCalib2VertexFeatureParams q(ccVector<2>(4, 5), Defs::eUseFiducial);
  EXPECT_EQ(q.physicalGridPitch(), ccVector<2>(4, 5));
  EXPECT_EQ(q.nominalTileSize(), ccVector<2>(20, 20));
}

TEST(VertexFeatureParams, RefusedValuesLeaveTheObjectUnchanged) {
  const double nan = std::nan("");
  struct Case {
    const char* what;
    std::function<void(ccCalib2VertexFeatureParams&)> set;
    const wchar_t* message;
  };
  const Case cases[] = {
      {"tile 9.99", [](auto& p) { p.nominalTileSize(ccVector<2>(10, 9.99)); },
       L"Supplied nominal tile dimensions are too small."},
      {"tile NaN", [nan](auto& p) { p.nominalTileSize(ccVector<2>(nan, 20)); },
       L"Supplied nominal tile dimensions are too small."},
      {"pitch 0", [](auto& p) { p.physicalGridPitch(ccVector<2>(0, 1)); }, L"An invalid grid pitch value was specified."},
      {"pitch NaN", [nan](auto& p) { p.physicalGridPitch(ccVector<2>(1, nan)); },
       L"An invalid grid pitch value was specified."},
      {"mode 3", [](auto& p) { p.labelMode(static_cast<Defs::CorrespondMethod>(3)); }, L"Invalid mode specified."},
      {"mode -1", [](auto& p) { p.labelMode(static_cast<Defs::CorrespondMethod>(-1)); }, L"Invalid mode specified."},
      {"threshold", [](auto& p) { p.precisionThreshold(-0.1); }, L"precisionThreshold must be >= 0.0"},
      {"threshold NaN", [nan](auto& p) { p.precisionThreshold(nan); }, L"precisionThreshold must be >= 0.0"},
      {"algorithm 2", [](auto& p) { p.algorithm(static_cast<Defs::Algorithm>(2)); }, L"invalid algorithm"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ccCalib2VertexFeatureParams p = nonDefault();
    try {
      c.set(p);
      ADD_FAILURE() << "accepted";
    } catch (const Defs::BadParam& e) {
      EXPECT_EQ(e.message(), c.message);
    }
    expectSame(p, nonDefault());
    EXPECT_EQ(p.setMask(), nonDefault().setMask());
  }
  // The limits themselves pass and set their mask bits.
  ccCalib2VertexFeatureParams p;
  p.nominalTileSize(ccVector<2>(10, 10));
  p.physicalGridPitch(ccVector<2>(1e-9, 1e-9));
  p.precisionThreshold(0.0);
  p.precisionThreshold(std::numeric_limits<double>::infinity());
  EXPECT_EQ(p.setMask(), 8u | 16u);
  p.origin(ccVector<2>(1, 1));
  EXPECT_EQ(p.setMask(), 4u | 8u | 16u);
}

std::vector<unsigned char> store(ccCalib2VertexFeatureParams p) {
  std::vector<unsigned char> bytes;
  ccArchive out(bytes, ccArchive::eStoring);
  out || p;
  return bytes;
}

// A stream of an older version, written item by item in the documented order.
std::vector<unsigned char> oldStream(unsigned char version, const ccCalib2VertexFeatureParams& p) {
  std::vector<unsigned char> bytes;
  ccArchive out(bytes, ccArchive::eStoring);
  ccVector<2> tile = p.nominalTileSize(), pitch = p.physicalGridPitch(), origin = p.origin();
  unsigned long mode = static_cast<unsigned long>(p.labelMode()), algorithm = static_cast<unsigned long>(p.algorithm());
  double threshold = p.precisionThreshold();
  bool both = p.needBothCheckers(), uniform = p.uniformLighting();
  out || version || tile || pitch || origin || mode;
  if (version >= 1) out || threshold || both || uniform;
  if (version >= 2) out || algorithm;
  return bytes;
}

TEST(VertexFeatureParams, ArchiveVersionsZeroToTwoReadThreeRefused) {
  const ccCalib2VertexFeatureParams written = nonDefault();
  std::vector<unsigned char> bytes = store(written);
  EXPECT_EQ(bytes[0], 2);
  EXPECT_EQ(bytes, oldStream(2, written));  // the current format is the documented one
  ccCalib2VertexFeatureParams read;
  {
    ccArchive in(bytes, ccArchive::eLoading);
    in || read;
    EXPECT_EQ(in.remaining(), 0u);
  }
  expectSame(read, written);
  EXPECT_EQ(read.setMask(), 0u);  // not archived

  // Older versions restore what they hold and keep the rest of the loading object.
  for (unsigned char version : {0, 1}) {
    SCOPED_TRACE(int(version));
    std::vector<unsigned char> old = oldStream(version, written);
    ccCalib2VertexFeatureParams target;
    ccArchive in(old, ccArchive::eLoading);
    in || target;
    ccCalib2VertexFeatureParams expected(written.physicalGridPitch(), written.nominalTileSize(), written.labelMode());
    expected.origin(written.origin());
    if (version >= 1) {
      expected.precisionThreshold(written.precisionThreshold());
      expected.needBothCheckers(written.needBothCheckers());
      expected.uniformLighting(written.uniformLighting());
    }
    expectSame(target, expected);
  }

  std::vector<unsigned char> newer = bytes;
  newer[0] = 3;
  ccCalib2VertexFeatureParams untouched = nonDefault();
  ccArchive in(newer, ccArchive::eLoading);
  EXPECT_THROW(in || untouched, ccArchive::UnknownVersion);
  expectSame(untouched, nonDefault());
}

TEST(VertexFeatureParams, ArchiveKeepsValuesOutsideTheEnumerations) {
  ccCalib2VertexFeatureParams p;
  std::vector<unsigned char> bytes = oldStream(2, p);
  bytes[1 + 3 * 16] = 7;          // label mode
  bytes[1 + 3 * 16 + 4 + 10] = 5;  // algorithm
  ccArchive in(bytes, ccArchive::eLoading);
  in || p;
  EXPECT_EQ(static_cast<int>(p.labelMode()), 7);
  EXPECT_EQ(static_cast<int>(p.algorithm()), 5);
}

TEST(VertexFeatureErrors, ArchiveRoundTripOfEachClass) {
  std::vector<std::shared_ptr<ccPersistent>> errors = {
      std::make_shared<Defs::BadParam>(L"Client transform of srcImg must be linear."),
      std::make_shared<Defs::FailedCorrespondence>(L"Failed to establish correspondence."),
      std::make_shared<Defs::FiducialNotFound>()};
  for (const std::shared_ptr<ccPersistent>& original : errors) {
    std::vector<unsigned char> bytes;
    {
      ccArchive out(bytes, ccArchive::eStoring);
      std::shared_ptr<ccPersistent> p = original;
      out.exchangeShared(p);
    }
    ccArchive in(bytes, ccArchive::eLoading);
    std::shared_ptr<ccPersistent> back;
    in.exchangeShared(back);
    const auto* a = dynamic_cast<const Defs::Errors*>(original.get());
    const auto* b = dynamic_cast<const Defs::Errors*>(back.get());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(typeid(*a), typeid(*b));
    EXPECT_EQ(b->errorNumber(), a->errorNumber());
    EXPECT_EQ(b->message(), a->message());
  }
}

}  // namespace
