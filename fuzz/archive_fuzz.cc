// SPDX-License-Identifier: Apache-2.0
// Archive loaders on arbitrary bytes. The first byte picks the way in: the grid parameters
// or results in place, or any registered class (the error classes included) through a raw
// or a shared polymorphic pointer. Invariants: a failed load throws a ccException and
// leaves an in-place object as it was; a successful load can be stored again, and what is
// stored loads back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "cal/calib/grid_calib_results.h"
#include "fuzz/fuzz_support.h"

namespace {

template <class T>
void loadInPlace(T& object, const std::vector<unsigned char>& input) {
  const std::vector<unsigned char> before = cfFuzzStore(object);
  const unsigned long changes = object.changeCount();
  std::vector<unsigned char> bytes = input;
  try {
    ccArchive in(bytes, ccArchive::eLoading);
    in || static_cast<ccPersistent&>(object);
  } catch (const ccException&) {
    FUZZ_CHECK(cfFuzzStore(object) == before);
    FUZZ_CHECK(object.changeCount() == changes);
    return;
  }
  std::vector<unsigned char> once = cfFuzzStore(object);
  T again = object;
  {
    ccArchive in(once, ccArchive::eLoading);
    in || static_cast<ccPersistent&>(again);
  }
  FUZZ_CHECK(cfFuzzStore(again) == once);
}

std::vector<unsigned char> storePointer(ccPersistent* p) {
  std::vector<unsigned char> bytes;
  ccArchive out(bytes, ccArchive::eStoring);
  out.exchangePointer(p);
  return bytes;
}

void loadByPointer(const std::vector<unsigned char>& input) {
  std::vector<unsigned char> bytes = input;
  std::unique_ptr<ccPersistent> object;
  try {
    ccArchive in(bytes, ccArchive::eLoading);
    ccPersistent* p = nullptr;
    in.exchangePointer(p);
    object.reset(p);
  } catch (const ccException&) {
    return;
  }
  std::vector<unsigned char> once = storePointer(object.get());
  std::unique_ptr<ccPersistent> again;
  {
    ccArchive in(once, ccArchive::eLoading);
    ccPersistent* p = nullptr;
    in.exchangePointer(p);
    again.reset(p);
  }
  FUZZ_CHECK((object == nullptr) == (again == nullptr));
  FUZZ_CHECK(storePointer(again.get()) == once);
}

void loadShared(const std::vector<unsigned char>& input) {
  std::vector<unsigned char> bytes = input;
  std::shared_ptr<ccPersistent> object;
  try {
    ccArchive in(bytes, ccArchive::eLoading);
    in.exchangeShared(object);
  } catch (const ccException&) {
    return;
  }
  std::vector<unsigned char> once;
  {
    ccArchive out(once, ccArchive::eStoring);
    out.exchangeShared(object);
  }
  FUZZ_CHECK(object == nullptr || once.size() > 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  cfFuzzInstallAssertionHandler();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::vector<unsigned char> input(data + 1, data + size);
  switch (data[0] % 4) {
    case 0: {
      ccGridCalibParams params(2.0, 3.0, false, ccCalibDefs::eGridPolynomialOrder3,
                               ccCalibDefs::ePolarityNormal);
      loadInPlace(params, input);
      break;
    }
    case 1: {
      ccGridCalibResults results;
      loadInPlace(results, input);
      break;
    }
    case 2:
      loadByPointer(input);
      break;
    default:
      loadShared(input);
      break;
  }
  return 0;
}
