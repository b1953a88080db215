// Writes the reference installation tree the benchmark installs: a seeded,
// byte-identical tree shaped like the suite (many small text files, a few
// hundred binaries of 0.1-2 MB, a few of 20-60 MB, symbolic links and
// executables).
//
//   zarvo_gensuite DIR [SCALE]
//
// SCALE multiplies the number of files (default 1: 3,000 entries, about
// 420 MB); 0.1 makes a quick suite, 2 one twice the size.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// mt19937_64's sequence is fixed by the C++ standard; the distributions are
// not, so everything below draws from the raw engine.
class Random
{
public:
    explicit Random(uint64_t seed) : engine(seed) {}
    uint64_t next() { return engine(); }
    uint64_t below(uint64_t n) { return n ? next() % n : 0; }
    uint64_t between(uint64_t lo, uint64_t hi) { return lo + below(hi - lo + 1); }
    bool chance(unsigned percent) { return below(100) < percent; }

private:
    std::mt19937_64 engine;
};

[[noreturn]] void die(const std::string &what)
{
    std::fprintf(stderr, "zarvo_gensuite: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

void makeDirectory(const std::string &path)
{
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        die(path);
}

// Fixed times so that the tree and the archive made of it are identical on
// every run.
void setTime(const std::string &path, Random &random)
{
    const time_t base = 1735689600; // 2025-01-01
    const struct timeval times[2] = {{time_t(base + random.below(30000000)), 0},
                                     {time_t(base + random.below(30000000)), 0}};
    if (lutimes(path.c_str(), times) != 0)
        die(path);
}

void writeFile(const std::string &path, const std::string &data, mode_t mode, Random &random)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        die(path);
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n <= 0)
            die(path);
        done += size_t(n);
    }
    if (close(fd) != 0 || chmod(path.c_str(), mode) != 0)
        die(path);
    setTime(path, random);
}

// Source-like text: lines of words from a vocabulary with a skewed
// distribution, indented, with some punctuation.
class TextMaker
{
public:
    explicit TextMaker(Random &random)
    {
        static const char letters[] = "etaoinshrdlcumwfgypbvkjxqz_";
        for (int i = 0; i < 1200; ++i) {
            std::string word;
            const int length = int(random.between(2, 11));
            for (int c = 0; c < length; ++c)
                word += letters[random.below(random.chance(70) ? 12 : 27)];
            words.push_back(word);
        }
    }

    std::string make(size_t size, Random &random) const
    {
        std::string text;
        text.reserve(size + 128);
        while (text.size() < size) {
            text.append(random.below(4) * 4, ' ');
            const int count = int(random.between(3, 12));
            for (int w = 0; w < count; ++w) {
                // Cubing skews towards the start of the vocabulary.
                const uint64_t r = random.below(words.size());
                text += words[r * r * r / (words.size() * words.size())];
                text += random.chance(8) ? "(); " : random.chance(5) ? ", " : " ";
            }
            text += '\n';
        }
        text.resize(size);
        return text;
    }

private:
    std::vector<std::string> words;
};

// Machine-code-like data: a stream of instruction sequences drawn from a
// vocabulary (with fresh operands now and then), tables of addresses, string
// tables and alignment padding, so that it compresses about as real
// executables and shared libraries do.
class BinaryMaker
{
public:
    explicit BinaryMaker(Random &random, const TextMaker &text) : text(text)
    {
        for (int i = 0; i < 2048; ++i) {
            std::string sequence;
            const int length = int(random.between(3, 24));
            for (int b = 0; b < length; ++b)
                sequence += char(random.chance(75) ? opcodes[random.below(sizeof opcodes)]
                                                   : char(random.next()));
            vocabulary.push_back(sequence);
        }
    }

    std::string make(size_t size, Random &random) const
    {
        std::string data;
        data.reserve(size + 4096);
        data += "\x7f" "ELF\x02\x01\x01";
        data.append(57, '\0');
        while (data.size() < size) {
            const uint64_t kind = random.below(100);
            if (kind < 80) {
                // A run of code: a local neighbourhood of the vocabulary.
                const size_t start = random.below(vocabulary.size());
                const int count = int(random.between(8, 64));
                for (int i = 0; i < count; ++i) {
                    std::string sequence = vocabulary[(start + random.below(48)) % vocabulary.size()];
                    if (random.chance(12))
                        sequence[random.below(sequence.size())] = char(random.next());
                    data += sequence;
                }
            } else if (kind < 92) {
                // Addresses and constants.
                const int count = int(random.between(4, 48));
                const uint64_t base = random.next() & 0x7fffff000ull;
                for (int i = 0; i < count; ++i) {
                    const uint64_t value = base + random.below(1 << 14);
                    data.append(reinterpret_cast<const char *>(&value), 8);
                }
            } else if (kind < 97) {
                data += text.make(random.between(64, 1024), random);
                data += '\0';
            } else {
                data.append(random.between(16, 512), '\0');
            }
        }
        data.resize(size);
        return data;
    }

private:
    static constexpr unsigned char opcodes[] = {0x48, 0x89, 0x8b, 0xe8, 0xc3, 0x0f, 0x1f, 0x44,
                                                0x00, 0x85, 0xc0, 0x74, 0x75, 0xeb, 0x83, 0xff,
                                                0x41, 0x4c, 0x8d, 0x05, 0x31, 0xd2, 0x55, 0x5d};
    const TextMaker &text;
    std::vector<std::string> vocabulary;
};

// 0.1-2 MB, most of them near the lower end.
size_t mediumSize(Random &random)
{
    const uint64_t r = random.below(1000);
    return 100 * 1024 + r * r * 1900 * 1024 / 1000000 + random.below(1024);
}

struct Tree
{
    std::string root;
    std::vector<std::string> directories; // relative, parents first
};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: zarvo_gensuite DIR [SCALE]\n");
        return 2;
    }
    const std::string root = argv[1];
    const double scale = argc > 2 ? std::atof(argv[2]) : 1.0;
    if (!(scale > 0)) {
        std::fprintf(stderr, "zarvo_gensuite: SCALE must be positive\n");
        return 2;
    }
    auto scaled = [scale](int n) { return std::max(1, int(n * scale + 0.5)); };

    Random random(0x5a4152564f31ull);
    const TextMaker text(random);
    const BinaryMaker binary(random, text);

    makeDirectory(root);
    Tree tree{root, {}};
    const char *const top[] = {"bin", "lib", "libexec", "doc", "share", "include", "icons",
                               "license_terms", "examples"};
    for (const char *name : top)
        tree.directories.push_back(name);
    // Nested directories below the top ones, about 150 for the full suite.
    const int nested = scaled(140);
    for (int i = 0; i < nested; ++i) {
        const std::string &parent = tree.directories[random.below(tree.directories.size())];
        if (std::count(parent.begin(), parent.end(), '/') >= 3) {
            --i;
            continue;
        }
        tree.directories.push_back(parent + "/d" + std::to_string(i));
    }
    for (const std::string &directory : tree.directories)
        makeDirectory(root + "/" + directory);

    auto anyDirectory = [&](const char *under) {
        for (;;) {
            const std::string &d = tree.directories[random.below(tree.directories.size())];
            if (d.compare(0, std::strlen(under), under) == 0)
                return d;
        }
    };

    std::vector<std::string> regular;
    uint64_t bytes = 0;
    auto add = [&](const std::string &relative, const std::string &data, mode_t mode) {
        writeFile(root + "/" + relative, data, mode, random);
        regular.push_back(relative);
        bytes += data.size();
    };

    // The programs the installer itself looks for.
    add("bin/pesk", "#!/bin/sh\nexec \"$(dirname \"$0\")/../libexec/zarvo.bin\" \"$@\"\n", 0755);
    add("libexec/zarvo.bin", binary.make(6 * 1024 * 1024, random), 0755);
    add("libexec/gdb", binary.make(9 * 1024 * 1024, random), 0755);
    add("license_terms/license_agreement.txt", text.make(24000, random), 0644);
    add("license_terms/supplementary_terms.txt", text.make(8000, random), 0644);
    add("doc/RELEASE-NOTES", text.make(30000, random), 0644);

    // A few large binaries of 20-60 MB.
    const int large = scaled(4);
    for (int i = 0; i < large; ++i)
        add(anyDirectory("lib") + "/libzarvo_core" + std::to_string(i) + ".so",
            binary.make(random.between(20, 60) * 1024 * 1024, random), 0755);

    // A few hundred binaries of 0.1-2 MB; a third of them executables.
    const int medium = scaled(300);
    for (int i = 0; i < medium; ++i) {
        const bool program = random.chance(33);
        const std::string directory = anyDirectory(program ? "libexec" : "lib");
        add(directory + (program ? "/tool" : "/libmod") + std::to_string(i) + (program ? "" : ".so"),
            binary.make(mediumSize(random), random),
            program ? 0755 : 0644);
    }

    // Symbolic links to some of the files, as shared-library version links.
    const int links = scaled(40);
    std::vector<std::string> linkNames;
    for (int i = 0; i < links; ++i) {
        const std::string &target = regular[regular.size() - 1 - random.below(medium)];
        const size_t slash = target.rfind('/');
        const std::string name = target + "." + std::to_string(i);
        if (symlink(target.substr(slash + 1).c_str(), (root + "/" + name).c_str()) != 0)
            die(name);
        setTime(root + "/" + name, random);
        linkNames.push_back(name);
    }

    // Small text files fill up to 3,000 entries: sources, headers, scripts.
    const int total = scaled(3000);
    const int small = total - int(regular.size()) - links;
    const char *const extensions[] = {".txt", ".h", ".py", ".html", ".xml", ".sh", ".cfg"};
    for (int i = 0; i < small; ++i) {
        const char *extension = extensions[random.below(7)];
        const bool script = std::strcmp(extension, ".sh") == 0 || std::strcmp(extension, ".py") == 0;
        const std::string directory = tree.directories[random.below(tree.directories.size())];
        // Mostly a few kilobytes, a long tail up to about 30 KB.
        const uint64_t r = random.below(1000);
        const size_t size = 64 + r * r * r / 40000000 + random.below(4096);
        add(directory + "/f" + std::to_string(i) + extension, text.make(size, random),
            script ? 0755 : 0644);
    }

    // Directories last, deepest first, so that their times stay as set.
    for (auto it = tree.directories.rbegin(); it != tree.directories.rend(); ++it)
        setTime(root + "/" + *it, random);

    std::printf("%zu files, %d symbolic links, %zu directories, %.1f MB\n", regular.size(), links,
                tree.directories.size(), double(bytes) / 1e6);
    return 0;
}
