#ifndef ZARVO_WIZARD_BREAKABLETEXT_H
#define ZARVO_WIZARD_BREAKABLETEXT_H

#include <QString>

// A label wraps only between words, so a long path component would widen its
// window past the screen. Returns the plain text with zero-width spaces
// between the characters of every run too long to be a word, which lets it
// wrap anywhere there and looks the same.
QString breakableAnywhere(const QString &text);

#endif
