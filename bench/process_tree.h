#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

#include <unistd.h>

// What a process and the processes below it (a recorder and its engine's
// processes) cost, read from /proc.

// User + system CPU of one process, in milliseconds.
inline double cpuMsOf(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = file.readAll();
    // Fields after the command name, which may hold spaces: state is field 3.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble();
    return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

inline qint64 parentOf(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = file.readAll();
    return stat.mid(stat.lastIndexOf(')') + 2).split(' ').value(1).toLongLong();
}

// `pid` and every process below it.
inline std::vector<qint64> treeOf(qint64 pid)
{
    std::vector<std::pair<qint64, qint64>> all; // pid, parent
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const qint64 p = entry.toLongLong(&ok);
        if (ok)
            all.emplace_back(p, parentOf(p));
    }
    std::vector<qint64> tree = {pid};
    for (size_t i = 0; i < tree.size(); ++i)
        for (const auto &[p, parent] : all)
            if (parent == tree[i])
                tree.push_back(p);
    return tree;
}

inline double treeCpuMs(qint64 pid)
{
    double total = 0;
    for (qint64 p : treeOf(pid))
        total += cpuMsOf(p);
    return total;
}

// framelog-record run by a benchmark on the platform it picks itself, its
// log read from standard error; ended (and waited for) with the object.
class RecorderProcess {
public:
    RecorderProcess(const QString &program, const QStringList &arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process.setProcessEnvironment(env);
        process.setReadChannel(QProcess::StandardError);
        process.start(program, arguments);
        process.waitForStarted();
    }
    ~RecorderProcess()
    {
        process.terminate();
        if (!process.waitForFinished(10000))
            process.kill();
        process.waitForFinished(5000);
    }
    RecorderProcess(const RecorderProcess &) = delete;
    RecorderProcess &operator=(const RecorderProcess &) = delete;

    qint64 pid() const { return process.processId(); }

    QProcess process;
};
