#ifndef ZARVO_UTIL_PROCESSUMASK_H
#define ZARVO_UTIL_PROCESSUMASK_H

#include <sys/types.h>

// The process's file-mode creation mask, read without changing it where the
// system allows: setting it, even for an instant, would let a file that
// another thread creates meanwhile escape the mask.
mode_t processUmask();

#endif
