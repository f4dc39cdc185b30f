#include "platform/AutostartEntry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace sendova {

namespace {

// The Exec key's program, the tray program itself rather than `sendova`,
// which would only execute it: the bare name when the login session's PATH
// finds it, otherwise the absolute path of the one beside the running
// program (installed under a prefix that PATH leaves out, such as
// ~/.local/bin on many systems), quoted as desktop entries require.
QByteArray execProgram()
{
    const QString name = QStringLiteral("sendova-tray");
    if (!QStandardPaths::findExecutable(name).isEmpty() || !QCoreApplication::instance())
        return name.toUtf8();
    const QFileInfo program(QDir(QCoreApplication::applicationDirPath()).filePath(name));
    if (!program.isFile() || !program.isExecutable())
        return name.toUtf8();
    QByteArray quoted = program.absoluteFilePath().toUtf8();
    for (const char reserved : {'\\', '"', '`', '$'})
        quoted.replace(QByteArray(1, reserved), QByteArray("\\") + reserved);
    // The string-value escaping of the file format comes on top of Exec's own.
    quoted.replace("\\", "\\\\");
    return '"' + quoted + '"';
}

QString fileName()
{
    return QLatin1String("autostart/") + QLatin1String(AutostartEntry::applicationId) +
           QLatin1String(".desktop");
}

// The entries installed for every user ($XDG_CONFIG_DIRS), which a user's
// own entry of the same name overrides.
bool systemEntryExists()
{
    const QStringList folders = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    const QString own = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    for (const QString &folder : folders) {
        if (folder != own && QFileInfo::exists(QDir(folder).filePath(fileName())))
            return true;
    }
    return false;
}

// A desktop file's boolean, read the way the autostart rules read it.
bool flag(const QByteArray &contents, const char *key)
{
    for (const QByteArray &line : contents.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        const int equals = trimmed.indexOf('=');
        if (equals > 0 && trimmed.left(equals).trimmed() == key)
            return trimmed.mid(equals + 1).trimmed() == "true";
    }
    return false;
}

std::optional<AutostartEntry::Failure> write(const QString &path, const QByteArray &contents)
{
    const QString folder = QFileInfo(path).path();
    if (!QDir().mkpath(folder))
        return AutostartEntry::Failure{folder, QStringLiteral("the folder cannot be created")};
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size() || !file.commit())
        return AutostartEntry::Failure{path, file.errorString()};
    return std::nullopt;
}

} // namespace

QString AutostartEntry::path()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)).filePath(fileName());
}

QByteArray AutostartEntry::contents()
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Sendova\n"
           "Comment=Share files from the tray with a link\n"
           "Exec=" +
           execProgram() +
           "\n"
           "Icon=com.sendova.Sendova\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool AutostartEntry::isEnabled()
{
    QFile own(path());
    if (own.open(QIODevice::ReadOnly))
        return !flag(own.readAll(), "Hidden");
    return systemEntryExists();
}

std::optional<AutostartEntry::Failure> AutostartEntry::setEnabled(bool enabled)
{
    if (enabled)
        return write(path(), contents());
    if (systemEntryExists())
        return write(path(), contents() + "Hidden=true\n");
    QFile own(path());
    if (own.exists() && !own.remove())
        return Failure{path(), own.errorString()};
    return std::nullopt;
}

} // namespace sendova
