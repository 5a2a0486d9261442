#include "RegularFile.h"

#include <QFile>

#include "regular_file.h"

qint64 ReadableRegularFileSize(const QString& file_name) {
    if (file_name.isEmpty()) return -1;
    const QByteArray name = QFile::encodeName(file_name);
    const zorvik::platform::File file = zorvik::platform::open_regular_file(name.constData());
    if (!file) return -1;
    QFile opened;
    if (!opened.open(file.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) return -1;
    return opened.size();
}
