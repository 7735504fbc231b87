#pragma once

#include <QDir>
#include <QFile>

namespace framelog::test {

// The process's resident memory and open file count, read from /proc.
struct ProcessUsage {
    qint64 residentKiB = 0;
    int openFiles = 0;

    static ProcessUsage now()
    {
        ProcessUsage usage;
        QFile statm(QStringLiteral("/proc/self/statm"));
        if (statm.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> fields = statm.readAll().split(' ');
            if (fields.size() > 1)
                usage.residentKiB = fields[1].toLongLong() * 4;
        }
        usage.openFiles = int(QDir(QStringLiteral("/proc/self/fd"))
                                  .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                                  .size());
        return usage;
    }
};

} // namespace framelog::test
