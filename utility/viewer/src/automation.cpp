#include "automation.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace orvo::viewer {

Automation::Automation(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(bus) {}

Automation::~Automation() {
    if (registered_) {
        bus_.unregisterObject(QString::fromLatin1(kAutomationPath));
        bus_.unregisterService(QString::fromLatin1(kAutomationService));
    }
}

bool Automation::Register(QString* error) {
    if (!bus_.isConnected()) {
        if (error) *error = QStringLiteral("no D-Bus session bus: ") + bus_.lastError().message();
        return false;
    }
    if (!bus_.registerObject(QString::fromLatin1(kAutomationPath), this,
                             QDBusConnection::ExportAllSlots)) {
        if (error) *error = QStringLiteral("cannot register the automation object");
        return false;
    }
    if (!bus_.registerService(QString::fromLatin1(kAutomationService))) {
        bus_.unregisterObject(QString::fromLatin1(kAutomationPath));
        if (error) {
            *error = QStringLiteral("cannot own the name %1: %2")
                         .arg(QString::fromLatin1(kAutomationService), bus_.lastError().message());
        }
        return false;
    }
    registered_ = true;
    return true;
}

void Automation::Acquire() {
    const QString client = calledFromDBus() ? message().service() : QString();
    if (client.isEmpty()) return;
    if (!holder_.isEmpty()) {
        if (holder_ != client) {
            sendErrorReply(QStringLiteral("com.orvodata.OrvoViewer.Error.InUse"),
                           QStringLiteral("this program is held by another client"));
        }
        return;
    }
    holder_ = client;
    watcher_ =
        new QDBusServiceWatcher(client, bus_, QDBusServiceWatcher::WatchForUnregistration, this);
    connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this] { EndHold(); });
    // Used once: the next client that asks for the name gets a program of
    // its own.
    bus_.unregisterService(QString::fromLatin1(kAutomationService));
    emit holdChanged(true);
}

void Automation::Release() {
    const QString client = calledFromDBus() ? message().service() : QString();
    if (holder_.isEmpty() || client != holder_) {
        if (calledFromDBus()) {
            sendErrorReply(QStringLiteral("com.orvodata.OrvoViewer.Error.NotHeld"),
                           QStringLiteral("this client does not hold the program"));
        }
        return;
    }
    EndHold();
}

void Automation::EndHold() {
    if (holder_.isEmpty()) return;
    holder_.clear();
    if (watcher_) {
        watcher_->deleteLater();
        watcher_ = nullptr;
    }
    emit holdChanged(false);
}

QString ActivationFilePath() {
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty()) dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    return dataHome + QStringLiteral("/dbus-1/services/") +
           QString::fromLatin1(kAutomationService) + QStringLiteral(".service");
}

namespace {

QByteArray ActivationFileContent(const QString& program) {
    // D-Bus splits Exec like a shell: a path with blanks is quoted.
    QString exec = program;
    if (exec.contains(QLatin1Char(' '))) exec = QLatin1Char('"') + exec + QLatin1Char('"');
    return QStringLiteral("[D-BUS Service]\nName=%1\nExec=%2 -Automation\n")
        .arg(QString::fromLatin1(kAutomationService), exec)
        .toUtf8();
}

}  // namespace

void RemoveActivationFile(const QString& program) {
    QFile existing(ActivationFilePath());
    if (!existing.open(QIODevice::ReadOnly)) return;
    const bool ours = existing.read(4096) == ActivationFileContent(program);
    existing.close();
    if (ours) existing.remove();
}

bool InstallActivationFile(const QString& program, QString* error) {
    const QByteArray content = ActivationFileContent(program);
    const QString path = ActivationFilePath();
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == content) return true;
    existing.close();
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        if (error) *error = QStringLiteral("cannot create ") + QFileInfo(path).absolutePath();
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() ||
        !file.commit()) {
        if (error) *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}

}  // namespace orvo::viewer
