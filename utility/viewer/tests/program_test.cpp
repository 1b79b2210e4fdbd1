// The orvo_viewer program as a process: its help, a clear failure without a
// display, a wrong argument, automation without a session bus, and the
// activation file it installs when started by the operator.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include "orvo/testing/qt_test_main.h"

class ProgramTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir dir_;

    // The program on the virtual scanner with a private temporary directory.
    QProcessEnvironment Env() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ORVOSCAN_ASPI", "sim");
        env.insert("TMPDIR", dir_.path());
        env.insert("XDG_DATA_HOME", dir_.path() + "/data");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        return env;
    }

    struct Run {
        int code = -1;
        QString out;
        QString err;
    };

    static Run Finish(QProcess& p) {
        Run r;
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished();
        }
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
        r.err = QString::fromLocal8Bit(p.readAllStandardError());
        return r;
    }

    static Run Start(const QProcessEnvironment& env, const QStringList& args) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(ORVO_VIEWER), args);
        return Finish(p);
    }

  private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void help() {
        const Run r = Start(Env(), {"--help"});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.startsWith("Usage: orvo_viewer"));
        QVERIFY(r.out.contains("-Automation"));
    }

    void noDisplayIsAClearFailure() {
        QProcessEnvironment env = Env();
        env.remove("QT_QPA_PLATFORM");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        const Run r = Start(env, {});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("no display"), qPrintable(r.err));
    }

    void unreachableDisplayIsAClearFailure() {
        QProcessEnvironment env = Env();
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("DISPLAY", ":97");
        env.remove("WAYLAND_DISPLAY");
        const Run r = Start(env, {});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("cannot start the window system"), qPrintable(r.err));
    }

    void unknownArgument() {
        const Run r = Start(Env(), {"--frobnicate"});
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains("unknown argument '--frobnicate'"), qPrintable(r.err));
    }

    void automationWithoutABus() {
        QProcessEnvironment env = Env();
        env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir_.path() + "/no-bus");
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(ORVO_VIEWER), {"/Automation"});
        QVERIFY(p.waitForStarted());
        QByteArray err;
        QDeadlineTimer deadline(60000);
        while (!err.contains("running without automation") && !deadline.hasExpired() &&
               p.state() == QProcess::Running) {
            p.waitForReadyRead(200);
            err += p.readAllStandardError();
        }
        // Still running: the window is up without automation.
        QCOMPARE(p.state(), QProcess::Running);
        p.kill();
        p.waitForFinished();
        QVERIFY2(err.contains("running without automation"), err.constData());
    }

    void installsItsActivationFile() {
        const QString file = dir_.path() + "/data/dbus-1/services/com.orvodata.OrvoViewer.service";
        QFile::remove(file);
        QProcess p;
        p.setProcessEnvironment(Env());
        p.start(QStringLiteral(ORVO_VIEWER), {});
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(file), 60000);
        p.kill();
        p.waitForFinished();
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(),
                 QByteArray("[D-BUS Service]\nName=com.orvodata.OrvoViewer\nExec=" ORVO_VIEWER
                            " -Automation\n"));
    }

    void installedItWritesNothingInTheHome() {
        // Anywhere but in the build's own directory (installed: /usr/bin) the
        // package's activation file serves; one an earlier version left in the
        // home for this very program goes.
        const QString program = dir_.path() + "/bin/orvo_viewer";
        QVERIFY(QDir().mkpath(dir_.path() + "/bin") &&
                QFile::copy(QStringLiteral(ORVO_VIEWER), program));
        const QString file = dir_.path() + "/data/dbus-1/services/com.orvodata.OrvoViewer.service";
        QFile stale(file);
        QVERIFY(QDir().mkpath(QFileInfo(file).path()) && stale.open(QIODevice::WriteOnly));
        stale.write("[D-BUS Service]\nName=com.orvodata.OrvoViewer\nExec=" + program.toUtf8() +
                    " -Automation\n");
        stale.close();
        QProcessEnvironment env = Env();
        env.insert("LD_LIBRARY_PATH", QFileInfo(QStringLiteral(ORVO_VIEWER)).path());
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(program, {});
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(file), 60000);
        p.kill();
        p.waitForFinished();
        QVERIFY(!QFile::exists(file));
    }
};

ORVO_QT_TEST(ProgramTest);
#include "program_test.moc"
