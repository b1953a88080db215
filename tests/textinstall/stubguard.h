#ifndef ZARVO_TESTS_TEXTINSTALL_STUBGUARD_H
#define ZARVO_TESTS_TEXTINSTALL_STUBGUARD_H

#include <QString>
#include <QtTest>

// The text installer drives the shared engine and source search. While a
// branch is built without them (their place-holders install nothing), the
// tests that need a real installation say so and skip; everything else runs.
namespace StubGuard {

// Why the program cannot find `tree` as its installation files; empty when it can.
QString missingSourceSearch(const QString &tree);
// Why no installation can be made from `tree`; empty when one can.
QString missingPieces(const QString &tree);

} // namespace StubGuard

#define ZARVO_SKIP_WITHOUT(check, tree)                                                          \
    do {                                                                                         \
        const QString missing = StubGuard::check(tree);                                          \
        if (!missing.isEmpty())                                                                  \
            QSKIP(qPrintable(missing));                                                          \
    } while (false)
#define ZARVO_SKIP_WITHOUT_SOURCE_SEARCH(tree) ZARVO_SKIP_WITHOUT(missingSourceSearch, tree)
#define ZARVO_SKIP_WITHOUT_ENGINE(tree) ZARVO_SKIP_WITHOUT(missingPieces, tree)

#endif
