#include "util/makepath.h"

int makePath(const QString &, mode_t)
{
    return -1;
}

bool ensurePath(const QString &)
{
    return false;
}
