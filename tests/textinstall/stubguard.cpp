#include "stubguard.h"

#include "fixture.h"
#include "programrun.h"

#include "installer/engine/installer.h"

#include <QSignalSpy>
#include <QTemporaryDir>

namespace StubGuard {

namespace {

QString probeSourceSearch(const QString &tree)
{
    ProgramRun run(ProgramRun::Pipes, tree,
                   {QStringLiteral("--accept-licence"), QStringLiteral("not a destination")},
                   Fixture::environment());
    if (run.start() && run.finish(20000)
        && run.errorOutput().contains("installation files not found"))
        return QStringLiteral("the installation-source search is not built into this tree yet");
    return QString();
}

QString probeEngine(const QString &tree)
{
    QTemporaryDir work;
    Installer installer;
    QSignalSpy status(&installer, &Installer::status);
    QSignalSpy error(&installer, &Installer::error);
    installer.install(tree, work.filePath(QStringLiteral("probe")));
    if (!status.wait(5000) && status.isEmpty() && error.isEmpty())
        return QStringLiteral("the installation engine is not built into this tree yet");
    return QString();
}

} // namespace

QString missingSourceSearch(const QString &tree)
{
    static const QString result = probeSourceSearch(tree);
    return result;
}

QString missingPieces(const QString &tree)
{
    static const QString result = missingSourceSearch(tree).isEmpty() ? probeEngine(tree)
                                                                       : missingSourceSearch(tree);
    return result;
}

} // namespace StubGuard
