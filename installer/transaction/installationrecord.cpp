#include "installer/transaction/installationrecord.h"

#include "installer/productidentity.h"
#include "installer/transaction/beneath.h"
#include "util/contenthash.h"

#include <QByteArrayList>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

const char InstallationRecord::fileName[] = ".installation-record";
const char InstallationRecord::logFileName[] = ".installation.log";

namespace {

const char magic[] = "corvane-zarvo-installation-record";

QByteArray encodedText(const QString &text)
{
    return text.toUtf8().toPercentEncoding();
}

QByteArray encodedPath(const QByteArray &path)
{
    return path.toPercentEncoding("/");
}

QString decodedText(const QByteArray &field)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(field));
}

char typeLetter(InstallationRecord::Entry::Type type)
{
    switch (type) {
    case InstallationRecord::Entry::Directory:
        return 'd';
    case InstallationRecord::Entry::Link:
        return 'l';
    case InstallationRecord::Entry::File:
        break;
    }
    return 'f';
}

// Why a stored path cannot name an entry inside the installation; empty
// when it can.
QString pathProblem(const QByteArray &path)
{
    if (path.isEmpty() || path.startsWith('/'))
        return InstallationRecord::tr("the path is not relative");
    for (const QByteArray &component : path.split('/')) {
        if (component.isEmpty() || component == "." || component == "..")
            return InstallationRecord::tr("the path has an empty, \".\" or \"..\" component");
    }
    return QString();
}

bool cannotRecord(const QByteArray &path, QString *error)
{
    *error = InstallationRecord::tr("Could not record \"%1\": %2")
                 .arg(QFile::decodeName(path), qt_error_string(errno));
    return false;
}

// Describes the entry at `path` below `root` as it is now; false with errno
// set when it cannot be read or is of no kind an installation writes. A
// regular file's hash is taken from `hashes` when it is there.
bool describeEntry(Beneath::Root &root, const QByteArray &path,
                   const QHash<QByteArray, QByteArray> &hashes, InstallationRecord::Entry *entry)
{
    entry->path = path;
    struct stat st = {};
    QByteArray base;
    const int parent = root.parentOf(path, &base);
    if (parent < 0 || ::fstatat(parent, base.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    entry->mode = st.st_mode & 07777;
    entry->hash.clear();
    entry->target.clear();
    entry->size = 0;
    if (S_ISLNK(st.st_mode)) {
        entry->type = InstallationRecord::Entry::Link;
        char target[4096];
        const ssize_t length = ::readlinkat(parent, base.constData(), target, sizeof target);
        if (length <= 0)
            return false;
        entry->target = QByteArray(target, int(length));
        entry->size = entry->target.size();
    } else if (S_ISREG(st.st_mode)) {
        entry->type = InstallationRecord::Entry::File;
        entry->hash = hashes.value(path);
        if (entry->hash.isEmpty()) {
            const Beneath::Descriptor file(
                ::openat(parent, base.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
            entry->hash = file.isValid() ? ContentHash::ofDescriptor(file.get()) : QByteArray();
        }
        if (entry->hash.isEmpty())
            return false;
        entry->size = st.st_size;
    } else if (S_ISDIR(st.st_mode)) {
        entry->type = InstallationRecord::Entry::Directory;
    } else {
        errno = EINVAL;
        return false;
    }
    return true;
}

bool describeBelow(Beneath::Root &root, const QByteArray &relative,
                   const QHash<QByteArray, QByteArray> &hashes,
                   QVector<InstallationRecord::Entry> *entries, QString *error)
{
    bool ok = false;
    const QByteArrayList names = Beneath::sortedNames(root.fd(), relative, &ok);
    if (!ok)
        return cannotRecord(relative, error);
    for (const QByteArray &name : names) {
        const QByteArray path = relative.isEmpty() ? name : relative + '/' + name;
        if (relative.isEmpty() && InstallationRecord::isOwnFile(name))
            continue;
        InstallationRecord::Entry entry;
        if (!describeEntry(root, path, hashes, &entry))
            return cannotRecord(path, error);
        entries->append(entry);
        if (entry.type == InstallationRecord::Entry::Directory
            && !describeBelow(root, path, hashes, entries, error))
            return false;
    }
    return true;
}

} // namespace

InstallationRecord InstallationRecord::forThisRun(const QString &sourceKind,
                                                  const QString &sourcePath,
                                                  const QStringList &options)
{
    InstallationRecord record;
    record.installerVersion = QLatin1String(productIdentity.version);
    record.productName = QLatin1String(productIdentity.productName);
    record.productVersion = QLatin1String(productIdentity.version);
    record.date = QDateTime::currentDateTimeUtc();
    record.userId = ::geteuid();
    const passwd *account = ::getpwuid(record.userId);
    record.userName = account ? QString::fromLocal8Bit(account->pw_name) : QString::number(record.userId);
    record.sourceKind = sourceKind;
    record.sourcePath = sourcePath;
    record.options = options;
    return record;
}

bool InstallationRecord::describeTree(const QString &directory, QString *error,
                                      const QHash<QByteArray, QByteArray> &hashes)
{
    entries.clear();
    const Beneath::Descriptor top(
        ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    Beneath::Root root(top.get());
    if (!top.isValid())
        return cannotRecord(QFile::encodeName(directory), error);
    return describeBelow(root, QByteArray(), hashes, &entries, error);
}

bool InstallationRecord::describeAgain(const QString &directory, const QSet<QByteArray> &paths,
                                       QString *error)
{
    const Beneath::Descriptor top(
        ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    Beneath::Root root(top.get());
    if (!top.isValid())
        return cannotRecord(QFile::encodeName(directory), error);
    for (int i = entries.size() - 1; i >= 0; --i) {
        Entry &entry = entries[i];
        if (!paths.contains(entry.path))
            continue;
        struct stat st;
        QByteArray base;
        const int parent = root.parentOf(entry.path, &base);
        if (parent >= 0 && ::fstatat(parent, base.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0
            && errno == ENOENT) {
            entries.remove(i);
            continue;
        }
        if (!describeEntry(root, entry.path, {}, &entry))
            return cannotRecord(entry.path, error);
    }
    return true;
}

bool InstallationRecord::isOwnFile(const QByteArray &name)
{
    return name == ".installed" || name == fileName || name == logFileName;
}

QByteArray InstallationRecord::toText() const
{
    QByteArray text = QByteArray(magic) + ' ' + QByteArray::number(formatVersion) + '\n';
    text += "installer " + encodedText(installerVersion) + '\n';
    text += "product " + encodedText(productName) + ' ' + encodedText(productVersion) + '\n';
    text += "date " + date.toUTC().toString(Qt::ISODate).toLatin1() + '\n';
    text += "user " + QByteArray::number(userId) + ' ' + encodedText(userName) + '\n';
    text += "source " + encodedText(sourceKind) + ' ' + QFile::encodeName(sourcePath).toPercentEncoding("/")
        + '\n';
    for (const QString &option : options)
        text += "option " + encodedText(option) + '\n';
    for (const Entry &entry : entries) {
        text += QByteArray("entry ") + typeLetter(entry.type) + ' '
            + QByteArray::number(uint(entry.mode & 07777), 8).rightJustified(4, '0') + ' '
            + QByteArray::number(entry.size) + ' ' + (entry.hash.isEmpty() ? "-" : entry.hash) + ' '
            + encodedPath(entry.path);
        if (entry.type == Entry::Link)
            text += ' ' + encodedPath(entry.target);
        text += '\n';
    }
    for (const Registration &registration : registrations)
        text += "registration " + encodedText(registration.tool) + ' '
            + encodedText(registration.mode) + ' '
            + QFile::encodeName(registration.file).toPercentEncoding("/") + '\n';
    text += "end " + QByteArray::number(entries.size()) + ' '
        + QByteArray::number(registrations.size()) + '\n';
    return text;
}

bool InstallationRecord::save(const QString &path, QString *error) const
{
    QSaveFile file(path);
    const QByteArray text = toText();
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit())
        return true;
    *error = tr("Could not write the installation record \"%1\": %2").arg(path, file.errorString());
    return false;
}

bool InstallationRecord::load(const QString &path, InstallationRecord *record, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = tr("Could not read the installation record \"%1\": %2")
                     .arg(path, file.errorString());
        return false;
    }
    return parse(file.readAll(), path, record, error);
}

bool InstallationRecord::parse(const QByteArray &text, const QString &name,
                               InstallationRecord *record, QString *error)
{
    *record = InstallationRecord();
    QByteArrayList lines = text.split('\n');
    const bool whole = lines.last().isEmpty();
    lines.removeLast();
    int number = 0;
    const auto problem = [&](const QString &what) {
        *error = tr("\"%1\", line %2: %3").arg(name).arg(number).arg(what);
        return false;
    };
    QSet<QByteArray> headerSeen;
    QSet<QByteArray> paths;
    bool ended = false;
    for (const QByteArray &line : lines) {
        ++number;
        const QByteArrayList fields = line.split(' ');
        const QByteArray &key = fields.first();
        if (ended)
            return problem(tr("there is more after the \"end\" line"));
        if (number == 1) {
            if (fields.size() != 2 || key != magic)
                return problem(tr("this is not an installation record"));
            if (fields.at(1) != QByteArray::number(formatVersion))
                return problem(tr("format version %1 is not known to this installer (it reads "
                                  "version %2)")
                                   .arg(QString::fromLatin1(fields.at(1)))
                                   .arg(formatVersion));
            continue;
        }
        static const QByteArrayList headerKeys = {"installer", "product", "date", "user", "source"};
        static const QList<int> headerSizes = {2, 3, 2, 3, 3};
        const int header = headerKeys.indexOf(key);
        if (header >= 0) {
            if (headerSeen.contains(key) || !record->entries.isEmpty()
                || !record->registrations.isEmpty())
                return problem(tr("\"%1\" is out of place").arg(QString::fromLatin1(key)));
            if (fields.size() != headerSizes.at(header))
                return problem(tr("\"%1\" needs %2 fields").arg(QString::fromLatin1(key)).arg(headerSizes.at(header) - 1));
            headerSeen.insert(key);
        }
        if (key == "installer") {
            record->installerVersion = decodedText(fields.at(1));
        } else if (key == "product") {
            record->productName = decodedText(fields.at(1));
            record->productVersion = decodedText(fields.at(2));
        } else if (key == "date") {
            record->date = QDateTime::fromString(QString::fromLatin1(fields.at(1)), Qt::ISODate);
            if (!record->date.isValid())
                return problem(tr("the date is not valid"));
        } else if (key == "user") {
            bool ok = false;
            record->userId = fields.at(1).toUInt(&ok);
            record->userName = decodedText(fields.at(2));
            if (!ok)
                return problem(tr("the user number is not valid"));
        } else if (key == "source") {
            record->sourceKind = decodedText(fields.at(1));
            record->sourcePath = QFile::decodeName(QByteArray::fromPercentEncoding(fields.at(2)));
            if (record->sourceKind != QLatin1String("archive")
                && record->sourceKind != QLatin1String("tree"))
                return problem(tr("the source is neither \"archive\" nor \"tree\""));
        } else if (key == "option") {
            if (fields.size() != 2 || !record->entries.isEmpty() || !record->registrations.isEmpty())
                return problem(tr("\"option\" is out of place or incomplete"));
            record->options << decodedText(fields.at(1));
        } else if (key == "entry") {
            if (headerSeen.size() != headerKeys.size() || !record->registrations.isEmpty())
                return problem(tr("\"entry\" is out of place"));
            Entry entry;
            const QByteArray type = fields.value(1);
            entry.type = type == "d" ? Entry::Directory : type == "l" ? Entry::Link : Entry::File;
            if (type != "d" && type != "f" && type != "l")
                return problem(tr("the entry type is not d, f or l"));
            if (fields.size() != (entry.type == Entry::Link ? 7 : 6))
                return problem(tr("the entry has a wrong number of fields"));
            bool modeOk = false, sizeOk = false;
            entry.mode = mode_t(fields.at(2).toUInt(&modeOk, 8));
            entry.size = fields.at(3).toLongLong(&sizeOk);
            if (!modeOk || fields.at(2).size() != 4 || !sizeOk || entry.size < 0)
                return problem(tr("the mode or size is not valid"));
            entry.hash = fields.at(4) == "-" ? QByteArray() : fields.at(4);
            if ((entry.type == Entry::File) != ContentHash::isWellFormed(entry.hash)
                || (entry.type != Entry::File && fields.at(4) != "-"))
                return problem(tr("the content hash is not valid"));
            entry.path = QByteArray::fromPercentEncoding(fields.at(5));
            if (entry.type == Entry::Link)
                entry.target = QByteArray::fromPercentEncoding(fields.at(6));
            const QString wrongPath = pathProblem(entry.path);
            if (!wrongPath.isEmpty())
                return problem(wrongPath);
            if (entry.type == Entry::Link && entry.target.isEmpty())
                return problem(tr("the link has no target"));
            if (paths.contains(entry.path))
                return problem(tr("the path is listed twice"));
            paths.insert(entry.path);
            record->entries << entry;
        } else if (key == "registration") {
            if (fields.size() != 4 || headerSeen.size() != headerKeys.size())
                return problem(tr("\"registration\" is out of place or incomplete"));
            Registration registration{decodedText(fields.at(1)), decodedText(fields.at(2)),
                                      QFile::decodeName(QByteArray::fromPercentEncoding(fields.at(3)))};
            if (registration.mode != QLatin1String("user")
                && registration.mode != QLatin1String("system"))
                return problem(tr("the registration mode is neither \"user\" nor \"system\""));
            record->registrations << registration;
        } else if (key == "end") {
            if (headerSeen.size() != headerKeys.size())
                return problem(tr("the record lacks one of its first lines"));
            if (fields.size() != 3 || fields.at(1) != QByteArray::number(record->entries.size())
                || fields.at(2) != QByteArray::number(record->registrations.size()))
                return problem(tr("the counts of the \"end\" line do not match the record"));
            ended = true;
        } else if (header < 0) {
            return problem(tr("\"%1\" is not a line of an installation record")
                               .arg(QString::fromLatin1(key.left(40))));
        }
    }
    if (!ended || !whole) {
        *error = tr("\"%1\" ends before its \"end\" line: it was cut short.").arg(name);
        return false;
    }
    return true;
}

QSet<QByteArray> InstallationRecord::paths() const
{
    QSet<QByteArray> all;
    for (const Entry &entry : entries)
        all.insert(entry.path);
    return all;
}
