// SPDX-License-Identifier: Apache-2.0
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
constexpr std::uint32_t kMaxCodePoint = 0x10FFFF;  // largest Unicode code point

template <class U>
void putLE(ccArchive& ar, U v) {
  unsigned char b[sizeof(U)];
  for (std::size_t i = 0; i < sizeof(U); ++i)
    b[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
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

ccArchive::Pass::Pass(ccArchive& ar) : ar_(ar) {
  if (ar_.depth_ >= kMaxNesting) throw BadData(L"The archive nests values too deeply");
  ++ar_.depth_;
}

ccArchive::Pass::~Pass() {
  if (--ar_.depth_ == 0) ar_.endPass();
}

ccArchive::UnknownVersion::UnknownVersion(const char* where, long number)
    : ccExceptionWithString(versionMessage(where, number)) {}
ccArchive::UnknownVersion::~UnknownVersion() = default;
ccArchive::Truncated::Truncated()
    : ccExceptionWithString(L"The archive ended before the value was complete") {}
ccArchive::Truncated::~Truncated() = default;
ccArchive::BadData::BadData(const std::wstring& message) : ccExceptionWithString(message) {}
ccArchive::BadData::~BadData() = default;
ccArchive::UnknownType::UnknownType(const std::string& typeName)
    : ccExceptionWithString(L"The archive names an unknown class: " + cfWiden(typeName)) {}
ccArchive::UnknownType::~UnknownType() = default;
ccArchive::FileError::FileError(const std::string& path)
    : ccExceptionWithString(L"Cannot access the archive file " + cfWiden(path)) {}
ccArchive::FileError::~FileError() = default;

ccArchive::ccArchive(std::vector<unsigned char>& buffer, Mode mode)
    : mode_(mode), memory_(&buffer) {}

ccArchive::ccArchive(const std::string& path, Mode mode) : mode_(mode), path_(path) {
  auto flags =
      std::ios::binary | (mode == eStoring ? (std::ios::out | std::ios::trunc) : std::ios::in);
  file_ = std::make_unique<std::fstream>(path, flags);
  if (!file_->is_open()) throw FileError(path);
  if (mode == eLoading) {
    file_->seekg(0, std::ios::end);
    std::streamoff size = file_->tellg();
    file_->seekg(0, std::ios::beg);
    if (size < 0 || !*file_) throw FileError(path);
    fileSize_ = static_cast<std::size_t>(size);
    // A directory opens but cannot be read, and reports a meaningless size.
    if (fileSize_ > 0 && file_->peek() == std::char_traits<char>::eof()) throw FileError(path);
    file_->clear();
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
    if (count > std::numeric_limits<std::uint32_t>::max())
      throw BadData(L"Too many elements to archive");
    putLE<std::uint32_t>(*this, static_cast<std::uint32_t>(count));
    return static_cast<std::uint32_t>(count);
  }
  std::uint32_t n = getLE<std::uint32_t>(*this);
  if (minBytesEach == 0) minBytesEach = 1;
  if (n > remaining()) {
    throw BadData(L"The archive holds an element count larger than the rest of the stream");
  }
  if (static_cast<std::uint64_t>(n) * minBytesEach > remaining()) throw Truncated();
  return n;
}

bool ccArchive::visited(const void* object, std::size_t size) const {
  return visited_.count({object, size}) != 0;
}

void ccArchive::markVisited(const void* object, std::size_t size) {
  visited_.insert({object, size});
}

void ccArchive::endPass() {
  visited_.clear();
  stored_.clear();
  loaded_.clear();
}

void ccArchive::exchangeObject(ccPersistent& object) {
  Pass pass(*this);
  object.dispatchSerialize(*this);
}

namespace {

std::string readTypeName(ccArchive& ar) {
  std::uint32_t n = getLE<std::uint32_t>(ar);
  if (n == 0 || n > kMaxTypeName)
    throw ccArchive::BadData(L"The archive holds an invalid class name");
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

bool ccArchive::storePointer(ccPersistent* object, bool viaShared) {
  if (object == nullptr) {
    putLE<std::uint8_t>(*this, kTagNull);
    return false;
  }
  auto it = stored_.find(object);
  if (it != stored_.end()) {
    if (viaShared && it->second.inProgress) {
      throw BadData(L"Shared handles that own each other in a cycle cannot be archived");
    }
    if (viaShared && !it->second.viaShared) {
      throw BadData(
          L"An object stored through a raw pointer cannot be stored again through a shared handle");
    }
    putLE<std::uint8_t>(*this, kTagReference);
    putLE<std::uint32_t>(*this, it->second.id);
    return false;
  }
  putLE<std::uint8_t>(*this, kTagObject);
  stored_.emplace(object,
                  StoredObject{static_cast<std::uint32_t>(stored_.size()), viaShared, true});
  writeTypeName(*this, object->persistentTypeName());
  return true;
}

bool ccArchive::loadPointer(ccPersistent*& object, std::shared_ptr<ccPersistent>* shared,
                            Accepts accepts, std::unique_ptr<ccPersistent>* made) {
  std::uint8_t tag = getLE<std::uint8_t>(*this);
  if (tag == kTagNull) {
    object = nullptr;
    if (shared) shared->reset();
    return false;
  }
  if (tag == kTagReference) {
    std::uint32_t id = getLE<std::uint32_t>(*this);
    if (id >= loaded_.size() || loaded_[id].raw == nullptr) {
      throw BadData(L"The archive holds an invalid object reference");
    }
    const LoadedObject& entry = loaded_[id];
    if (accepts && !accepts(entry.raw))
      throw BadData(L"The archive holds an object of the wrong class");
    if (shared) {
      if (entry.inProgress)
        throw BadData(L"The archive holds shared handles that own each other in a cycle");
      if (!entry.shared)
        throw BadData(L"The archive shares an object that was stored through a raw pointer");
      *shared = entry.shared;
    }
    object = entry.raw;
    return false;
  }
  if (tag != kTagObject) throw BadData(L"The archive holds an invalid object tag");
  if (made == nullptr) {
    throw BadData(L"The archive holds a new object where only a reference may be");
  }
  made->reset(makeByName(readTypeName(*this)));
  if (accepts && !accepts(made->get())) {
    throw BadData(L"The archive holds an object of the wrong class");
  }
  return true;
}

void ccArchive::exchangePointer(ccPersistent*& object, Accepts accepts) {
  Pass pass(*this);
  if (mode_ == eStoring) {
    if (storePointer(object, false)) {
      object->dispatchSerialize(*this);
      stored_.at(object).inProgress = false;
    }
    return;
  }
  std::unique_ptr<ccPersistent> made;
  ccPersistent* result = nullptr;
  if (!loadPointer(result, nullptr, accepts, &made)) {
    object = result;
    return;
  }
  // The slot is taken before the object is read, so that ids match the storing order and a
  // reference back to this object from inside it resolves.
  std::size_t slot = loaded_.size();
  loaded_.push_back(LoadedObject{made.get(), nullptr, true});
  try {
    made->dispatchSerialize(*this);
  } catch (...) {
    if (slot < loaded_.size()) loaded_[slot].raw = nullptr;
    throw;
  }
  loaded_[slot].inProgress = false;
  object = made.release();
}

void ccArchive::exchangeReference(ccPersistent*& object, Accepts accepts) {
  Pass pass(*this);
  if (mode_ == eLoading) {
    loadPointer(object, nullptr, accepts, nullptr);
  } else if (object != nullptr && stored_.count(object) == 0) {
    throw BadData(L"A reference names an object that is not stored before it in the pass");
  } else {
    storePointer(object, false);
  }
}

void ccArchive::exchangeShared(std::shared_ptr<ccPersistent>& object, Accepts accepts) {
  Pass pass(*this);
  if (mode_ == eStoring) {
    if (storePointer(object.get(), true)) {
      object->dispatchSerialize(*this);
      stored_.at(object.get()).inProgress = false;
    }
    return;
  }
  std::unique_ptr<ccPersistent> made;
  ccPersistent* raw = nullptr;
  std::shared_ptr<ccPersistent> result;
  if (!loadPointer(raw, &result, accepts, &made)) {
    object = std::move(result);
    return;
  }
  std::shared_ptr<ccPersistent> owner(std::move(made));
  std::size_t slot = loaded_.size();
  loaded_.push_back(LoadedObject{owner.get(), owner, true});
  try {
    owner->dispatchSerialize(*this);
  } catch (...) {
    if (slot < loaded_.size()) loaded_[slot] = LoadedObject{nullptr, nullptr, false};
    throw;
  }
  loaded_[slot].inProgress = false;
  object = std::move(owner);
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

ccArchive& operator||(ccArchive& ar, char& v) {
  exchangeSigned<std::uint8_t, std::int8_t>(ar, v);
  return ar;
}
ccArchive& operator||(ccArchive& ar, signed char& v) {
  exchangeSigned<std::uint8_t, std::int8_t>(ar, v);
  return ar;
}
ccArchive& operator||(ccArchive& ar, unsigned char& v) {
  exchangeUnsigned<std::uint8_t>(ar, v);
  return ar;
}
ccArchive& operator||(ccArchive& ar, short& v) {
  exchangeSigned<std::uint16_t, std::int16_t>(ar, v);
  return ar;
}
ccArchive& operator||(ccArchive& ar, unsigned short& v) {
  exchangeUnsigned<std::uint16_t>(ar, v);
  return ar;
}
ccArchive& operator||(ccArchive& ar, int& v) {
  exchangeSigned<std::uint32_t, std::int32_t>(ar, v);
  return ar;
}
ccArchive& operator||(ccArchive& ar, unsigned int& v) {
  exchangeUnsigned<std::uint32_t>(ar, v);
  return ar;
}
ccArchive& operator||(ccArchive& ar, long& v) {
  if (ar.isStoring() && (v < std::numeric_limits<std::int32_t>::min() ||
                         v > std::numeric_limits<std::int32_t>::max())) {
    throw ccArchive::BadData(L"A long value does not fit the archive's 32 bits");
  }
  exchangeSigned<std::uint32_t, std::int32_t>(ar, v);
  return ar;
}

ccArchive& operator||(ccArchive& ar, unsigned long& v) {
  if (ar.isStoring() && v > std::numeric_limits<std::uint32_t>::max()) {
    throw ccArchive::BadData(L"An unsigned long value does not fit the archive's 32 bits");
  }
  exchangeUnsigned<std::uint32_t>(ar, v);
  return ar;
}
ccArchive& operator||(ccArchive& ar, long long& v) {
  exchangeSigned<std::uint64_t, std::int64_t>(ar, v);
  return ar;
}
ccArchive& operator||(ccArchive& ar, unsigned long long& v) {
  exchangeUnsigned<std::uint64_t>(ar, v);
  return ar;
}

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
  std::uint32_t n = ar.exchangeCount(v.size(), 4);
  if (ar.isLoading()) v.assign(n, L'\0');
  for (std::uint32_t i = 0; i < n; ++i) {
    std::uint32_t cp = static_cast<std::uint32_t>(v[i]);
    if (cp > kMaxCodePoint) throw ccArchive::BadData(L"A character lies outside the Unicode range");
    exchangeUnsigned<std::uint32_t>(ar, cp);
    if (cp > kMaxCodePoint) throw ccArchive::BadData(L"The archive holds an invalid character");
    v[i] = static_cast<wchar_t>(cp);
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
