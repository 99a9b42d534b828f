#include "ftp/wininet.h"

#include "ftp/FtpSession.h"
#include "ftp/HostAddress.h"
#include "ftp/RemoteNames.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

enum class HandleKind { Internet, Connection, Find, File };

struct HandleObject {
    HandleKind kind;
    HINTERNET parent = 0;
    std::unique_ptr<FtpSession> session;   // Connection
    std::vector<WIN32_FIND_DATAA> entries; // Find
    size_t next = 0;                       // Find
};

// Every handle of the process. The runs may use several connections at once,
// each from its own thread, so the table itself is locked; a handle's object is
// used without the lock, which holds because a connection and what is opened
// under it are used by one thread at a time.
struct HandleTable {
    std::mutex mutex;
    std::map<HINTERNET, std::unique_ptr<HandleObject>> objects;
    HINTERNET nextHandle = 1;
};

thread_local quint32 lastError = 0;

HandleTable& table() {
    // Never destroyed: sessions still open when the program ends are left to
    // the end of the process, as the program's design has it. Closing them
    // from a static destructor would run after the TLS and SSH libraries
    // have shut down.
    static HandleTable* t = new HandleTable;
    return *t;
}

HandleObject* lookup(HINTERNET h, HandleKind kind) {
    HandleTable& t = table();
    const std::lock_guard lock(t.mutex);
    const auto it = t.objects.find(h);
    if (it == t.objects.end() || it->second->kind != kind)
        return nullptr;
    return it->second.get();
}

bool isOpen(HINTERNET h) {
    HandleTable& t = table();
    const std::lock_guard lock(t.mutex);
    return t.objects.count(h) != 0;
}

HINTERNET add(std::unique_ptr<HandleObject> object) {
    HandleTable& t = table();
    const std::lock_guard lock(t.mutex);
    // Numbers are never handed out twice, so a stale number can never reach
    // a newer object.
    if (t.nextHandle == 0)
        return 0;
    const HINTERNET h = t.nextHandle++;
    t.objects.emplace(h, std::move(object));
    return h;
}

std::vector<HINTERNET> childrenOf(HINTERNET h) {
    HandleTable& t = table();
    const std::lock_guard lock(t.mutex);
    std::vector<HINTERNET> children;
    for (const auto& [child, object] : t.objects) {
        if (object->parent == h)
            children.push_back(child);
    }
    return children;
}

std::unique_ptr<HandleObject> take(HINTERNET h) {
    HandleTable& t = table();
    const std::lock_guard lock(t.mutex);
    const auto it = t.objects.find(h);
    if (it == t.objects.end())
        return nullptr;
    std::unique_ptr<HandleObject> object = std::move(it->second);
    t.objects.erase(it);
    return object;
}

// Closes a handle and, first, everything opened under it. Answers what
// closing the handle itself answered (an upload's final reply). An upload
// closed along with its connection is abandoned, not completed: the caller
// never said that all its bytes were written. The handle leaves the table
// before its session is closed, which may wait on the server.
bool closeTree(HINTERNET h, bool direct) {
    for (HINTERNET child : childrenOf(h))
        closeTree(child, false);
    const std::unique_ptr<HandleObject> object = take(h);
    if (!object)
        return false;
    if (object->kind != HandleKind::File)
        return true;
    HandleObject* conn = lookup(object->parent, HandleKind::Connection);
    if (!conn)
        return false;
    if (direct)
        return conn->session->finishUpload();
    conn->session->abortUpload();
    return true;
}

// A listing may name byte 0xFF: read the wrong way, it shows another folder
// and changes nothing. A call that changes the server never names it.
enum class Use { Read, Change };

std::optional<QByteArray> remoteBytes(const QString& text, Use use = Use::Change) {
    auto bytes = encodeRemoteName(text);
    if (!bytes || hasControlBytes(*bytes) || (use == Use::Change && hasTelnetEscape(*bytes)))
        return std::nullopt;
    return bytes;
}

FtpSession* idleSession(HINTERNET hConnect) {
    HandleObject* conn = lookup(hConnect, HandleKind::Connection);
    if (!conn || conn->session->uploadActive())
        return nullptr;
    return conn->session.get();
}

void fillFindData(const RemoteEntry& entry, const QString& name, WIN32_FIND_DATAA* data) {
    *data = WIN32_FIND_DATAA();
    data->cFileName = name;
    if (entry.kind == RemoteEntryKind::Directory) {
        data->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    } else {
        data->dwFileAttributes = entry.kind == RemoteEntryKind::Link
                                     ? FILE_ATTRIBUTE_REPARSE_POINT
                                     : 0x80; // FILE_ATTRIBUTE_NORMAL
        const auto size = quint64(entry.size);
        data->nFileSizeHigh = quint32(size >> 32);
        data->nFileSizeLow = quint32(size & 0xFFFFFFFFu);
    }
}

} // namespace

HINTERNET InternetOpenA(const QString&, quint32, const QString&, const QString&, quint32) {
    auto object = std::make_unique<HandleObject>();
    object->kind = HandleKind::Internet;
    return add(std::move(object));
}

HINTERNET InternetConnectA(HINTERNET hInternet, const QString& serverName, quint16 port,
                           const QString& userName, const QString& password, quint32 service,
                           quint32, quintptr) {
    if (!lookup(hInternet, HandleKind::Internet) || service != INTERNET_SERVICE_FTP)
        return 0;
    // No user name means an anonymous log-in, as the platform does it, with
    // the conventional password when none is given; an empty USER is refused
    // by servers that do let anonymous users in.
    QString userText = userName;
    QString passwordText = password;
    if (userText.isEmpty()) {
        userText = QStringLiteral("anonymous");
        if (passwordText.isEmpty())
            passwordText = QStringLiteral("anonymous@");
    }
    const auto address = parseHostAddress(serverName, port);
    const auto user = remoteBytes(userText);
    const auto pass = remoteBytes(passwordText);
    if (!address || !user || !pass)
        return 0;
    auto session = std::make_unique<FtpSession>();
    if (!session->logIn(*address, *user, *pass))
        return 0;
    auto object = std::make_unique<HandleObject>();
    object->kind = HandleKind::Connection;
    object->parent = hInternet;
    object->session = std::move(session);
    return add(std::move(object));
}

HINTERNET FtpFindFirstFileA(HINTERNET hConnect, const QString& searchFile, WIN32_FIND_DATAA* data,
                            quint32, quintptr) {
    lastError = 0;
    FtpSession* session = idleSession(hConnect);
    if (!session || !data)
        return 0;
    const SearchPattern pattern = splitSearchPattern(searchFile);
    const auto folder = remoteBytes(pattern.folder, Use::Read);
    if (!folder)
        return 0;
    const auto entries = session->list(*folder);
    if (!entries)
        return 0;
    auto object = std::make_unique<HandleObject>();
    object->kind = HandleKind::Find;
    object->parent = hConnect;
    for (const RemoteEntry& entry : *entries) {
        const QString name = decodeRemoteName(entry.name);
        if (!matchesWildcard(pattern.namePattern, name))
            continue;
        WIN32_FIND_DATAA found;
        fillFindData(entry, name, &found);
        object->entries.push_back(std::move(found));
    }
    if (object->entries.empty()) {
        lastError = ERROR_NO_MORE_FILES;
        return 0;
    }
    *data = object->entries[0];
    object->next = 1;
    return add(std::move(object));
}

bool InternetFindNextFileA(HINTERNET hFind, WIN32_FIND_DATAA* data) {
    HandleObject* find = lookup(hFind, HandleKind::Find);
    if (!find || !data || find->next >= find->entries.size())
        return false;
    *data = find->entries[find->next++];
    return true;
}

bool FtpGetCurrentDirectoryA(HINTERNET hConnect, QString* currentDirectory, quint32* bufferLength) {
    FtpSession* session = idleSession(hConnect);
    if (!session || !currentDirectory || !bufferLength || !session->isAlive())
        return false;
    // The log-in folder: the listings of this layer never change the folder
    // a caller sees as current.
    const QString folder = decodeRemoteName(session->entryPath());
    if (quint32(folder.size()) + 1 > *bufferLength) {
        *bufferLength = quint32(folder.size()) + 1;
        return false;
    }
    *currentDirectory = folder;
    *bufferLength = quint32(folder.size());
    return true;
}

HINTERNET FtpOpenFileA(HINTERNET hConnect, const QString& fileName, quint32 access, quint32,
                       quintptr) {
    lastError = 0;
    FtpSession* session = idleSession(hConnect);
    if (!session || access != GENERIC_WRITE)
        return 0;
    const auto path = remoteBytes(fileName);
    if (!path || path->isEmpty() || path->endsWith('/'))
        return 0;
    if (!session->beginUpload(session->absolutePath(*path))) {
        if (session->refusedByServer())
            lastError = ERROR_INTERNET_EXTENDED_ERROR;
        return 0;
    }
    auto object = std::make_unique<HandleObject>();
    object->kind = HandleKind::File;
    object->parent = hConnect;
    const HINTERNET h = add(std::move(object));
    if (!h)
        session->abortUpload();
    return h;
}

bool InternetWriteFile(HINTERNET hFile, const void* buffer, quint32 numberOfBytesToWrite,
                       quint32* numberOfBytesWritten) {
    if (numberOfBytesWritten)
        *numberOfBytesWritten = 0;
    HandleObject* file = lookup(hFile, HandleKind::File);
    if (!file || (!buffer && numberOfBytesToWrite > 0))
        return false;
    HandleObject* conn = lookup(file->parent, HandleKind::Connection);
    if (!conn ||
        !conn->session->writeUpload(static_cast<const char*>(buffer), numberOfBytesToWrite))
        return false;
    if (numberOfBytesWritten)
        *numberOfBytesWritten = numberOfBytesToWrite;
    return true;
}

qint64 FtpDrainUpload(HINTERNET hFile, qint64 target, int maxWaitMs) {
    HandleObject* file = lookup(hFile, HandleKind::File);
    HandleObject* conn = file ? lookup(file->parent, HandleKind::Connection) : nullptr;
    if (!conn)
        return -1;
    return conn->session->drainUpload(target, maxWaitMs);
}

bool FtpRenameFileA(HINTERNET hConnect, const QString& existing, const QString& newName) {
    FtpSession* session = idleSession(hConnect);
    const auto from = remoteBytes(existing);
    const auto to = remoteBytes(newName);
    if (!session || !from || !to || from->isEmpty() || to->isEmpty())
        return false;
    return session->rename(session->absolutePath(*from), session->absolutePath(*to));
}

void FtpSetWaitCallback(std::function<bool()> callback) {
    FtpSession::setWaitCallback(std::move(callback));
}

bool FtpSendCommandsTogether(HINTERNET hConnect, bool on) {
    FtpSession* session = idleSession(hConnect);
    if (!session)
        return false;
    session->setSendTogether(on);
    return true;
}

bool FtpAbortFile(HINTERNET hFile) {
    if (!lookup(hFile, HandleKind::File))
        return false;
    closeTree(hFile, false);
    return true;
}

bool FtpCreateDirectoryA(HINTERNET hConnect, const QString& directory) {
    FtpSession* session = idleSession(hConnect);
    const auto path = remoteBytes(directory);
    if (!session || !path || path->isEmpty())
        return false;
    QByteArray absolute = session->absolutePath(*path);
    if (absolute.size() > 1 && absolute.endsWith('/'))
        absolute.chop(1);
    return session->makeDirectory(absolute);
}

bool FtpDeleteFileA(HINTERNET hConnect, const QString& fileName) {
    FtpSession* session = idleSession(hConnect);
    const auto path = remoteBytes(fileName);
    if (!session || !path || path->isEmpty())
        return false;
    return session->deleteFile(session->absolutePath(*path));
}

bool FtpFileExists(HINTERNET hConnect, const QString& path) {
    FtpSession* session = idleSession(hConnect);
    const auto bytes = remoteBytes(path);
    if (!session || !bytes || bytes->isEmpty())
        return true;
    return session->fileExists(session->absolutePath(*bytes));
}

bool InternetCloseHandle(HINTERNET handle) {
    if (handle == 0 || !isOpen(handle))
        return false;
    return closeTree(handle, true);
}

quint32 GetLastError() {
    return lastError;
}
