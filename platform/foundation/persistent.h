// SPDX-License-Identifier: Apache-2.0
// Base class of every object that can be written to and read back from a ccArchive, and
// the factory registry that re-creates such objects by type name when an archive is read.
#ifndef PLATFORM_FOUNDATION_PERSISTENT_H
#define PLATFORM_FOUNDATION_PERSISTENT_H

#include <cstddef>
#include <string>
#include <typeinfo>

#include "ccalib_export.h"

class ccArchive;

class CCALIB_EXPORT ccPersistent {
 public:
  virtual ~ccPersistent();

  // Resets the object to the state a freshly made one has. The base does nothing.
  virtual void reInit();
  // Reads the object from an archive in place (the same as exchanging it as a value).
  virtual void loadSimple(ccArchive& ar);

  // The class's qualified name ("ccCalibDefs::InvalidMap"): the key under which an archive
  // stores and re-creates polymorphic objects.
  std::string persistentTypeName() const;

  // Number of mutating() calls so far: lets a holder see that the object has changed.
  unsigned long changeCount() const { return changes_; }

  friend class ccArchive;

 protected:
  ccPersistent() = default;
  ccPersistent(const ccPersistent&) = default;
  ccPersistent& operator=(const ccPersistent&) = default;

  // Exchanges the object with the archive (writes when storing, reads when loading). The
  // base part is one version byte (0); derived classes call it from their own serialize_.
  virtual void dispatchSerialize(ccArchive& ar);

  // Announces a change; every setter calls it before it stores.
  void mutating() { ++changes_; }

  // Visit marks of the current archive pass: each (object address, size) pair is handled at
  // most once per top-level exchange, so a part reached twice is not written twice.
  static bool haveVisited(ccArchive& ar, const void* object, std::size_t size);
  static void setVisited(ccArchive& ar, const void* object, std::size_t size);

 private:
  unsigned long changes_ = 0;
};

// Registers a factory for one persistent class. Each persistent class holds one static
// exemplar, constructed when the library loads, so an archive can re-create the class from
// its name. Registering the same name twice keeps the first factory.
class CCALIB_EXPORT cc_Instantiator {
 public:
  using Factory = ccPersistent* (*)();
  cc_Instantiator(const std::type_info& type, Factory make);

  // The factory for a qualified class name, or null when none is registered.
  static Factory find(const std::string& typeName);
  // Number of registered classes.
  static std::size_t registeredCount();
};

// Qualified, readable name of a type ("ccCalibDefs::BadParam").
CCALIB_EXPORT std::string cfTypeName(const std::type_info& type);

#endif  // PLATFORM_FOUNDATION_PERSISTENT_H
