#ifndef ZARVO_ADMINISTRATION_DESCRIPTOR_H
#define ZARVO_ADMINISTRATION_DESCRIPTOR_H

namespace Administration {

// An open descriptor, closed with the object.
class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor();
    Descriptor(Descriptor &&other) noexcept : m_fd(other.release()) {}
    Descriptor &operator=(Descriptor &&other) noexcept;
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    int release();

private:
    int m_fd;
};

} // namespace Administration

#endif
