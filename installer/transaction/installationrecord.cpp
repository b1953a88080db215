#include "installer/transaction/installationrecord.h"

#include "installer/administration/record.h"
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

QString fromBytes(const std::string &bytes)
{
    return QString::fromUtf8(bytes.data(), int(bytes.size()));
}

std::string toBytes(const QString &text)
{
    return text.toUtf8().toStdString();
}

QByteArray fromPath(const std::string &bytes)
{
    return QByteArray(bytes.data(), int(bytes.size()));
}

std::string toPath(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

// The format itself is the administration core's: the program inside every
// installation reads it without Qt, and the two must never disagree.
Administration::Record coreRecord(const InstallationRecord &record)
{
    Administration::Record core;
    core.installerVersion = toBytes(record.installerVersion);
    core.productName = toBytes(record.productName);
    core.productVersion = toBytes(record.productVersion);
    core.date = toBytes(record.date.toUTC().toString(Qt::ISODate));
    core.userId = record.userId;
    core.userName = toBytes(record.userName);
    core.sourceKind = toBytes(record.sourceKind);
    core.sourcePath = toPath(record.sourcePath);
    for (const QString &option : record.options)
        core.options.push_back(toBytes(option));
    for (const InstallationRecord::Entry &entry : record.entries) {
        core.entries.push_back({Administration::Entry::Type(entry.type), unsigned(entry.mode & 07777),
                                entry.size, entry.hash.toStdString(), entry.path.toStdString(),
                                entry.target.toStdString()});
    }
    for (const InstallationRecord::Registration &registration : record.registrations) {
        core.registrations.push_back(
            {toBytes(registration.tool), toBytes(registration.mode), toPath(registration.file)});
    }
    return core;
}

bool cannotRecord(const QByteArray &path, QString *error)
{
    *error = InstallationRecord::tr("Could not record \"%1\": %2")
                 .arg(QFile::decodeName(path), qt_error_string(errno));
    return false;
}

// Describes the entry `name` of the open directory `parent`, at `path` in
// the installation, as it is now; false with errno set when it cannot be
// read or is of no kind an installation writes. A regular file's hash is
// taken from `hashes` when it is there.
bool describeEntry(int parent, const QByteArray &name, const QByteArray &path,
                   const QHash<QByteArray, QByteArray> &hashes, InstallationRecord::Entry *entry)
{
    entry->path = path;
    struct stat st = {};
    if (::fstatat(parent, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    entry->mode = st.st_mode & 07777;
    entry->hash.clear();
    entry->target.clear();
    entry->size = 0;
    if (S_ISLNK(st.st_mode)) {
        entry->type = InstallationRecord::Entry::Link;
        char target[4096];
        const ssize_t length = ::readlinkat(parent, name.constData(), target, sizeof target);
        if (length <= 0)
            return false;
        entry->target = QByteArray(target, int(length));
        entry->size = entry->target.size();
    } else if (S_ISREG(st.st_mode)) {
        entry->type = InstallationRecord::Entry::File;
        entry->hash = hashes.value(path);
        if (entry->hash.isEmpty()) {
            const Beneath::Descriptor file(
                ::openat(parent, name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
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

// Each directory is opened once, from its parent: on a network file system
// every path walked again from the top costs a round trip per component.
bool describeBelow(int directory, const QByteArray &relative,
                   const QHash<QByteArray, QByteArray> &hashes,
                   QVector<InstallationRecord::Entry> *entries, QString *error)
{
    bool ok = false;
    const QByteArrayList names = Beneath::sortedNames(directory, &ok);
    if (!ok)
        return cannotRecord(relative, error);
    for (const QByteArray &name : names) {
        const QByteArray path = relative.isEmpty() ? name : relative + '/' + name;
        if (relative.isEmpty() && InstallationRecord::isOwnFile(name))
            continue;
        InstallationRecord::Entry entry;
        if (!describeEntry(directory, name, path, hashes, &entry))
            return cannotRecord(path, error);
        entries->append(entry);
        if (entry.type != InstallationRecord::Entry::Directory)
            continue;
        const Beneath::Descriptor below(::openat(directory, name.constData(),
                                                 O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!below.isValid())
            return cannotRecord(path, error);
        if (!describeBelow(below.get(), path, hashes, entries, error))
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
    if (!top.isValid())
        return cannotRecord(QFile::encodeName(directory), error);
    return describeBelow(top.get(), QByteArray(), hashes, &entries, error);
}

bool InstallationRecord::isOwnFile(const QByteArray &name)
{
    return name == ".installed" || name == fileName || name == logFileName;
}

QByteArray InstallationRecord::toText() const
{
    return QByteArray::fromStdString(coreRecord(*this).text());
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
    Administration::Record core;
    Administration::RecordProblem problem;
    if (!Administration::parseRecord(text.toStdString(), &core, &problem)) {
        const QString reason = QString::fromStdString(Administration::fill(
            QCoreApplication::translate("Administration", problem.reason.source).toStdString(),
            problem.reason.values));
        *error = problem.line == 0
            ? tr("\"%1\" ends before its \"end\" line: it was cut short.").arg(name)
            : tr("\"%1\", line %2: %3").arg(name).arg(problem.line).arg(reason);
        return false;
    }
    record->installerVersion = fromBytes(core.installerVersion);
    record->productName = fromBytes(core.productName);
    record->productVersion = fromBytes(core.productVersion);
    record->date = QDateTime::fromString(fromBytes(core.date), Qt::ISODate);
    record->userId = core.userId;
    record->userName = fromBytes(core.userName);
    record->sourceKind = fromBytes(core.sourceKind);
    record->sourcePath = QFile::decodeName(fromPath(core.sourcePath));
    for (const std::string &option : core.options)
        record->options << fromBytes(option);
    for (const Administration::Entry &entry : core.entries) {
        record->entries << Entry{Entry::Type(entry.type), mode_t(entry.mode), entry.size,
                                 fromPath(entry.hash), fromPath(entry.path), fromPath(entry.target)};
    }
    for (const Administration::Registration &registration : core.registrations) {
        record->registrations << Registration{fromBytes(registration.tool),
                                              fromBytes(registration.mode),
                                              QFile::decodeName(fromPath(registration.file))};
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
