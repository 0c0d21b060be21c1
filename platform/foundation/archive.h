// SPDX-License-Identifier: Apache-2.0
// Binary archive: one operator|| per value type both writes (when storing) and reads (when
// loading), so every class describes its format once. The encoding is fixed-width
// little-endian whatever the host; `long` and `unsigned long` travel as 32 bits.
//
// Reading is defensive: every failure is a typed exception. A stream that ends before a
// value is complete throws Truncated; an element count larger than the number of bytes
// left, and other impossible contents (bad tags, class names, references, nesting deeper
// than kMaxNesting), throw BadData; an unregistered class name throws UnknownType. Nothing
// allocates more than a small multiple of the bytes left in the stream.
//
// Passes. Exchanges nest (an object exchanges its members); the outermost exchange together
// with everything nested in it is one pass. Visit marks and the back-reference tables of
// polymorphic pointers live for one pass: an object reached twice through pointers in the
// same pass is written once and read back as one object. A vector or pair is one pass, and
// a caller can group several exchanges into one with ccArchive::Pass. Objects stored by
// raw pointer must stay alive until their pass ends, so that no other object takes their
// address.
#ifndef PLATFORM_FOUNDATION_ARCHIVE_H
#define PLATFORM_FOUNDATION_ARCHIVE_H

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "ccalib_export.h"
#include "platform/foundation/exception.h"
#include "platform/foundation/persistent.h"
#include "platform/foundation/vector.h"
#include "platform/foundation/xform.h"

class CCALIB_EXPORT ccArchive {
 public:
  enum Mode { eStoring, eLoading };

  // A stored version number that this code does not know. `where` names the class (or the
  // source location) and `number` the version (or line) that was refused.
  class CCALIB_EXPORT UnknownVersion : public ccExceptionWithString {
   public:
    UnknownVersion(const char* where = "", long number = 0);
    ~UnknownVersion() override;
  };
  // The stream ended before the value was complete.
  class CCALIB_EXPORT Truncated : public ccExceptionWithString {
   public:
    Truncated();
    ~Truncated() override;
  };
  // The stream holds something that cannot be a valid value (a count too large for the
  // rest of the stream, a bad tag, a class of the wrong kind).
  class CCALIB_EXPORT BadData : public ccExceptionWithString {
   public:
    explicit BadData(const std::wstring& message = L"The archive holds invalid data");
    ~BadData() override;
  };
  // A polymorphic object names a class that has no registered factory.
  class CCALIB_EXPORT UnknownType : public ccExceptionWithString {
   public:
    explicit UnknownType(const std::string& typeName);
    ~UnknownType() override;
  };
  // A file could not be opened, read or written.
  class CCALIB_EXPORT FileError : public ccExceptionWithString {
   public:
    explicit FileError(const std::string& path);
    ~FileError() override;
  };

  // Deepest nesting of exchanges accepted (objects inside objects, containers inside
  // containers); deeper data throws BadData, so hostile input cannot exhaust the stack.
  static constexpr int kMaxNesting = 1000;

  // Makes the exchanges done while it lives one pass (see the file comment). Scopes nest;
  // the pass ends when the outermost one ends. Throws BadData beyond kMaxNesting.
  class CCALIB_EXPORT Pass {
   public:
    explicit Pass(ccArchive& ar);
    ~Pass();
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;

   private:
    ccArchive& ar_;
  };

  // Over memory: storing appends to `buffer`, loading reads it from the start. The buffer
  // must outlive the archive.
  ccArchive(std::vector<unsigned char>& buffer, Mode mode);
  // Over a file: storing truncates and writes it, loading reads it. Throws FileError when the
  // file cannot be opened (or, for loading, is not a readable regular file).
  ccArchive(const std::string& path, Mode mode);
  ~ccArchive();
  ccArchive(const ccArchive&) = delete;
  ccArchive& operator=(const ccArchive&) = delete;

  bool isLoading() const { return mode_ == eLoading; }
  bool isStoring() const { return mode_ == eStoring; }
  // Bytes left to read (loading) or 0 (storing).
  std::size_t remaining() const;
  // Writes any buffered bytes to the file.
  void flush();

  // Raw byte exchange; reading fewer than n available bytes throws Truncated.
  void exchangeBytes(void* data, std::size_t n);
  // Storing writes `count` as 32 bits (BadData when it does not fit). Loading reads a count
  // n, throws BadData when n exceeds the bytes left, and Truncated when fewer than
  // n * minBytesEach bytes are left (the elements cannot all be there).
  std::uint32_t exchangeCount(std::size_t count, std::size_t minBytesEach);

  // Polymorphic persistent pointers: null, a new object by class name, or a back reference
  // to an object already exchanged in this pass. Loading makes a new object that the caller
  // owns; a back reference yields the object made earlier in the pass, not a new one.
  // When loading, `accepts` (if given) vets the object's class before it is read: a refused
  // class throws BadData and nothing is leaked. A back reference through a shared handle to
  // an object first stored through a raw pointer is refused (BadData) on both sides, as no
  // shared handle could own it after loading; the other way round yields the raw pointer of
  // the shared object. So is a shared back reference to an object whose own exchange is
  // still going on (an object that would own itself through shared handles, a cycle that
  // could never be freed); raw back references to such objects are fine.
  using Accepts = bool (*)(const ccPersistent* object);
  void exchangePointer(ccPersistent*& object, Accepts accepts = nullptr);
  void exchangeShared(std::shared_ptr<ccPersistent>& object, Accepts accepts = nullptr);
  // A non-owning pointer (a peer or parent link): null or a back reference to an object
  // exchanged earlier in this pass or still being exchanged. Storing any other object, or
  // loading a new object, throws BadData, so a hostile stream cannot make an object that
  // nobody owns. See also cfArchiveReference.
  void exchangeReference(ccPersistent*& object, Accepts accepts = nullptr);
  // A persistent object in place (no class name): its dispatchSerialize.
  void exchangeObject(ccPersistent& object);

  // Visit marks (see ccPersistent::haveVisited).
  bool visited(const void* object, std::size_t size) const;
  void markVisited(const void* object, std::size_t size);

 private:
  struct StoredObject {
    std::uint32_t id;
    bool viaShared;
    bool inProgress;  // its members are being exchanged
  };
  struct LoadedObject {
    ccPersistent* raw;                     // never owned here
    std::shared_ptr<ccPersistent> shared;  // set when the object was loaded by shared handle
    bool inProgress;                       // its members are being read
  };

  void endPass();
  // Reads the tag and resolves null and back references; for a new object returns true with
  // `made` holding it and its table slot reserved (so references inside it resolve).
  bool loadPointer(ccPersistent*& object, std::shared_ptr<ccPersistent>* shared, Accepts accepts,
                   std::unique_ptr<ccPersistent>* made);
  // Writes the tag and the back reference or class name; returns true when the object itself
  // must follow.
  bool storePointer(ccPersistent* object, bool viaShared);

  Mode mode_;
  std::vector<unsigned char>* memory_ = nullptr;
  std::size_t readPos_ = 0;
  std::unique_ptr<std::fstream> file_;
  std::size_t fileSize_ = 0;
  std::string path_;

  int depth_ = 0;  // nesting of exchanges; the pass ends when it returns to 0
  std::set<std::pair<const void*, std::size_t>> visited_;
  std::map<const void*, StoredObject> stored_;  // storing: objects written in this pass
  std::vector<LoadedObject> loaded_;            // loading: objects read in this pass, by id
};

// Fewest bytes one value of T takes in an archive; vectors use it to refuse element counts
// that the rest of the stream cannot hold before they allocate.
template <class T>
struct ccArchiveMinBytes {
  // Numbers travel at their own width, except long and unsigned long (32 bits); strings
  // need at least their 32-bit count; anything else at least one byte.
  static constexpr std::size_t value =
      std::is_same<T, long>::value || std::is_same<T, unsigned long>::value         ? 4
      : std::is_arithmetic<T>::value                                                ? sizeof(T)
      : std::is_same<T, std::string>::value || std::is_same<T, std::wstring>::value ? 4
                                                                                    : 1;
};
template <>
struct ccArchiveMinBytes<ccRadian> {
  static constexpr std::size_t value = 8;
};
template <>
struct ccArchiveMinBytes<ccVector<2>> {
  static constexpr std::size_t value = 16;
};
template <>
struct ccArchiveMinBytes<ccMatrix<2>> {
  static constexpr std::size_t value = 32;
};
template <>
struct ccArchiveMinBytes<ccXform<2>> {
  static constexpr std::size_t value = 48;
};
template <class T>
struct ccArchiveMinBytes<ccPair<T>> {
  static constexpr std::size_t value = 2 * ccArchiveMinBytes<T>::value;
};
template <class T>
struct ccArchiveMinBytes<std::vector<T>> {
  static constexpr std::size_t value = 4;
};

// Fixed-width scalars.
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, bool& v);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, char& v);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, signed char& v);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, unsigned char& v);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, short& v);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, unsigned short& v);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, int& v);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, unsigned int& v);
// `long` and `unsigned long` travel as 32 bits; storing a value outside that range throws
// BadData rather than writing a different number.
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, long& v);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, unsigned long& v);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, long long& v);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, unsigned long long& v);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, float& v);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, double& v);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, std::string& v);
// Characters travel as 32-bit code points; one above 0x10FFFF throws BadData either way.
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, std::wstring& v);

// Geometry values.
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, ccVector<2>& v);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, ccMatrix<2>& m);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, ccXform<2>& x);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, ccRadian& a);

template <class T>
ccArchive& operator||(ccArchive& ar, ccPair<T>& p) {
  ccArchive::Pass pass(ar);
  ar || p.first;
  ar || p.second;
  return ar;
}

// Persistent objects: in place by reference, polymorphic by pointer or shared handle.
inline ccArchive& operator||(ccArchive& ar, ccPersistent& object) {
  ar.exchangeObject(object);
  return ar;
}

// Loading replaces the pointer without deleting what it pointed to. An object in the stream
// that is not a T throws BadData.
template <class T, class = std::enable_if_t<std::is_base_of<ccPersistent, T>::value>>
ccArchive& operator||(ccArchive& ar, T*& object) {
  ccPersistent* p = object;
  ar.exchangePointer(p, [](const ccPersistent* q) { return dynamic_cast<const T*>(q) != nullptr; });
  if (ar.isLoading()) object = dynamic_cast<T*>(p);
  return ar;
}

template <class T, class = std::enable_if_t<std::is_base_of<ccPersistent, T>::value>>
ccArchive& operator||(ccArchive& ar, std::shared_ptr<T>& object) {
  std::shared_ptr<ccPersistent> p = object;
  ar.exchangeShared(p, [](const ccPersistent* q) { return dynamic_cast<const T*>(q) != nullptr; });
  if (ar.isLoading()) object = std::dynamic_pointer_cast<T>(p);
  return ar;
}

// A typed non-owning pointer through ccArchive::exchangeReference; an object in the stream
// that is not a T throws BadData.
template <class T, class = std::enable_if_t<std::is_base_of<ccPersistent, T>::value>>
void cfArchiveReference(ccArchive& ar, T*& object) {
  ccPersistent* p = object;
  ar.exchangeReference(p,
                       [](const ccPersistent* q) { return dynamic_cast<const T*>(q) != nullptr; });
  if (ar.isLoading()) object = dynamic_cast<T*>(p);
}

// Vectors of values: a 32-bit count, then the elements, all in one pass. Loading checks the
// count against the bytes left before it allocates.
template <class T>
ccArchive& operator||(ccArchive& ar, std::vector<T>& v) {
  ccArchive::Pass pass(ar);
  std::uint32_t n = ar.exchangeCount(v.size(), ccArchiveMinBytes<T>::value);
  if (ar.isLoading()) {
    v.clear();
    v.resize(n);
  }
  for (std::uint32_t i = 0; i < n; ++i) {
    if constexpr (std::is_same<T, bool>::value) {
      bool b = v[i];
      ar || b;
      v[i] = b;
    } else {
      ar || v[i];
    }
  }
  return ar;
}

#endif  // PLATFORM_FOUNDATION_ARCHIVE_H
