// The automation object on a real session bus (the test runs under
// dbus-run-session; without a bus it is skipped with a message): a client's
// hold, EXIT and close while held, the hold ending on Release or when the
// client leaves the bus, a second client, the activation file, and the
// program started by the bus itself.
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <csignal>

#include "automation.h"
#include "orvo/testing/qt_test_main.h"
#include "viewer_fixture.h"

using namespace orvo::viewer;

namespace {

QDBusMessage Call(const QString& service, const char* method) {
    return QDBusMessage::createMethodCall(service, QString::fromLatin1(kAutomationPath),
                                          QString::fromLatin1(kAutomationInterface),
                                          QString::fromLatin1(method));
}

// Calls without blocking this thread, which also serves the object.
QDBusMessage Await(QDBusConnection& client, const QDBusMessage& call) {
    QDBusPendingCall pending = client.asyncCall(call, 20000);
    QDeadlineTimer deadline(25000);
    while (!pending.isFinished() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    pending.waitForFinished();
    return pending.reply();
}

// Whether the process `pid` runs (an ended one its parent has not reaped yet
// does not).
bool Running(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return false;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close >= 0 && text.mid(close + 2, 1) != "Z";
}

}  // namespace

class AutomationTest : public QObject {
    Q_OBJECT

  private:
    fixture::CountingDriver driver_;
    fixture::Messages messages_;
    int clients_ = 0;

    QDBusConnection NewClient() {
        return QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                             QStringLiteral("client%1").arg(++clients_));
    }
    static QString Self() { return QDBusConnection::sessionBus().baseService(); }
    static bool NameOwned() {
        return QDBusConnection::sessionBus().interface()->isServiceRegistered(
            QString::fromLatin1(kAutomationService));
    }

  private slots:
    void initTestCase() {
        if (!QDBusConnection::sessionBus().isConnected()) {
            QSKIP("no D-Bus session bus; run this test under dbus-run-session (package dbus)");
        }
        fixture::UseVirtualScanner(e2e::ChequeIni("Check", 1, 0, 0));
        orvo::sim::TheScanner().SetScenario(e2e::FastScenario(1));
        messages_.Install();
    }

    void holdReleaseAndExit() {
        MainDialog dialog(driver_);
        dialog.InitDialog();
        dialog.show();
        Automation automation(QDBusConnection::sessionBus());
        QString error;
        QVERIFY2(automation.Register(&error), qPrintable(error));
        connect(&automation, &Automation::holdChanged, &dialog, &MainDialog::SetAutomationHold);
        QVERIFY(NameOwned());

        QDBusConnection client = NewClient();
        QDBusMessage reply =
            Await(client, Call(QString::fromLatin1(kAutomationService), "Acquire"));
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QVERIFY(automation.held());
        QCOMPARE(automation.holder(), client.baseService());
        QVERIFY(dialog.automationHeld());
        // Used once: the name is free for the next client's own program.
        QVERIFY(!NameOwned());

        // A second client is refused while the first holds the program.
        QDBusConnection other = NewClient();
        reply = Await(other, Call(Self(), "Acquire"));
        QCOMPARE(reply.type(), QDBusMessage::ErrorMessage);
        QCOMPARE(reply.errorName(), QString("com.orvodata.OrvoViewer.Error.InUse"));
        reply = Await(other, Call(Self(), "Release"));
        QCOMPARE(reply.type(), QDBusMessage::ErrorMessage);
        QVERIFY(automation.held());

        // EXIT only hides the window while it is held.
        QSignalSpy finished(&dialog, &QDialog::finished);
        fixture::Click(&dialog, id::kExit);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(finished.count(), 0);
        reply = Await(client, Call(Self(), "Release"));
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QVERIFY(!automation.held());
        // ... and the program ends when the client lets go.
        QCOMPARE(finished.count(), 1);
        QCOMPARE(fixture::g_endCalls, 0);
        QDBusConnection::disconnectFromBus(client.name());
        QDBusConnection::disconnectFromBus(other.name());
    }

    void clientLeavingTheBusEndsTheHold() {
        MainDialog dialog(driver_);
        dialog.InitDialog();
        dialog.show();
        Automation automation(QDBusConnection::sessionBus());
        QString error;
        QVERIFY2(automation.Register(&error), qPrintable(error));
        connect(&automation, &Automation::holdChanged, &dialog, &MainDialog::SetAutomationHold);
        QString clientName;
        {
            QDBusConnection client = NewClient();
            clientName = client.name();
            QCOMPARE(Await(client, Call(Self(), "Acquire")).type(), QDBusMessage::ReplyMessage);
        }
        QVERIFY(automation.held());
        // The close button while held: the driver is ended, the window hides.
        fixture::g_endCalls = 0;
        dialog.close();
        QVERIFY(!dialog.isVisible());
        QCOMPARE(fixture::g_endCalls, 1);
        QSignalSpy finished(&dialog, &QDialog::finished);
        // The client's connection closes (its last reference is gone).
        QDBusConnection::disconnectFromBus(clientName);
        QTRY_VERIFY_WITH_TIMEOUT(!automation.held(), 20000);
        QCOMPARE(finished.count(), 1);
    }

    void withoutABusThereIsNoAutomation() {
        QDBusConnection none =
            QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), "none");
        Automation automation(none);
        QString error;
        QVERIFY(!automation.Register(&error));
        QVERIFY2(error.contains("no D-Bus session bus"), qPrintable(error));
    }

    void activationFile() {
        const QString program = QStringLiteral(ORVO_VIEWER);
        QString error;
        QVERIFY2(InstallActivationFile(program, &error), qPrintable(error));
        const QByteArray content = fixture::ReadFile(ActivationFilePath());
        QCOMPARE(content, QByteArray("[D-BUS Service]\nName=com.orvodata.OrvoViewer\nExec=") +
                              program.toUtf8() + " -Automation\n");
        QVERIFY(ActivationFilePath().startsWith(qEnvironmentVariable("XDG_DATA_HOME")));
    }

    void theBusStartsTheProgram() {
        // The activation file written above names the real program; asking
        // for the name makes the bus start it with -Automation.
        QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
        // The bus reads its service directories again.
        QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                           "org.freedesktop.DBus", "ReloadConfig"));
        if (!bus->activatableServiceNames().value().contains(kAutomationService)) {
            QSKIP("this session bus does not offer activation from the user's data directory");
        }
        // The bus starts the program for the name; its unique name is the
        // name's owner (asked of the bus: replies need not carry a sender).
        const QString service = QString::fromLatin1(kAutomationService);
        QVERIFY(bus->startService(service).isValid());
        const QString owner = bus->serviceOwner(service).value();
        QVERIFY(!owner.isEmpty());
        const uint pid = bus->servicePid(owner).value();
        QVERIFY(pid > 0);
        QDBusConnection client = NewClient();
        QCOMPARE(Await(client, Call(owner, "Acquire")).type(), QDBusMessage::ReplyMessage);
        QCOMPARE(Await(client, Call(owner, "Release")).type(), QDBusMessage::ReplyMessage);
        // The started program is ours to end, and it ends.
        ::kill(static_cast<pid_t>(pid), SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(!Running(static_cast<pid_t>(pid)), 20000);
        QDBusConnection::disconnectFromBus(client.name());
    }
};

ORVO_QT_TEST(AutomationTest);
#include "automation_test.moc"
