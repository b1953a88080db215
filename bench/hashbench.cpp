// Measures what content hashes cost the installation: the throughput of
// SHA-256 (OpenSSL's libcrypto) and XXH3-128 (libxxhash) on this machine, and
// their cost on the reference suite, read alone and in the ways a tree copy
// could hash (after copy_file_range by reading the source again, on a second
// thread, or by a read/write loop that hashes the data while it passes).
//
//   zarvo_hashbench [--rounds N] SUITE WORK
//
// SUITE is read once before measuring, so that every variant reads from the
// page cache as the installation does right after its counting pass. Copies
// go to WORK and are removed after each run.
#include <openssl/evp.h>
#include <xxhash.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const size_t pieceSize = 256 * 1024;

double now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

class Hasher
{
public:
    virtual ~Hasher() = default;
    virtual void begin() = 0;
    virtual void add(const void *data, size_t size) = 0;
    virtual void end() = 0;
};

class Sha256 : public Hasher
{
public:
    Sha256() : m_context(EVP_MD_CTX_new()) {}
    ~Sha256() override { EVP_MD_CTX_free(m_context); }
    void begin() override { EVP_DigestInit_ex(m_context, EVP_sha256(), nullptr); }
    void add(const void *data, size_t size) override { EVP_DigestUpdate(m_context, data, size); }
    void end() override
    {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestFinal_ex(m_context, digest, &length);
        sink ^= digest[0];
    }
    unsigned sink = 0;

private:
    EVP_MD_CTX *m_context;
};

class Xxh3 : public Hasher
{
public:
    Xxh3() : m_state(XXH3_createState()) {}
    ~Xxh3() override { XXH3_freeState(m_state); }
    void begin() override { XXH3_128bits_reset(m_state); }
    void add(const void *data, size_t size) override { XXH3_128bits_update(m_state, data, size); }
    void end() override { sink ^= XXH3_128bits_digest(m_state).low64; }
    unsigned long long sink = 0;

private:
    XXH3_state_t *m_state;
};

struct File
{
    std::string relative;
    long long size;
};

std::string suiteRoot;
std::vector<File> *collected;
std::vector<std::string> *directories;

int collect(const char *path, const struct stat *st, int type, FTW *ftw)
{
    if (ftw->level > 0 && path[ftw->base] == '.')
        return type == FTW_D ? FTW_SKIP_SUBTREE : FTW_CONTINUE;
    const std::string relative = std::string(path).substr(suiteRoot.size());
    if (type == FTW_D && ftw->level > 0)
        directories->push_back(relative);
    if (type == FTW_F && S_ISREG(st->st_mode))
        collected->push_back({relative, st->st_size});
    return FTW_CONTINUE;
}

int removeEntry(const char *path, const struct stat *, int type, FTW *)
{
    return type == FTW_DP ? ::rmdir(path) : ::unlink(path);
}

void hashFile(int fd, Hasher *hasher, std::vector<char> &buffer)
{
    if (hasher)
        hasher->begin();
    ssize_t got;
    while ((got = ::read(fd, buffer.data(), buffer.size())) > 0) {
        if (hasher)
            hasher->add(buffer.data(), size_t(got));
    }
    if (hasher)
        hasher->end();
}

// As the installation copies: the kernel moves the data, or a read/write
// loop where it refuses (another file system).
bool copyFileRange(int from, int to, std::vector<char> &buffer)
{
    for (;;) {
        const ssize_t put = ::copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
        if (put == 0)
            return true;
        if (put > 0)
            continue;
        if (errno != EXDEV && errno != EINVAL && errno != EOPNOTSUPP)
            return false;
        ssize_t got;
        while ((got = ::read(from, buffer.data(), buffer.size())) > 0) {
            if (::write(to, buffer.data(), size_t(got)) != got)
                return false;
        }
        return got == 0;
    }
}

void copyPassing(int from, int to, Hasher *hasher, std::vector<char> &buffer)
{
    hasher->begin();
    ssize_t got;
    while ((got = ::read(from, buffer.data(), buffer.size())) > 0) {
        hasher->add(buffer.data(), size_t(got));
        for (ssize_t written = 0; written < got;) {
            const ssize_t put = ::write(to, buffer.data() + written, size_t(got - written));
            if (put <= 0)
                std::abort();
            written += put;
        }
    }
    hasher->end();
}

enum class CopyWay { None, Kernel, KernelThenRead, KernelWithThread, Passing };

// One pass over the suite; the seconds it took.
double pass(const std::vector<File> &files, const std::vector<std::string> &dirs,
            const std::string &work, CopyWay way, Hasher *hasher, Hasher *threadHasher)
{
    std::vector<char> buffer(pieceSize);
    const double start = now();
    if (way != CopyWay::None) {
        ::mkdir(work.c_str(), 0755);
        for (const std::string &d : dirs)
            ::mkdir((work + d).c_str(), 0755);
    }
    // The second thread hashes the sources in the order the copy takes them.
    std::thread reader;
    if (way == CopyWay::KernelWithThread) {
        reader = std::thread([&files, threadHasher] {
            std::vector<char> own(pieceSize);
            for (const File &f : files) {
                const int fd = ::open((suiteRoot + f.relative).c_str(), O_RDONLY | O_CLOEXEC);
                hashFile(fd, threadHasher, own);
                ::close(fd);
            }
        });
    }
    for (const File &f : files) {
        const int in = ::open((suiteRoot + f.relative).c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0)
            std::abort();
        if (way == CopyWay::None) {
            hashFile(in, hasher, buffer);
            ::close(in);
            continue;
        }
        const int out = ::open((work + f.relative).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                               0644);
        if (out < 0)
            std::abort();
        if (way == CopyWay::Passing) {
            copyPassing(in, out, hasher, buffer);
        } else {
            if (!copyFileRange(in, out, buffer))
                std::abort();
            if (way == CopyWay::KernelThenRead) {
                ::lseek(in, 0, SEEK_SET);
                hashFile(in, hasher, buffer);
            }
        }
        ::close(out);
        ::close(in);
    }
    if (reader.joinable())
        reader.join();
    const double seconds = now() - start;
    if (way != CopyWay::None)
        ::nftw(work.c_str(), removeEntry, 64, FTW_DEPTH | FTW_PHYS);
    return seconds;
}

double throughput(Hasher &hasher)
{
    const size_t total = size_t(256) << 20;
    std::vector<unsigned char> data(total);
    unsigned state = 12345;
    for (unsigned char &c : data)
        c = static_cast<unsigned char>((state = state * 1103515245u + 12345u) >> 24);
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        const double start = now();
        hasher.begin();
        for (size_t offset = 0; offset < total; offset += pieceSize)
            hasher.add(data.data() + offset, pieceSize);
        hasher.end();
        best = std::min(best, now() - start);
    }
    return double(total) / best / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    int rounds = 5;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else
            paths.push_back(argv[i]);
    }
    if (paths.size() != 2) {
        std::fprintf(stderr, "usage: zarvo_hashbench [--rounds N] SUITE WORK\n");
        return 2;
    }
    suiteRoot = paths[0];
    const std::string work = paths[1] + "/hash-copy";

    Sha256 sha, shaThread;
    Xxh3 xxh, xxhThread;
    std::printf("hash throughput (256 MiB in memory, %zu KiB pieces, best of 3): "
                "SHA-256 %.2f GB/s, XXH3-128 %.2f GB/s\n",
                pieceSize / 1024, throughput(sha), throughput(xxh));

    std::vector<File> files;
    std::vector<std::string> dirs;
    collected = &files;
    directories = &dirs;
    ::nftw(suiteRoot.c_str(), collect, 64, FTW_PHYS | FTW_ACTIONRETVAL);
    long long bytes = 0;
    for (const File &f : files)
        bytes += f.size;
    pass(files, dirs, work, CopyWay::None, nullptr, nullptr);
    std::printf("suite: %zu regular files, %.1f MB, read from the page cache; %d rounds\n",
                files.size(), double(bytes) / 1e6, rounds);

    struct Variant
    {
        const char *name;
        CopyWay way;
        Hasher *hasher;
        Hasher *threadHasher;
    };
    const Variant variants[] = {
        {"read only", CopyWay::None, nullptr, nullptr},
        {"read + SHA-256", CopyWay::None, &sha, nullptr},
        {"read + XXH3-128", CopyWay::None, &xxh, nullptr},
        {"copy_file_range", CopyWay::Kernel, nullptr, nullptr},
        {"copy_file_range, read again + SHA-256", CopyWay::KernelThenRead, &sha, nullptr},
        {"copy_file_range, read again + XXH3-128", CopyWay::KernelThenRead, &xxh, nullptr},
        {"copy_file_range, SHA-256 on a 2nd thread", CopyWay::KernelWithThread, nullptr, &shaThread},
        {"copy_file_range, XXH3-128 on a 2nd thread", CopyWay::KernelWithThread, nullptr, &xxhThread},
        {"read/write, SHA-256 while passing", CopyWay::Passing, &sha, nullptr},
        {"read/write, XXH3-128 while passing", CopyWay::Passing, &xxh, nullptr},
    };
    std::vector<std::vector<double>> seconds(std::size(variants));
    // Interleaved, so that a busy moment of the machine spreads over all.
    for (int round = 0; round < rounds; ++round) {
        for (size_t v = 0; v < std::size(variants); ++v)
            seconds[v].push_back(pass(files, dirs, work, variants[v].way, variants[v].hasher,
                                      variants[v].threadHasher));
    }
    std::printf("%-44s %8s %17s\n", "", "median", "min-max");
    for (size_t v = 0; v < std::size(variants); ++v) {
        std::vector<double> &s = seconds[v];
        std::sort(s.begin(), s.end());
        std::printf("%-44s %7.3fs %7.3fs-%7.3fs\n", variants[v].name, s[s.size() / 2], s.front(),
                    s.back());
    }
    return int((sha.sink ^ xxh.sink ^ shaThread.sink ^ xxhThread.sink) & 0);
}
