#include "core/PasswordStore.h"

#include "core/SettingsStore.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>

#include <qt6keychain/keychain.h>

#include <functional>
#include <memory>

namespace {

// The keyring's name for this program's entries; each entry's key names a
// server account.
const QString kService = QStringLiteral("Pellmor");
const QString kPasswordKey = QStringLiteral("Password");

struct Outcome {
    QKeychain::Error error = QKeychain::NoError;
    QString password;
};

// Lets events run until done() or the time is up. User input waits meanwhile:
// the window is not shown yet, or it is closing.
bool waitUntil(const std::function<bool()>& done, int ms) {
    const QDeadlineTimer deadline(ms);
    QTimer wake;
    wake.setSingleShot(true);
    while (!done()) {
        const qint64 left = deadline.remainingTime();
        if (left <= 0)
            return false;
        wake.start(int(left));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents |
                                        QEventLoop::ExcludeUserInputEvents);
    }
    return true;
}

// Runs the job and waits for it at most PasswordStore::kAnswerMs; nothing when
// the keyring did not answer in time. A job is never deleted before it ends,
// since the keyring's library still calls back into it: it deletes itself.
std::optional<Outcome> await(QKeychain::Job* job) {
    auto outcome = std::make_shared<std::optional<Outcome>>();
    QObject::connect(job, &QKeychain::Job::finished, [outcome](QKeychain::Job* ended) {
        const auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(ended);
        *outcome = Outcome{ended->error(), read ? read->textData() : QString()};
    });
    job->start();
    waitUntil([&] { return outcome->has_value(); }, PasswordStore::kAnswerMs);
    return *outcome;
}

QKeychain::ReadPasswordJob* readJob(const QString& key) {
    auto* job = new QKeychain::ReadPasswordJob(kService);
    job->setKey(key);
    return job;
}

QKeychain::WritePasswordJob* writeJob(const QString& key, const QString& password) {
    auto* job = new QKeychain::WritePasswordJob(kService);
    job->setKey(key);
    job->setTextData(password);
    return job;
}

// For throwaway settings (the demo, benchmarks, tests) and for users who
// want the password in the file.
bool keyringTurnedOff() {
    return qEnvironmentVariable("PELLMOR_NO_KEYRING") == QLatin1String("1");
}

bool answered(const std::optional<Outcome>& outcome) {
    return outcome &&
           (outcome->error == QKeychain::NoError || outcome->error == QKeychain::EntryNotFound);
}

} // namespace

PasswordStore::PasswordStore(const QString& appName, const QString& section, QObject* parent)
    : QObject(parent), appName_(appName), section_(section) {
    flightTimeout_.setSingleShot(true);
    connect(&flightTimeout_, &QTimer::timeout, this, &PasswordStore::fallBackToFile);
}

PasswordStore::~PasswordStore() = default;

void PasswordStore::open(const QString& storedKey) {
    asked_ = true;
    turnedOff_ = keyringTurnedOff();
    if (turnedOff_)
        return;
    if (HasSetting(appName_, section_, kPasswordKey)) {
        // What the file holds is the newest: typed where no keyring answered,
        // or by a version that kept every password there.
        const QString password = GetSetting(appName_, section_, kPasswordKey);
        const auto outcome = await(writeJob(storedKey, password));
        if (!outcome || outcome->error != QKeychain::NoError)
            return;
        RemoveSetting(appName_, section_, kPasswordKey);
        known_.insert(storedKey, password);
    } else {
        const auto outcome = await(readJob(storedKey));
        if (!answered(outcome))
            return;
        known_.insert(storedKey, outcome->error == QKeychain::NoError
                                     ? std::optional<QString>(outcome->password)
                                     : std::nullopt);
    }
    place_ = Place::Keyring;
}

QString PasswordStore::notice() const {
    if (!asked_ || place_ == Place::Keyring)
        return {};
    QString path = QDir::toNativeSeparators(SettingsFilePath(appName_));
    const QString home = QDir::toNativeSeparators(QDir::homePath());
    if (path.startsWith(home + QDir::separator()))
        path = QLatin1Char('~') + path.mid(home.size());
    if (turnedOff_)
        return QStringLiteral("PELLMOR_NO_KEYRING=1: the password is kept in %1, readable by you "
                              "only.")
            .arg(path);
    return QStringLiteral("No keyring answered; the password is kept in %1, readable by you only.")
        .arg(path);
}

QString PasswordStore::password(const QString& key) {
    if (place_ == Place::Keyring) {
        if (const auto k = known(key))
            return k->value_or(QString());
        const auto outcome = await(readJob(key));
        if (answered(outcome)) {
            const bool found = outcome->error == QKeychain::NoError;
            known_.insert(key, found ? std::optional<QString>(outcome->password) : std::nullopt);
            return found ? outcome->password : QString();
        }
        fallBackToFile();
    }
    return GetSetting(appName_, section_, kPasswordKey);
}

void PasswordStore::setPassword(const QString& key, const QString& password) {
    current_ = password;
    if (place_ == Place::File) {
        saveToFile(password);
        return;
    }
    if (Write* w = queued(key)) {
        w->password = password;
        w->onlyIfAbsent = false;
        return;
    }
    if (known(key) == std::optional<std::optional<QString>>(password))
        return;
    enqueue({key, password, false});
}

void PasswordStore::keepFor(const QString& key, const QString& password) {
    current_ = password;
    if (place_ == Place::File || password.isEmpty())
        return;
    if (Write* w = queued(key)) {
        w->password = password;
        return;
    }
    if (flying_ && flying_->key == key) {
        // Still asking whether the keyring holds one: the newest text goes
        // in if it does not.
        if (flying_->onlyIfAbsent)
            flying_->password = password;
        return;
    }
    const auto k = known_.constFind(key);
    if (k == known_.constEnd())
        enqueue({key, password, true});
    else if (!k.value())
        enqueue({key, password, false});
}

void PasswordStore::finishWrites() {
    if (place_ != Place::Keyring)
        return;
    if (!waitUntil([this] { return !flying_ && queue_.isEmpty(); }, 2 * kAnswerMs))
        fallBackToFile();
}

QString PasswordStore::lookUp(const QString& appName, const QString& section, const QString& key,
                              const QString& storedKey) {
    const bool fileHasIt = HasSetting(appName, section, kPasswordKey);
    if (!keyringTurnedOff() && !(fileHasIt && key == storedKey)) {
        const auto outcome = await(readJob(key));
        if (outcome && outcome->error == QKeychain::NoError)
            return outcome->password;
    }
    return GetSetting(appName, section, kPasswordKey);
}

std::optional<std::optional<QString>> PasswordStore::known(const QString& key) const {
    for (const Write& w : queue_) {
        if (w.key == key && !w.onlyIfAbsent)
            return std::optional<QString>(w.password);
    }
    if (flying_ && flying_->key == key && !flying_->onlyIfAbsent)
        return std::optional<QString>(flying_->password);
    const auto k = known_.constFind(key);
    if (k == known_.constEnd())
        return std::nullopt;
    return k.value();
}

PasswordStore::Write* PasswordStore::queued(const QString& key) {
    for (Write& w : queue_) {
        if (w.key == key)
            return &w;
    }
    return nullptr;
}

void PasswordStore::enqueue(const Write& write) {
    queue_.append(write);
    startNext();
}

void PasswordStore::startNext() {
    if (flying_ || queue_.isEmpty() || place_ != Place::Keyring)
        return;
    flying_ = queue_.takeFirst();
    ++generation_;
    flightTimeout_.start(kAnswerMs);
    if (flying_->onlyIfAbsent) {
        QKeychain::Job* job = readJob(flying_->key);
        connect(job, &QKeychain::Job::finished, this,
                [this, generation = generation_](QKeychain::Job* ended) {
                    finished(generation, ended);
                });
        job->start();
    } else {
        startWriteJob(*flying_);
    }
}

void PasswordStore::startWriteJob(const Write& write) {
    QKeychain::Job* job = writeJob(write.key, write.password);
    connect(
        job, &QKeychain::Job::finished, this,
        [this, generation = generation_](QKeychain::Job* ended) { finished(generation, ended); });
    job->start();
}

void PasswordStore::finished(quint64 generation, QKeychain::Job* job) {
    if (generation != generation_ || !flying_)
        return;
    const QKeychain::Error error = job->error();
    if (const auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(job)) {
        if (error == QKeychain::EntryNotFound) {
            flying_->onlyIfAbsent = false;
            flightTimeout_.start(kAnswerMs);
            startWriteJob(*flying_);
            return;
        }
        if (error != QKeychain::NoError) {
            fallBackToFile();
            return;
        }
        // Another server's password: it stays.
        known_.insert(flying_->key, read->textData());
    } else {
        if (error != QKeychain::NoError) {
            fallBackToFile();
            return;
        }
        known_.insert(flying_->key, flying_->password);
    }
    flying_.reset();
    flightTimeout_.stop();
    startNext();
}

void PasswordStore::fallBackToFile() {
    if (place_ == Place::File)
        return;
    place_ = Place::File;
    ++generation_;
    flying_.reset();
    queue_.clear();
    flightTimeout_.stop();
    // The keyring may have taken none of it: the box's text must survive.
    if (current_)
        saveToFile(*current_);
    emit movedToFile();
}

void PasswordStore::saveToFile(const QString& password) {
    SaveSetting(appName_, section_, kPasswordKey, password);
}
