#pragma once

#include <QMetaType>
#include <QString>

namespace sendova {

// Where one share run stands. success carries the link, error the message
// shown as is; the other steps carry nothing.
class ShareState
{
public:
    enum class Kind { success, error, idle, loading, hashing, uploading };

    ShareState() = default;

    static ShareState success(QString url) { return ShareState(Kind::success, std::move(url)); }
    static ShareState error(QString message) { return ShareState(Kind::error, std::move(message)); }
    static ShareState idle() { return ShareState(Kind::idle); }
    static ShareState loading() { return ShareState(Kind::loading); }
    static ShareState hashing() { return ShareState(Kind::hashing); }
    static ShareState uploading() { return ShareState(Kind::uploading); }

    Kind kind() const { return m_kind; }
    // The link for success, the message for error, empty otherwise.
    QString text() const { return m_text; }
    // The run is over: nothing moves the state on from here.
    bool isFinal() const { return m_kind == Kind::success || m_kind == Kind::error; }

    bool operator==(const ShareState &other) const
    {
        return m_kind == other.m_kind && (!isFinal() || m_text == other.m_text);
    }

private:
    explicit ShareState(Kind kind, QString text = QString()) : m_kind(kind), m_text(std::move(text)) {}

    Kind m_kind = Kind::idle;
    QString m_text;
};

} // namespace sendova

Q_DECLARE_METATYPE(sendova::ShareState)
