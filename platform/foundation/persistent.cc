// SPDX-License-Identifier: Apache-2.0
// Persistent base and the class-name factory registry.
#include "platform/foundation/persistent.h"

#include <cxxabi.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "platform/foundation/archive.h"

namespace {

// The registry is filled by static exemplars while the library loads, before any caller
// thread can run, and only read afterwards; the mutex covers late registrations.
struct Registry {
  std::mutex mutex;
  std::map<std::string, cc_Instantiator::Factory> factories;
};

Registry& registry() {
  static Registry* r = new Registry;  // never destroyed: exemplars may outlive static teardown
  return *r;
}

}  // namespace

std::string cfTypeName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(type.name());
}

ccPersistent::~ccPersistent() = default;

void ccPersistent::reInit() {}

// Through the archive, so that the exchange is a pass of its own and its visit marks are
// cleared afterwards (a direct call would leave them set and a later exchange of an object
// at the same address would be skipped).
void ccPersistent::loadSimple(ccArchive& ar) {
  ar.exchangeObject(*this);
}

std::string ccPersistent::persistentTypeName() const {
  return cfTypeName(typeid(*this));
}

void ccPersistent::dispatchSerialize(ccArchive& ar) {
  unsigned char version = 0;
  ar || version;
  if (version != 0) throw ccArchive::UnknownVersion("ccPersistent", version);
}

bool ccPersistent::haveVisited(ccArchive& ar, const void* object, std::size_t size) {
  return ar.visited(object, size);
}

void ccPersistent::setVisited(ccArchive& ar, const void* object, std::size_t size) {
  ar.markVisited(object, size);
}

cc_Instantiator::cc_Instantiator(const std::type_info& type, Factory make) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.factories.emplace(cfTypeName(type), make);
}

cc_Instantiator::Factory cc_Instantiator::find(const std::string& typeName) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.factories.find(typeName);
  return it == r.factories.end() ? nullptr : it->second;
}

std::size_t cc_Instantiator::registeredCount() {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.factories.size();
}
