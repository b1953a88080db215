#include "installer/administration/record.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>
#include <set>

namespace Administration {

const char Record::fileName[] = ".installation-record";

namespace {

const char magic[] = "corvane-zarvo-installation-record";

bool isUnreserved(unsigned char c, bool path)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
        || c == '-' || c == '.' || c == '_' || c == '~' || (path && c == '/');
}

std::string encoded(const std::string &bytes, bool path = false)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string field;
    for (const char c : bytes) {
        const unsigned char byte = (unsigned char)c;
        if (isUnreserved(byte, path)) {
            field += c;
        } else {
            field += '%';
            field += digits[byte >> 4];
            field += digits[byte & 15];
        }
    }
    return field;
}

int hexValue(char c)
{
    return c >= '0' && c <= '9' ? c - '0'
        : c >= 'a' && c <= 'f'  ? c - 'a' + 10
        : c >= 'A' && c <= 'F'  ? c - 'A' + 10
                                : -1;
}

// False when a "%" is not followed by two hexadecimal digits.
bool decoded(const std::string &field, std::string *bytes)
{
    bytes->clear();
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '%') {
            *bytes += field[i];
            continue;
        }
        const int high = i + 2 < field.size() ? hexValue(field[i + 1]) : -1;
        const int low = high < 0 ? -1 : hexValue(field[i + 2]);
        if (low < 0)
            return false;
        *bytes += char(high * 16 + low);
        i += 2;
    }
    return true;
}

std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

bool isNumber(const std::string &text, int base = 10)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [base](char c) {
        return c >= '0' && c < '0' + std::min(base, 10);
    });
}

// "2026-12-08T11:44:18Z", or with "+01:00" or no zone.
bool isDate(const std::string &date)
{
    static const char form[] = "dddd-dd-ddTdd:dd:dd";
    const size_t length = sizeof form - 1;
    if (date.size() < length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (form[i] == 'd' ? !std::isdigit((unsigned char)date[i]) : date[i] != form[i])
            return false;
    }
    const auto number = [&](size_t at) { return std::stoi(date.substr(at, 2)); };
    if (number(5) < 1 || number(5) > 12 || number(8) < 1 || number(8) > 31 || number(11) > 23
        || number(14) > 59 || number(17) > 60)
        return false;
    const std::string zone = date.substr(length);
    return zone.empty() || zone == "Z"
        || (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && isNumber(zone.substr(1, 2))
            && zone[3] == ':' && isNumber(zone.substr(4, 2)));
}

// Why a stored path cannot name an entry inside the installation; null
// when it can.
const char *pathProblem(const std::string &path)
{
    if (path.empty() || path[0] == '/')
        return "the path is not relative";
    for (const std::string &component : split(path, '/')) {
        if (component.empty() || component == "." || component == "..")
            return "the path has an empty, \".\" or \"..\" component";
    }
    return nullptr;
}

char typeLetter(Entry::Type type)
{
    return type == Entry::Directory ? 'd' : type == Entry::Link ? 'l' : 'f';
}

std::string modeText(unsigned mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", mode & 07777);
    return text;
}

} // namespace

bool isContentHash(const std::string &text)
{
    static const char prefix[] = "xxh128:";
    const size_t prefixLength = sizeof prefix - 1;
    return text.size() == prefixLength + 32 && text.compare(0, prefixLength, prefix) == 0
        && std::all_of(text.begin() + prefixLength, text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::string Record::text() const
{
    std::string text = std::string(magic) + ' ' + std::to_string(formatVersion) + '\n';
    text += "installer " + encoded(installerVersion) + '\n';
    text += "product " + encoded(productName) + ' ' + encoded(productVersion) + '\n';
    text += "date " + date + '\n';
    text += "user " + std::to_string(userId) + ' ' + encoded(userName) + '\n';
    text += "source " + encoded(sourceKind) + ' ' + encoded(sourcePath, true) + '\n';
    for (const std::string &option : options)
        text += "option " + encoded(option) + '\n';
    for (const Entry &entry : entries) {
        text += std::string("entry ") + typeLetter(entry.type) + ' ' + modeText(entry.mode) + ' '
            + std::to_string(entry.size) + ' ' + (entry.hash.empty() ? "-" : entry.hash) + ' '
            + encoded(entry.path, true);
        if (entry.type == Entry::Link)
            text += ' ' + encoded(entry.target, true);
        text += '\n';
    }
    for (const Registration &registration : registrations) {
        text += "registration " + encoded(registration.tool) + ' ' + encoded(registration.mode) + ' '
            + encoded(registration.file, true) + '\n';
    }
    text += "end " + std::to_string(entries.size()) + ' ' + std::to_string(registrations.size())
        + '\n';
    return text;
}

std::string Record::option(const std::string &key) const
{
    for (const std::string &option : options) {
        if (option.size() > key.size() && option.compare(0, key.size(), key) == 0
            && option[key.size()] == '=')
            return option.substr(key.size() + 1);
    }
    return std::string();
}

bool parseRecord(const std::string &text, Record *record, RecordProblem *problem)
{
    *record = Record();
    std::vector<std::string> lines = split(text, '\n');
    const bool whole = lines.back().empty();
    lines.pop_back();
    int number = 0;
    const auto refuse = [&](const char *reason, std::vector<std::string> values = {}) {
        *problem = RecordProblem{number, Text{reason, std::move(values)}};
        return false;
    };
    static const char *const headerKeys[] = {"installer", "product", "date", "user", "source"};
    static const size_t headerSizes[] = {2, 3, 2, 3, 3};
    std::set<std::string> headerSeen;
    std::set<std::string> paths;
    bool ended = false;
    for (const std::string &line : lines) {
        ++number;
        const std::vector<std::string> fields = split(line, ' ');
        const std::string &key = fields.front();
        const auto field = [&](size_t i, std::string *value) {
            return decoded(fields[i], value);
        };
        if (ended)
            return refuse("there is more after the \"end\" line");
        if (number == 1) {
            if (fields.size() != 2 || key != magic)
                return refuse("this is not an installation record");
            if (fields[1] != std::to_string(Record::formatVersion))
                return refuse("format version %1 is not known to this installer (it reads "
                              "version %2)",
                              {fields[1], std::to_string(Record::formatVersion)});
            continue;
        }
        const auto header = std::find(std::begin(headerKeys), std::end(headerKeys), key);
        const bool isHeader = header != std::end(headerKeys);
        const bool headerComplete = headerSeen.size() == std::size(headerKeys);
        if (isHeader) {
            if (headerSeen.count(key) || !record->entries.empty() || !record->registrations.empty())
                return refuse("\"%1\" is out of place", {key});
            const size_t size = headerSizes[header - std::begin(headerKeys)];
            if (fields.size() != size)
                return refuse("\"%1\" needs %2 fields", {key, std::to_string(size - 1)});
            headerSeen.insert(key);
        }
        bool wellEncoded = true;
        if (key == "installer") {
            wellEncoded = field(1, &record->installerVersion);
        } else if (key == "product") {
            wellEncoded = field(1, &record->productName) && field(2, &record->productVersion);
        } else if (key == "date") {
            record->date = fields[1];
            if (!isDate(record->date))
                return refuse("the date is not valid");
        } else if (key == "user") {
            if (!isNumber(fields[1]) || fields[1].size() > 10 || std::stoull(fields[1]) > 0xffffffffu)
                return refuse("the user number is not valid");
            record->userId = unsigned(std::stoul(fields[1]));
            wellEncoded = field(2, &record->userName);
        } else if (key == "source") {
            wellEncoded = field(1, &record->sourceKind) && field(2, &record->sourcePath);
            if (wellEncoded && record->sourceKind != "archive" && record->sourceKind != "tree")
                return refuse("the source is neither \"archive\" nor \"tree\"");
        } else if (key == "option") {
            std::string option;
            if (fields.size() != 2 || !record->entries.empty() || !record->registrations.empty())
                return refuse("\"option\" is out of place or incomplete");
            wellEncoded = field(1, &option);
            record->options.push_back(option);
        } else if (key == "entry") {
            if (!headerComplete || !record->registrations.empty())
                return refuse("\"entry\" is out of place");
            Entry entry;
            const std::string type = fields.size() > 1 ? fields[1] : std::string();
            if (type != "d" && type != "f" && type != "l")
                return refuse("the entry type is not d, f or l");
            entry.type = type == "d" ? Entry::Directory : type == "l" ? Entry::Link : Entry::File;
            if (fields.size() != (entry.type == Entry::Link ? 7u : 6u))
                return refuse("the entry has a wrong number of fields");
            if (fields[2].size() != 4 || !isNumber(fields[2], 8) || !isNumber(fields[3])
                || fields[3].size() > 18)
                return refuse("the mode or size is not valid");
            entry.mode = unsigned(std::stoul(fields[2], nullptr, 8));
            entry.size = std::stoll(fields[3]);
            entry.hash = fields[4] == "-" ? std::string() : fields[4];
            if ((entry.type == Entry::File) != isContentHash(entry.hash)
                || (entry.type != Entry::File && fields[4] != "-"))
                return refuse("the content hash is not valid");
            wellEncoded = field(5, &entry.path) && (entry.type != Entry::Link || field(6, &entry.target));
            if (!wellEncoded)
                return refuse("a field is not properly percent-encoded");
            if (const char *wrongPath = pathProblem(entry.path))
                return refuse(wrongPath);
            if (entry.type == Entry::Link && entry.target.empty())
                return refuse("the link has no target");
            if (!paths.insert(entry.path).second)
                return refuse("the path is listed twice");
            record->entries.push_back(entry);
        } else if (key == "registration") {
            if (fields.size() != 4 || !headerComplete)
                return refuse("\"registration\" is out of place or incomplete");
            Registration registration;
            wellEncoded = field(1, &registration.tool) && field(2, &registration.mode)
                && field(3, &registration.file);
            if (wellEncoded && registration.mode != "user" && registration.mode != "system")
                return refuse("the registration mode is neither \"user\" nor \"system\"");
            record->registrations.push_back(registration);
        } else if (key == "end") {
            if (!headerComplete)
                return refuse("the record lacks one of its first lines");
            if (fields.size() != 3 || fields[1] != std::to_string(record->entries.size())
                || fields[2] != std::to_string(record->registrations.size()))
                return refuse("the counts of the \"end\" line do not match the record");
            ended = true;
        } else if (!isHeader) {
            return refuse("\"%1\" is not a line of an installation record", {key.substr(0, 40)});
        }
        if (!wellEncoded)
            return refuse("a field is not properly percent-encoded");
    }
    if (!ended || !whole) {
        number = 0;
        return refuse("it ends before its \"end\" line: it was cut short");
    }
    return true;
}

} // namespace Administration
