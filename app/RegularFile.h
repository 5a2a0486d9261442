// The check the dialogs make on a file the user names before it is used.
#pragma once

#include <QString>

// The size of file_name when it is a regular file that can be opened for
// reading; -1 for anything else (missing, unreadable, a directory, a FIFO or a
// device). Never blocks: a FIFO is refused without being opened.
qint64 ReadableRegularFileSize(const QString& file_name);
