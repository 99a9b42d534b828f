#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Small pure steps of the sync run, kept apart so that their rules can be
// checked without a server.

// The whole percentage of an upload after `sent` of `size` bytes: the ratio
// times 100, rounded to the nearest whole number, halves to the even one. An
// empty file counts as complete (100).
int UploadPercent(qint64 sent, qint64 size);

// The remote path cut after its last "/" (the "/" kept); empty when it has none.
QString RemoteParentFolder(const QString& remotePath);

// The folders to create, top first, so that `parent` (a remote folder path
// ending in "/") exists: every level below the server root down to `parent`,
// the levels above the remote folder included (it need not exist yet either).
QStringList RemoteFolderLevels(const QString& parent);

// False when the remote path must not reach the server: it is empty, holds a
// control character, which would end or split an FTP command line, or holds
// the byte 0xFF (U+DCFF, as remote names carry bytes that are not UTF-8),
// which servers read in two different ways.
bool IsSendableRemotePath(const QString& remotePath);

// The message at the end of a run that was not stopped: "Done." when no row
// failed, else the count of failed files after it.
QString DoneMessage(int failedRows);

// The name an upload goes to before it takes the name of remotePath: in the
// same folder, "~" (a name that no local file taken into a compare bears),
// the file's own name (cut short where needed), "." and the tag as eight hex
// digits, then ".part". The name part stays within 255 UTF-8 bytes.
QString TemporaryUploadName(const QString& remotePath, quint32 tag);
