#pragma once

#include "share/ShareViewModel.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdio>
#include <memory>
#include <optional>

namespace sendova {

class ShareView;

// One thing offered on the command line: the argument and the kind of
// content it offers. Each argument is one item with one attachment.
struct ShareAttachment
{
    enum class Type {
        fileURL, // a local path or a file:// URL
        data,    // "-": standard input
        none,    // anything else; the search passes over it
    };

    Type type = Type::none;
    QString argument;

    bool operator==(const ShareAttachment &) const = default;
};

struct ShareItem
{
    QList<ShareAttachment> attachments;

    bool operator==(const ShareItem &) const = default;
};

// How the request ended when it did not complete.
struct ShareCancellation
{
    QString domain;
    int code = 0;
    QString description;

    // The line the program writes to standard error.
    QString text() const;
};

// The share program's host: turns the command line into shared items, picks
// the first one it can load as a file URL, runs the upload flow in the
// window, and ends the request when the window's button (or closing the
// window) asks for it. It never ends the request by itself.
class ShareViewController : public QObject
{
    Q_OBJECT

public:
    static constexpr int standardInputLimit = 64 * 1024;

    explicit ShareViewController(QStringList arguments, QObject *parent = nullptr);
    ~ShareViewController() override;

    static QList<ShareItem> itemsFromArguments(const QStringList &arguments);
    static ShareCancellation cancellationError();

    ShareViewModel *viewModel() const { return m_viewModel; }
    ShareView *view() const { return m_view.get(); }

    // The steps the program runs at start, in this order.
    void loadView();
    void viewDidLoad();

    // The whole run: loads the view, applies the language, shows the window
    // and returns the exit status once the request has ended (0 completed,
    // 1 cancelled, after writing the cancellation to errorStream).
    int exec(FILE *errorStream = stderr);

    void processInputItems();
    // Both end the request once; later calls do nothing.
    void cancelRequest();
    void completeRequest();

Q_SIGNALS:
    void requestCompleted();
    void requestCancelled(const sendova::ShareCancellation &error);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void loadFileURL(ShareAttachment attachment);
    void loadData(ShareAttachment attachment);
    void readStandardInput();
    void finishStandardInput(std::optional<QString> failure);
    void fileURLLoaded(std::optional<QUrl> url);
    void dataLoaded(std::optional<QUrl> url, std::optional<QString> failure);
    void startUpload(const QUrl &url);

    // The shared items while the request is open; nothing once it has ended.
    std::optional<QList<ShareItem>> m_context;
    QPointer<ShareViewModel> m_viewModel;
    std::unique_ptr<ShareView> m_view;
    std::unique_ptr<QSocketNotifier> m_standardInputNotifier;
    QByteArray m_standardInput;
};

} // namespace sendova

Q_DECLARE_METATYPE(sendova::ShareCancellation)
