// Little-endian binary archive over memory or a file.
#include "platform/foundation/archive.h"

#include <cstring>
#include <limits>
#include <sstream>

namespace {

constexpr unsigned char kTagNull = 0;       // null pointer
constexpr unsigned char kTagObject = 1;     // class name, then the object
constexpr unsigned char kTagReference = 2;  // index of an object exchanged earlier in the pass
constexpr std::size_t kMaxTypeName = 1024;  // longest class name accepted when reading

template <class U>
void putLE(ccArchive& ar, U v) {
  unsigned char b[sizeof(U)];
  for (std::size_t i = 0; i < sizeof(U); ++i) b[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
  ar.exchangeBytes(b, sizeof(U));
}

template <class U>
U getLE(ccArchive& ar) {
  unsigned char b[sizeof(U)];
  ar.exchangeBytes(b, sizeof(U));
  U v = 0;
  for (std::size_t i = 0; i < sizeof(U); ++i) v |= static_cast<U>(static_cast<U>(b[i]) << (8 * i));
  return v;
}

template <class U, class T>
void exchangeUnsigned(ccArchive& ar, T& v) {
  if (ar.isStoring()) {
    putLE<U>(ar, static_cast<U>(v));
  } else {
    v = static_cast<T>(getLE<U>(ar));
  }
}

template <class U, class S, class T>
void exchangeSigned(ccArchive& ar, T& v) {
  if (ar.isStoring()) {
    putLE<U>(ar, static_cast<U>(static_cast<S>(v)));
  } else {
    v = static_cast<T>(static_cast<S>(getLE<U>(ar)));
  }
}

std::wstring versionMessage(const char* where, long number) {
  std::wostringstream out;
  out << L"Unknown archive version in " << cfWiden(where ? where : "") << L" (" << number << L")";
  return out.str();
}

}  // namespace

// Tracks the nesting of persistent exchanges so that visit marks and the pointer tables
// live for exactly one top-level exchange.
struct ccArchive::PassScope {
  explicit PassScope(ccArchive& a) : ar(a) { ++ar.depth_; }
  ~PassScope() {
    if (--ar.depth_ == 0) ar.endPass();
  }
  ccArchive& ar;
};

ccArchive::UnknownVersion::UnknownVersion(const char* where, long number)
    : ccExceptionWithString(versionMessage(where, number)) {}
ccArchive::UnknownVersion::~UnknownVersion() = default;
ccArchive::Truncated::Truncated() : ccExceptionWithString(L"The archive ended before the value was complete") {}
ccArchive::Truncated::~Truncated() = default;
ccArchive::BadData::BadData(const std::wstring& message) : ccExceptionWithString(message) {}
ccArchive::BadData::~BadData() = default;
ccArchive::UnknownType::UnknownType(const std::string& typeName)
    : ccExceptionWithString(L"The archive names an unknown class: " + cfWiden(typeName)) {}
ccArchive::UnknownType::~UnknownType() = default;
ccArchive::FileError::FileError(const std::string& path)
    : ccExceptionWithString(L"Cannot access the archive file " + cfWiden(path)) {}
ccArchive::FileError::~FileError() = default;

ccArchive::ccArchive(std::vector<unsigned char>& buffer, Mode mode) : mode_(mode), memory_(&buffer) {}

ccArchive::ccArchive(const std::string& path, Mode mode) : mode_(mode), path_(path) {
  auto flags = std::ios::binary | (mode == eStoring ? (std::ios::out | std::ios::trunc) : std::ios::in);
  file_ = std::make_unique<std::fstream>(path, flags);
  if (!file_->is_open()) throw FileError(path);
  if (mode == eLoading) {
    file_->seekg(0, std::ios::end);
    std::streamoff size = file_->tellg();
    file_->seekg(0, std::ios::beg);
    if (size < 0) throw FileError(path);
    fileSize_ = static_cast<std::size_t>(size);
  }
}

ccArchive::~ccArchive() {
  if (file_ && mode_ == eStoring) file_->flush();
}

std::size_t ccArchive::remaining() const {
  if (mode_ == eStoring) return 0;
  return memory_ ? memory_->size() - readPos_ : fileSize_ - readPos_;
}

void ccArchive::flush() {
  if (file_ && mode_ == eStoring) {
    file_->flush();
    if (!*file_) throw FileError(path_);
  }
}

void ccArchive::exchangeBytes(void* data, std::size_t n) {
  if (n == 0) return;
  if (mode_ == eStoring) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    if (memory_) {
      memory_->insert(memory_->end(), p, p + n);
    } else {
      file_->write(reinterpret_cast<const char*>(p), static_cast<std::streamsize>(n));
      if (!*file_) throw FileError(path_);
    }
    return;
  }
  if (n > remaining()) throw Truncated();
  if (memory_) {
    std::memcpy(data, memory_->data() + readPos_, n);
  } else {
    file_->read(static_cast<char*>(data), static_cast<std::streamsize>(n));
    if (!*file_) throw Truncated();
  }
  readPos_ += n;
}

std::uint32_t ccArchive::exchangeCount(std::size_t count, std::size_t minBytesEach) {
  if (mode_ == eStoring) {
    if (count > std::numeric_limits<std::uint32_t>::max()) throw BadData(L"Too many elements to archive");
    putLE<std::uint32_t>(*this, static_cast<std::uint32_t>(count));
    return static_cast<std::uint32_t>(count);
  }
  std::uint32_t n = getLE<std::uint32_t>(*this);
  if (minBytesEach == 0) minBytesEach = 1;
  if (static_cast<std::uint64_t>(n) * minBytesEach > remaining()) {
    throw BadData(L"The archive holds an element count larger than the rest of the stream");
  }
  return n;
}

bool ccArchive::visited(const void* object, std::size_t size) const {
  return visited_.count({object, size}) != 0;
}

void ccArchive::markVisited(const void* object, std::size_t size) { visited_.insert({object, size}); }

void ccArchive::endPass() {
  visited_.clear();
  storedIds_.clear();
  loadedRaw_.clear();
  loadedShared_.clear();
}

void ccArchive::exchangeObject(ccPersistent& object) {
  PassScope scope(*this);
  object.dispatchSerialize(*this);
}

namespace {

std::string readTypeName(ccArchive& ar) {
  std::uint32_t n = ar.exchangeCount(0, 1);
  if (n == 0 || n > kMaxTypeName) throw ccArchive::BadData(L"The archive holds an invalid class name");
  std::string name(n, '\0');
  ar.exchangeBytes(&name[0], n);
  return name;
}

void writeTypeName(ccArchive& ar, const std::string& name) {
  ar.exchangeCount(name.size(), 1);
  std::string copy = name;
  ar.exchangeBytes(&copy[0], copy.size());
}

ccPersistent* makeByName(const std::string& name) {
  cc_Instantiator::Factory make = cc_Instantiator::find(name);
  if (make == nullptr) throw ccArchive::UnknownType(name);
  ccPersistent* p = make();
  if (p == nullptr) throw ccArchive::UnknownType(name);
  return p;
}

}  // namespace

void ccArchive::exchangePointer(ccPersistent*& object) {
  PassScope scope(*this);
  if (mode_ == eStoring) {
    unsigned char tag = kTagNull;
    if (object == nullptr) {
      *this || tag;
      return;
    }
    auto it = storedIds_.find(object);
    if (it != storedIds_.end()) {
      tag = kTagReference;
      std::uint32_t id = it->second;
      *this || tag;
      putLE<std::uint32_t>(*this, id);
      return;
    }
    tag = kTagObject;
    *this || tag;
    std::uint32_t id = static_cast<std::uint32_t>(storedIds_.size());
    storedIds_[object] = id;
    writeTypeName(*this, object->persistentTypeName());
    object->dispatchSerialize(*this);
    return;
  }
  unsigned char tag = 0;
  *this || tag;
  if (tag == kTagNull) {
    object = nullptr;
  } else if (tag == kTagReference) {
    std::uint32_t id = getLE<std::uint32_t>(*this);
    if (id >= loadedRaw_.size()) throw BadData(L"The archive holds an invalid object reference");
    object = loadedRaw_[id];
  } else if (tag == kTagObject) {
    std::unique_ptr<ccPersistent> p(makeByName(readTypeName(*this)));
    p->dispatchSerialize(*this);
    object = p.release();
    loadedRaw_.push_back(object);
  } else {
    throw BadData(L"The archive holds an invalid object tag");
  }
}

void ccArchive::exchangeShared(std::shared_ptr<ccPersistent>& object) {
  PassScope scope(*this);
  if (mode_ == eStoring) {
    ccPersistent* raw = object.get();
    unsigned char tag = kTagNull;
    if (raw == nullptr) {
      *this || tag;
      return;
    }
    auto it = storedIds_.find(raw);
    if (it != storedIds_.end()) {
      tag = kTagReference;
      *this || tag;
      putLE<std::uint32_t>(*this, it->second);
      return;
    }
    tag = kTagObject;
    *this || tag;
    std::uint32_t id = static_cast<std::uint32_t>(storedIds_.size());
    storedIds_[raw] = id;
    writeTypeName(*this, raw->persistentTypeName());
    raw->dispatchSerialize(*this);
    return;
  }
  unsigned char tag = 0;
  *this || tag;
  if (tag == kTagNull) {
    object.reset();
  } else if (tag == kTagReference) {
    std::uint32_t id = getLE<std::uint32_t>(*this);
    if (id >= loadedShared_.size()) throw BadData(L"The archive holds an invalid object reference");
    object = loadedShared_[id];
  } else if (tag == kTagObject) {
    std::shared_ptr<ccPersistent> p(makeByName(readTypeName(*this)));
    p->dispatchSerialize(*this);
    object = p;
    loadedShared_.push_back(std::move(p));
  } else {
    throw BadData(L"The archive holds an invalid object tag");
  }
}

ccArchive& operator||(ccArchive& ar, bool& v) {
  if (ar.isStoring()) {
    unsigned char b = v ? 1 : 0;
    ar.exchangeBytes(&b, 1);
  } else {
    unsigned char b = 0;
    ar.exchangeBytes(&b, 1);
    if (b > 1) throw ccArchive::BadData(L"The archive holds an invalid boolean");
    v = b != 0;
  }
  return ar;
}

ccArchive& operator||(ccArchive& ar, char& v) { exchangeSigned<std::uint8_t, std::int8_t>(ar, v); return ar; }
ccArchive& operator||(ccArchive& ar, signed char& v) { exchangeSigned<std::uint8_t, std::int8_t>(ar, v); return ar; }
ccArchive& operator||(ccArchive& ar, unsigned char& v) { exchangeUnsigned<std::uint8_t>(ar, v); return ar; }
ccArchive& operator||(ccArchive& ar, short& v) { exchangeSigned<std::uint16_t, std::int16_t>(ar, v); return ar; }
ccArchive& operator||(ccArchive& ar, unsigned short& v) { exchangeUnsigned<std::uint16_t>(ar, v); return ar; }
ccArchive& operator||(ccArchive& ar, int& v) { exchangeSigned<std::uint32_t, std::int32_t>(ar, v); return ar; }
ccArchive& operator||(ccArchive& ar, unsigned int& v) { exchangeUnsigned<std::uint32_t>(ar, v); return ar; }
ccArchive& operator||(ccArchive& ar, long& v) { exchangeSigned<std::uint32_t, std::int32_t>(ar, v); return ar; }
ccArchive& operator||(ccArchive& ar, unsigned long& v) { exchangeUnsigned<std::uint32_t>(ar, v); return ar; }
ccArchive& operator||(ccArchive& ar, long long& v) { exchangeSigned<std::uint64_t, std::int64_t>(ar, v); return ar; }
ccArchive& operator||(ccArchive& ar, unsigned long long& v) { exchangeUnsigned<std::uint64_t>(ar, v); return ar; }

ccArchive& operator||(ccArchive& ar, float& v) {
  std::uint32_t bits = 0;
  if (ar.isStoring()) std::memcpy(&bits, &v, 4);
  exchangeUnsigned<std::uint32_t>(ar, bits);
  if (ar.isLoading()) std::memcpy(&v, &bits, 4);
  return ar;
}

ccArchive& operator||(ccArchive& ar, double& v) {
  std::uint64_t bits = 0;
  if (ar.isStoring()) std::memcpy(&bits, &v, 8);
  exchangeUnsigned<std::uint64_t>(ar, bits);
  if (ar.isLoading()) std::memcpy(&v, &bits, 8);
  return ar;
}

ccArchive& operator||(ccArchive& ar, std::string& v) {
  std::uint32_t n = ar.exchangeCount(v.size(), 1);
  if (ar.isLoading()) v.assign(n, '\0');
  if (n > 0) ar.exchangeBytes(&v[0], n);
  return ar;
}

ccArchive& operator||(ccArchive& ar, std::wstring& v) {
  // Code points as 32-bit values.
  std::uint32_t n = ar.exchangeCount(v.size(), 4);
  if (ar.isLoading()) v.assign(n, L'\0');
  for (std::uint32_t i = 0; i < n; ++i) {
    std::uint32_t cp = static_cast<std::uint32_t>(v[i]);
    exchangeUnsigned<std::uint32_t>(ar, cp);
    if (ar.isLoading()) {
      if (cp > 0x10FFFF) throw ccArchive::BadData(L"The archive holds an invalid character");
      v[i] = static_cast<wchar_t>(cp);
    }
  }
  return ar;
}

ccArchive& operator||(ccArchive& ar, ccVector<2>& v) {
  double x = v.x(), y = v.y();
  ar || x;
  ar || y;
  if (ar.isLoading()) v = ccVector<2>(x, y);
  return ar;
}

ccArchive& operator||(ccArchive& ar, ccMatrix<2>& m) {
  double e[4] = {m.element(0, 0), m.element(0, 1), m.element(1, 0), m.element(1, 1)};
  for (double& d : e) ar || d;
  if (ar.isLoading()) m = ccMatrix<2>(e[0], e[1], e[2], e[3]);
  return ar;
}

ccArchive& operator||(ccArchive& ar, ccXform<2>& x) {
  ccMatrix<2> m = x.matrix();
  ccVector<2> t = x.trans();
  ar || m;
  ar || t;
  if (ar.isLoading()) x = ccXform<2>(m, t);
  return ar;
}

ccArchive& operator||(ccArchive& ar, ccRadian& a) {
  double v = a.toDouble();
  ar || v;
  if (ar.isLoading()) a = ccRadian(v);
  return ar;
}
