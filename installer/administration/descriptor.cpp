#include "installer/administration/descriptor.h"

#include <unistd.h>

namespace Administration {

Descriptor::~Descriptor()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

Descriptor &Descriptor::operator=(Descriptor &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.release();
    }
    return *this;
}

int Descriptor::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

} // namespace Administration
