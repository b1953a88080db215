#ifndef ZARVO_ADMINISTRATION_DESCRIPTOR_H
#define ZARVO_ADMINISTRATION_DESCRIPTOR_H

#include "util/filedescriptor.h"

namespace Administration {

// An open descriptor, closed with the object.
using Descriptor = FileDescriptor;

} // namespace Administration

#endif
