#include "installer/transaction/journal.h"

#include <QByteArrayList>

namespace Journal {

namespace {

const char magic[] = "zarvo-transaction 1";

QByteArray encoded(const QByteArray &path)
{
    return path.isEmpty() ? QByteArray(".") : path.toPercentEncoding("/");
}

QByteArray decoded(const QByteArray &field)
{
    return field == "." ? QByteArray() : QByteArray::fromPercentEncoding(field);
}

QByteArray octal(mode_t mode)
{
    return QByteArray::number(uint(mode & 07777), 8);
}

QByteArray timesText(const struct timespec times[2])
{
    return QByteArray::number(qint64(times[0].tv_sec)) + ' ' + QByteArray::number(qint64(times[0].tv_nsec))
        + ' ' + QByteArray::number(qint64(times[1].tv_sec)) + ' '
        + QByteArray::number(qint64(times[1].tv_nsec));
}

bool parseMode(const QByteArray &field, mode_t *mode)
{
    bool ok = false;
    const uint value = field.toUInt(&ok, 8);
    *mode = mode_t(value);
    return ok && value <= 07777;
}

bool parseTimes(const QByteArrayList &fields, int first, struct timespec times[2])
{
    if (fields.size() != first + 4)
        return false;
    bool ok[4];
    times[0].tv_sec = time_t(fields.at(first).toLongLong(&ok[0]));
    times[0].tv_nsec = long(fields.at(first + 1).toLong(&ok[1]));
    times[1].tv_sec = time_t(fields.at(first + 2).toLongLong(&ok[2]));
    times[1].tv_nsec = long(fields.at(first + 3).toLong(&ok[3]));
    return ok[0] && ok[1] && ok[2] && ok[3];
}

bool parseStep(const QByteArrayList &fields, Step *step)
{
    const QByteArray &kind = fields.first();
    if (fields.size() < 3)
        return false;
    step->path = decoded(fields.at(1));
    if (kind == "remove" && fields.size() == 3) {
        step->kind = Step::Remove;
        return parseMode(fields.at(2), &step->mode);
    }
    if (kind == "place" && fields.size() == 4) {
        step->kind = Step::Place;
        step->replaces = fields.at(3) != "-";
        return parseMode(fields.at(2), &step->mode)
            && (!step->replaces || parseMode(fields.at(3), &step->replacedMode));
    }
    if (kind == "directory") {
        step->kind = Step::Directory;
        return parseMode(fields.at(2), &step->mode) && parseTimes(fields, 3, step->times);
    }
    return false;
}

} // namespace

QByteArray header(const Contents &contents)
{
    QByteArray text = QByteArray(magic) + '\n';
    text += "destination " + encoded(contents.destination) + '\n';
    text += "home " + encoded(contents.home) + '\n';
    text += "times " + timesText(contents.homeTimes) + '\n';
    text += contents.fresh ? "fresh " + encoded(contents.top) + '\n' : QByteArray("existing\n");
    text += "begun\n";
    return text;
}

QByteArray plan(const QVector<Step> &steps)
{
    QByteArray text;
    for (const Step &step : steps) {
        switch (step.kind) {
        case Step::Remove:
            text += "remove " + encoded(step.path) + ' ' + octal(step.mode) + '\n';
            break;
        case Step::Place:
            text += "place " + encoded(step.path) + ' ' + octal(step.mode) + ' '
                + (step.replaces ? octal(step.replacedMode) : QByteArray("-")) + '\n';
            break;
        case Step::Directory:
            text += "directory " + encoded(step.path) + ' ' + octal(step.mode) + ' '
                + timesText(step.times) + '\n';
            break;
        }
    }
    return text + "commit\n";
}

bool parse(const QByteArray &text, Contents *contents)
{
    *contents = Contents();
    QByteArrayList lines = text.split('\n');
    // Whatever follows the last line feed was cut short.
    lines.removeLast();
    if (lines.isEmpty())
        return true;
    if (lines.first() != magic)
        return false;
    int i = 1;
    for (; i < lines.size() && !contents->begun; ++i) {
        const QByteArrayList fields = lines.at(i).split(' ');
        const QByteArray &key = fields.first();
        if (key == "destination" && fields.size() == 2)
            contents->destination = QByteArray::fromPercentEncoding(fields.at(1));
        else if (key == "home" && fields.size() == 2)
            contents->home = QByteArray::fromPercentEncoding(fields.at(1));
        else if (key == "times" && parseTimes(fields, 1, contents->homeTimes))
            continue;
        else if (key == "existing" && fields.size() == 1)
            contents->fresh = false;
        else if (key == "fresh" && fields.size() == 2) {
            contents->fresh = true;
            contents->top = decoded(fields.at(1));
        } else if (key == "begun" && fields.size() == 1)
            contents->begun = !contents->destination.isEmpty() && !contents->home.isEmpty();
        else
            return false;
    }
    QVector<Step> steps;
    for (; i < lines.size(); ++i) {
        const QByteArrayList fields = lines.at(i).split(' ');
        if (fields.first() == "commit" && fields.size() == 1) {
            contents->plan = steps;
            contents->commitStarted = true;
            continue;
        }
        Step step;
        if (contents->commitStarted || !parseStep(fields, &step))
            break;
        steps << step;
    }
    return true;
}

} // namespace Journal
