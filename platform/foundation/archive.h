// Binary archive: one operator|| per value type both writes (when storing) and reads (when
// loading), so every class describes its format once. The encoding is fixed-width
// little-endian whatever the host; `long` and `unsigned long` travel as 32 bits.
//
// Reading is defensive: a truncated stream, a count larger than the rest of the stream can
// hold, or an unknown class name throws a typed exception; nothing allocates more than the
// stream could describe.
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

  // Over memory: storing appends to `buffer`, loading reads it from the start. The buffer
  // must outlive the archive.
  ccArchive(std::vector<unsigned char>& buffer, Mode mode);
  // Over a file: storing truncates and writes it, loading reads it.
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
  // Reads a 32-bit element count and checks that `count * minBytesEach` bytes remain.
  std::uint32_t exchangeCount(std::size_t count, std::size_t minBytesEach);

  // Polymorphic persistent pointers (null, a new object by class name, or a back reference
  // to an object already exchanged in this pass). Loading makes a new object the caller owns.
  void exchangePointer(ccPersistent*& object);
  void exchangeShared(std::shared_ptr<ccPersistent>& object);
  // A persistent object in place (no class name): its dispatchSerialize.
  void exchangeObject(ccPersistent& object);

  // Visit marks (see ccPersistent::haveVisited).
  bool visited(const void* object, std::size_t size) const;
  void markVisited(const void* object, std::size_t size);

 private:
  struct PassScope;
  void endPass();

  Mode mode_;
  std::vector<unsigned char>* memory_ = nullptr;
  std::size_t readPos_ = 0;
  std::unique_ptr<std::fstream> file_;
  std::size_t fileSize_ = 0;
  std::string path_;

  int depth_ = 0;  // nesting of persistent exchanges; marks are cleared when it returns to 0
  std::set<std::pair<const void*, std::size_t>> visited_;
  std::map<const void*, std::uint32_t> storedIds_;
  std::vector<ccPersistent*> loadedRaw_;
  std::vector<std::shared_ptr<ccPersistent>> loadedShared_;
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
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, long& v);           // 32 bits
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, unsigned long& v);  // 32 bits
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, long long& v);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, unsigned long long& v);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, float& v);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, double& v);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, std::string& v);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, std::wstring& v);

// Geometry values.
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, ccVector<2>& v);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, ccMatrix<2>& m);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, ccXform<2>& x);
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, ccRadian& a);

template <class T>
ccArchive& operator||(ccArchive& ar, ccPair<T>& p) {
  ar || p.first;
  ar || p.second;
  return ar;
}

// Persistent objects: in place by reference, polymorphic by pointer or shared handle.
inline ccArchive& operator||(ccArchive& ar, ccPersistent& object) {
  ar.exchangeObject(object);
  return ar;
}

template <class T, class = std::enable_if_t<std::is_base_of<ccPersistent, T>::value>>
ccArchive& operator||(ccArchive& ar, T*& object) {
  ccPersistent* p = object;
  ar.exchangePointer(p);
  if (ar.isLoading()) {
    T* typed = dynamic_cast<T*>(p);
    if (p != nullptr && typed == nullptr) {
      delete p;
      throw ccArchive::BadData(L"The archive holds an object of the wrong class");
    }
    object = typed;
  }
  return ar;
}

template <class T, class = std::enable_if_t<std::is_base_of<ccPersistent, T>::value>>
ccArchive& operator||(ccArchive& ar, std::shared_ptr<T>& object) {
  std::shared_ptr<ccPersistent> p = object;
  ar.exchangeShared(p);
  if (ar.isLoading()) {
    std::shared_ptr<T> typed = std::dynamic_pointer_cast<T>(p);
    if (p && !typed) throw ccArchive::BadData(L"The archive holds an object of the wrong class");
    object = std::move(typed);
  }
  return ar;
}

// Vectors of values: a 32-bit count, then the elements. Loading checks the count against
// the bytes left before it allocates.
template <class T>
ccArchive& operator||(ccArchive& ar, std::vector<T>& v) {
  std::uint32_t n = ar.exchangeCount(v.size(), 1);
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
