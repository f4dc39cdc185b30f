#pragma once

#include "share/ShareRecords.h"
#include "share/ShareState.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <QCoroTask>

#include <functional>
#include <optional>

namespace sendova {

// Upload speed over windows of at least half a second: a reading taken
// sooner than that after the last one is ignored, so the figure does not
// jitter with every block libcurl hands over.
class ShareSpeedMeter
{
public:
    static constexpr double window = 0.5;

    // now and every later time in seconds on one monotonic scale.
    void start(double now);
    // The speed over the window that ends at now, or nothing while the
    // window is shorter than half a second.
    std::optional<double> update(qint64 totalSent, double now);

private:
    double m_lastTime = 0;
    qint64 m_lastBytes = 0;
};

// The share program's engine: reads the main program's settings and key,
// hashes the one shared file, asks the server for a stored copy when the
// user wants that, uploads otherwise, and publishes where it stands.
// Lives on the main thread; every field is written there.
class ShareViewModel : public QObject
{
    Q_OBJECT

public:
    // Seconds on a monotonic scale; replaceable so that the speed meter can
    // be checked against exact times.
    using Clock = std::function<double()>;
    using Callback = std::function<void()>;

    explicit ShareViewModel(QObject *parent = nullptr);

    ShareState state() const { return m_state; }
    double hashProgress() const { return m_hashProgress; }
    double uploadProgress() const { return m_uploadProgress; }
    double uploadSpeed() const { return m_uploadSpeed; }
    std::optional<QString> fileName() const { return m_fileName; }
    std::optional<QString> resultURL() const { return m_resultURL; }
    // Whether the link is on the clipboard: the run put it there (a stored
    // copy's always, an upload's when automatic copy is on) or copyURL() did.
    bool linkCopied() const { return m_linkCopied; }
    // Files shared along with the one this run uploads, which it leaves out.
    int filesLeftOut() const { return m_filesLeftOut; }

    // Written by the upload flow; public so that the view can be shown in
    // any state.
    void setState(const ShareState &state);
    void setHashProgress(double value);
    void setUploadProgress(double value);
    void setUploadSpeed(double value);
    void setFileName(const QString &name);
    void setFilesLeftOut(int count);
    void setLinkCopied(bool copied);

    // Installed by the host; the view's buttons call them.
    void setOnCancel(Callback callback) { m_onCancel = std::move(callback); }
    void setOnComplete(Callback callback) { m_onComplete = std::move(callback); }
    void cancel();
    void complete();

    void setClock(Clock clock) { m_clock = std::move(clock); }

    // One run for one local file; every outcome ends in state(), nothing is
    // thrown.
    QCoro::Task<> uploadFile(QUrl fileUrl);

    // Puts the link on the clipboard so that it stays there after this
    // program exits; does nothing before there is a link.
    void copyURL();

    // Decimal units: 1 kB is 1000 bytes.
    static QString formatSpeed(double bytesPerSecond);

    // The text of the not-configured failure, and the others that are
    // fixed rather than looked up in the string tables.
    static QString notConfiguredText();
    static QString unknownErrorText();
    static QString invalidURLText();

    // config.json of the main program with the keychain's key laid over it;
    // nothing when the file cannot be read or lacks one of its six members.
    static std::optional<ShareAppConfig> loadShareConfig();

Q_SIGNALS:
    // Emitted on every assignment of one of the observed fields.
    void changed();
    void stateChanged(const sendova::ShareState &state);

private:
    QCoro::Task<QString> calculateHash(QUrl fileUrl);
    QCoro::Task<std::optional<QString>> checkDuplicate(QString hash, QString serverUrl, QString apiKey);
    QCoro::Task<ShareUploadResult> performUpload(QUrl fileUrl, QString hash, QString serverUrl,
                                                 QString apiKey);

    void recordBodySent(qint64 totalSent, qint64 totalExpected);
    void putOnClipboard(const QString &text);

    ShareState m_state;
    double m_hashProgress = 0;
    double m_uploadProgress = 0;
    double m_uploadSpeed = 0;
    std::optional<QString> m_fileName;
    Callback m_onCancel;
    Callback m_onComplete;
    std::optional<QString> m_resultURL;
    bool m_linkCopied = false;
    int m_filesLeftOut = 0;
    Clock m_clock;
    ShareSpeedMeter m_speedMeter;
};

} // namespace sendova
