#ifndef ZARVO_ADMINISTRATION_TEXT_H
#define ZARVO_ADMINISTRATION_TEXT_H

#include <string>
#include <vector>

namespace Administration {

// A message in the program's own words: the English text with numbered
// placeholders (%1 ... %9) and the values that fill them. A Qt front end
// translates the text (context "Administration") before filling it in; the
// program without Qt shows it as it stands.
struct Text
{
    const char *source = "";
    std::vector<std::string> values;
};

inline Text text(const char *source, std::vector<std::string> values = {})
{
    return Text{source, std::move(values)};
}

// Fills every placeholder in one pass, so that a value holding "%2" stays
// as it is.
std::string fill(const std::string &pattern, const std::vector<std::string> &values);

// A name as one line, as tar -t prints it: a backslash, a control character
// and a byte that is not part of valid UTF-8 are escaped (\\, \n, \t, \ooo).
std::string printable(const std::string &bytes);

// The system's text for an errno value.
std::string systemError(int error);

} // namespace Administration

#endif
