#pragma once

#include <QString>

#include <variant>

namespace sendova {

// The step the current upload is in, with what that step carries.
class UploadState
{
public:
    enum class Case { idle, hashing, checkingDuplicate, uploading, completed, failed };

    struct Idle
    {
        bool operator==(const Idle &) const = default;
    };
    struct Hashing
    {
        double progress = 0.0;
        bool operator==(const Hashing &) const = default;
    };
    struct CheckingDuplicate
    {
        bool operator==(const CheckingDuplicate &) const = default;
    };
    struct Uploading
    {
        bool operator==(const Uploading &) const = default;
    };
    struct Completed
    {
        QString url;
        bool isDuplicate = false;
        bool operator==(const Completed &) const = default;
    };
    struct Failed
    {
        QString message;
        bool operator==(const Failed &) const = default;
    };
    using Value = std::variant<Idle, Hashing, CheckingDuplicate, Uploading, Completed, Failed>;

    UploadState() = default;

    static UploadState idle() { return UploadState(Idle{}); }
    static UploadState hashing(double progress) { return UploadState(Hashing{progress}); }
    static UploadState checkingDuplicate() { return UploadState(CheckingDuplicate{}); }
    static UploadState uploading() { return UploadState(Uploading{}); }
    static UploadState completed(QString url, bool isDuplicate)
    {
        return UploadState(Completed{std::move(url), isDuplicate});
    }
    static UploadState failed(QString message) { return UploadState(Failed{std::move(message)}); }

    Case stateCase() const { return Case(m_value.index()); }
    const Value &value() const { return m_value; }
    // The payload when the state is of that case, else nullptr.
    template<typename T>
    const T *get() const
    {
        return std::get_if<T>(&m_value);
    }

    bool operator==(const UploadState &) const = default;

private:
    explicit UploadState(Value value) : m_value(std::move(value)) {}

    Value m_value;
};

// The one upload the application is busy with. The default value is the
// resting one: idle, no file, nothing sent.
struct UploadProgress
{
    UploadState state;
    QString fileName;
    qint64 fileSize = 0;
    qint64 bytesUploaded = 0; // request-body bytes, multipart framing included
    double speed = 0.0;       // bytes per second

    bool operator==(const UploadProgress &) const = default;

    // Truncated, and above 100 for the framing's last bytes.
    int percentage() const;
    // "512 B/s", "1.5 KB/s", "3.2 MB/s".
    QString speedText() const;
    // "--:--" without a speed, else "<n> <localized unit>"; negative when the
    // framing has carried bytesUploaded past fileSize.
    QString timeRemainingText() const;
};

} // namespace sendova
