#ifndef ZARVO_TEXTINSTALL_DESTINATIONCHOICE_H
#define ZARVO_TEXTINSTALL_DESTINATIONCHOICE_H

#include <QCoreApplication>
#include <QString>

class Console;

// The destination directory: the one given on the command line, or the
// graphical installer's default, offered on a terminal and taken as it is
// otherwise. The path is used exactly as given, but must not contain
// whitespace.
class DestinationChoice
{
    Q_DECLARE_TR_FUNCTIONS(DestinationChoice)

public:
    enum Result { Chosen, Refused, Interrupted };

    // The graphical installer's default for the real user id.
    static QString defaultDestination();
    // One or more characters, none of them a space, tab, line feed, vertical
    // tab, form feed or carriage return.
    static bool isValid(const QString &path);

    // `argument` is null when the command line named no directory. Reports
    // every refusal on the console itself.
    static Result choose(Console &console, const QString &argument, QString *destination);

private:
    static void reportInvalid(Console &console, const QString &path);
};

#endif
