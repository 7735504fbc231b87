// What both programs set up at start: a limit on file sizes fails the write
// instead of killing the program. Tried in a child process, whose limit and
// signals are its own.
#include "core/process_setup.h"

#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The child's end: 0 when the write past the limit failed with EFBIG, 1 for
// any other outcome, or the signal that killed it (as 128 + signal).
int writePastTheLimit(const QByteArray &path, bool setUp)
{
    const pid_t child = fork();
    if (child == 0) {
        // Only async-signal-safe calls from here on; the signal's default
        // action first, whatever this test was started with.
        signal(SIGXFSZ, SIG_DFL);
        if (setUp)
            framelog::setUpProcess();
        rlimit limit = {4096, 4096};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(1);
        const int fd = open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        static char block[8192];
        const ssize_t first = write(fd, block, sizeof block); // up to the limit
        const ssize_t second = write(fd, block, sizeof block);
        _exit(first == 4096 && second < 0 && errno == EFBIG ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child)
        return -1;
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

} // namespace

class TestProcessSetup : public QObject {
    Q_OBJECT
private slots:
    void aFileSizeLimitFailsTheWrite();
};

void TestProcessSetup::aFileSizeLimitFailsTheWrite()
{
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("big.jpg")));
    QCOMPARE(writePastTheLimit(path, false), 128 + SIGXFSZ); // what it guards against
    QCOMPARE(writePastTheLimit(path, true), 0);
}

QTEST_APPLESS_MAIN(TestProcessSetup)
#include "test_process_setup.moc"
