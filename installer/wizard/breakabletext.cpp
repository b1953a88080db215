#include "installer/wizard/breakabletext.h"

namespace {

const QChar zeroWidthSpace(0x200B);
// Longer than any word of the texts; paths already wrap after a slash.
const int longestWord = 24;

bool endsRun(QChar c)
{
    return c.isSpace() || c == QLatin1Char('/');
}

} // namespace

QString breakableAnywhere(const QString &text)
{
    QString result;
    result.reserve(text.size());
    int runStart = 0;
    for (int i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !endsRun(text.at(i)))
            continue;
        const int runLength = i - runStart;
        if (runLength <= longestWord) {
            result += text.midRef(runStart, runLength);
        } else {
            for (int j = runStart; j < i; ++j) {
                result += text.at(j);
                // Never inside a surrogate pair or before a combining mark.
                if (j + 1 < i && !text.at(j).isHighSurrogate() && !text.at(j + 1).isMark())
                    result += zeroWidthSpace;
            }
        }
        if (i < text.size())
            result += text.at(i);
        runStart = i + 1;
    }
    return result;
}
