// SPDX-License-Identifier: Apache-2.0
#include "ccalib_version.h"

const char* cfLibraryVersion() {
  return CCALIB_VERSION_STRING;
}
