// The program's automation object on the D-Bus session bus. Started with
// -Automation or -Embedding, the program registers the object
// /Application with the interface com.orvodata.OrvoViewer.Application and
// owns the name com.orvodata.OrvoViewer. A client that calls Acquire holds
// the program: while it does, EXIT, Escape and the close button only hide the
// window. The hold ends with Release or when the client leaves the bus. Once
// acquired, the instance gives up the well-known name, so that the next
// client's request starts a program of its own.
//
// Started without the switch from a build, the program installs a D-Bus
// activation file for itself in the user's data directory, so that a
// client's request for the name starts it. Installed, the package's file in
// /usr/share/dbus-1/services does that, and nothing is written in the home.
#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>

class QDBusServiceWatcher;

namespace orvo::viewer {

inline constexpr char kAutomationService[] = "com.orvodata.OrvoViewer";
inline constexpr char kAutomationPath[] = "/Application";
inline constexpr char kAutomationInterface[] = "com.orvodata.OrvoViewer.Application";

class Automation : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.orvodata.OrvoViewer.Application")

  public:
    explicit Automation(QDBusConnection bus, QObject* parent = nullptr);
    ~Automation() override;

    // Registers the object and the name; false with the reason otherwise.
    bool Register(QString* error);
    bool held() const { return !holder_.isEmpty(); }
    QString holder() const { return holder_; }

  public slots:
    // D-Bus methods (no arguments, no result).
    void Acquire();
    void Release();

  signals:
    void holdChanged(bool held);

  private:
    void EndHold();

    QDBusConnection bus_;
    QString holder_;  // unique bus name of the client that holds the program
    QDBusServiceWatcher* watcher_ = nullptr;
    bool registered_ = false;
};

// Writes <data dir>/dbus-1/services/com.orvodata.OrvoViewer.service naming
// `program` (absolute path) with -Automation, unless it already says so.
// False with the reason when it cannot be written.
bool InstallActivationFile(const QString& program, QString* error);
// Where that file goes ($XDG_DATA_HOME, else ~/.local/share).
QString ActivationFilePath();
// Removes that file when it is what InstallActivationFile writes for
// `program` (as earlier versions of the installed program left it).
void RemoveActivationFile(const QString& program);

}  // namespace orvo::viewer
