#ifndef ZARVO_TEXTINSTALL_LICENCEAGREEMENT_H
#define ZARVO_TEXTINSTALL_LICENCEAGREEMENT_H

#include <QCoreApplication>
#include <QString>

class Console;
class SignalWatcher;

// The licence agreement and the supplementary terms carried by the
// installation files, which the user must accept before anything is
// installed.
class LicenceAgreement
{
    Q_DECLARE_TR_FUNCTIONS(LicenceAgreement)

public:
    enum Result { Accepted, Refused, Interrupted };

    explicit LicenceAgreement(const QString &sourceDir);

    // Both texts must be there, as for the graphical installer; without
    // them the installation files count as missing.
    bool filesPresent() const;
    // The licence, two line feeds, the supplementary terms; empty when
    // either cannot be read.
    QString text() const;

    // With `acceptedBeforehand` (--accept-licence) nothing is shown. Without
    // a terminal to ask on, refuses at once. Reports a refusal itself.
    Result obtain(Console &console, SignalWatcher *watcher, bool acceptedBeforehand) const;

private:
    QString m_licencePath;
    QString m_supplementaryPath;
};

#endif
