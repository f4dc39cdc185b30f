#include "share/ShareViewController.h"

#include "config/ConfigService.h"
#include "net/FileError.h"
#include "share/ShareView.h"
#include "share/ShareViewModel.h"
#include "support/Language.h"
#include "support/LocalizationService.h"
#include "support/ShownText.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace sendova {

namespace {

QString localizedText(const char *key)
{
    return LocalizationService::shared().localized(key);
}

bool hasURLScheme(const QString &argument)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    return scheme.match(argument).hasMatch();
}

// The bytes read as one URL, as a dropped or piped file reference is: one
// absolute file:// URL, surrounding blank space aside. Anything else is
// content, not a reference to a file.
std::optional<QUrl> fileURLFromBytes(const QByteArray &bytes)
{
    const QByteArray trimmed = bytes.trimmed();
    if (trimmed.isEmpty() || trimmed.contains('\n') || trimmed.contains('\0'))
        return std::nullopt;
    const QUrl url = QUrl::fromEncoded(trimmed, QUrl::StrictMode);
    if (!url.isValid() || !url.isLocalFile() || url.path().isEmpty())
        return std::nullopt;
    return url;
}

} // namespace

QString ShareCancellation::text() const
{
    return QStringLiteral("%1 (code %2): %3").arg(domain, QString::number(code), description);
}

ShareViewController::ShareViewController(QStringList arguments, QObject *parent)
    : QObject(parent), m_context(itemsFromArguments(arguments)), m_viewModel(new ShareViewModel(this))
{}

ShareViewController::~ShareViewController() = default;

QList<ShareItem> ShareViewController::itemsFromArguments(const QStringList &arguments)
{
    QList<ShareItem> items;
    for (const QString &argument : arguments) {
        ShareAttachment attachment{ShareAttachment::Type::none, argument};
        if (argument == QLatin1String("-")) {
            attachment.type = ShareAttachment::Type::data;
        } else if (argument.isEmpty()) {
            // Names nothing.
        } else if (QFileInfo::exists(argument)) {
            // Checked before the scheme: "notes:today.txt" may well be a file.
            attachment.type = ShareAttachment::Type::fileURL;
        } else if (hasURLScheme(argument)) {
            if (argument.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
                attachment.type = ShareAttachment::Type::fileURL;
        } else {
            // A path to nothing is still a path: the upload reports why it
            // cannot be read.
            attachment.type = ShareAttachment::Type::fileURL;
        }
        items.append(ShareItem{{attachment}});
    }
    return items;
}

ShareCancellation ShareViewController::cancellationError()
{
    return {QStringLiteral("com.sendova.share"), -1, localizedText("share.error.cancelled_by_user")};
}

void ShareViewController::loadView()
{
    m_view = std::make_unique<ShareView>(m_viewModel);
    // The window manager places the window; only its size is ours.
    m_view->resize(ShareView::panelWidth, ShareView::panelHeight);
    m_view->installEventFilter(this);

    const QPointer<ShareViewController> self(this);
    m_viewModel->setOnCancel([self] {
        if (self)
            self->cancelRequest();
    });
    m_viewModel->setOnComplete([self] {
        if (self)
            self->completeRequest();
    });
    processInputItems();
}

void ShareViewController::viewDidLoad()
{
    const AppConfig config = ConfigService::shared().loadConfig();
    LocalizationService::shared().setLanguage(
        languageFromCode(config.languageCode).value_or(Language::english));
}

int ShareViewController::exec(FILE *errorStream)
{
    const QMetaObject::Connection completed =
        connect(this, &ShareViewController::requestCompleted, this, [] { QCoreApplication::exit(0); });
    const QMetaObject::Connection cancelled = connect(
        this, &ShareViewController::requestCancelled, this, [errorStream](const ShareCancellation &error) {
            std::fprintf(errorStream, "%s\n", error.text().toLocal8Bit().constData());
            std::fflush(errorStream);
            QCoreApplication::exit(1);
        });
    loadView();
    viewDidLoad();
    m_view->show();
    const int status = QCoreApplication::exec();
    disconnect(completed);
    disconnect(cancelled);
    return status;
}

void ShareViewController::processInputItems()
{
    if (!m_context) {
        m_viewModel->setState(ShareState::error(localizedText("share.error.no_files_received")));
        return;
    }
    // One file per run: the others of a file manager's selection are
    // counted, so that the window can say they were not sent.
    int usable = 0;
    for (const ShareItem &item : std::as_const(*m_context)) {
        for (const ShareAttachment &attachment : item.attachments)
            usable += attachment.type != ShareAttachment::Type::none;
    }
    if (usable > 1)
        m_viewModel->setFilesLeftOut(usable - 1);

    for (const ShareItem &item : std::as_const(*m_context)) {
        for (const ShareAttachment &attachment : item.attachments) {
            if (attachment.type == ShareAttachment::Type::fileURL) {
                loadFileURL(attachment);
                return;
            }
            if (attachment.type == ShareAttachment::Type::data) {
                loadData(attachment);
                return;
            }
        }
    }
    m_viewModel->setState(ShareState::error(localizedText("share.error.no_files_found")));
}

void ShareViewController::loadFileURL(ShareAttachment attachment)
{
    std::optional<QUrl> url;
    if (hasURLScheme(attachment.argument) && !QFileInfo::exists(attachment.argument)) {
        const QUrl parsed(attachment.argument, QUrl::StrictMode);
        if (parsed.isValid() && parsed.isLocalFile() && !parsed.path().isEmpty())
            url = parsed;
    } else {
        url = QUrl::fromLocalFile(QFileInfo(attachment.argument).absoluteFilePath());
    }
    // Delivered later, like any load: processInputItems returns first and
    // the language is chosen before the handler looks a text up.
    QMetaObject::invokeMethod(
        this, [this, url] { fileURLLoaded(url); }, Qt::QueuedConnection);
}

void ShareViewController::fileURLLoaded(std::optional<QUrl> url)
{
    if (url)
        startUpload(*url);
    else
        m_viewModel->setState(ShareState::error(localizedText("share.error.could_not_get_file")));
}

void ShareViewController::loadData(ShareAttachment)
{
    // Standard input is read as it arrives, on this thread: a reader thread
    // blocked on a terminal would keep the program from exiting.
    if (::fcntl(STDIN_FILENO, F_GETFD) < 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        QMetaObject::invokeMethod(
            this, [this, reason] { finishStandardInput(reason); }, Qt::QueuedConnection);
        return;
    }
    m_standardInputNotifier = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    connect(m_standardInputNotifier.get(), &QSocketNotifier::activated, this,
            &ShareViewController::readStandardInput);
}

void ShareViewController::readStandardInput()
{
    char buffer[16 * 1024];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count < 0) {
        if (errno == EINTR || errno == EAGAIN)
            return;
        finishStandardInput(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    if (count == 0) {
        finishStandardInput(std::nullopt);
        return;
    }
    m_standardInput.append(buffer, count);
    // Longer than any file reference: it is content, and content is never
    // uploaded from here, so there is no point reading the rest.
    if (m_standardInput.size() > standardInputLimit)
        finishStandardInput(std::nullopt);
}

void ShareViewController::finishStandardInput(std::optional<QString> failure)
{
    if (m_standardInputNotifier) {
        m_standardInputNotifier->setEnabled(false);
        m_standardInputNotifier.reset();
    }
    if (failure) {
        dataLoaded(std::nullopt, failure);
        return;
    }
    const QByteArray bytes = std::exchange(m_standardInput, QByteArray());
    dataLoaded(bytes.size() > standardInputLimit ? std::nullopt : fileURLFromBytes(bytes), std::nullopt);
}

void ShareViewController::dataLoaded(std::optional<QUrl> url, std::optional<QString> failure)
{
    if (failure)
        m_viewModel->setState(ShareState::error(*failure));
    else if (url)
        startUpload(*url);
    else
        m_viewModel->setState(ShareState::error(localizedText("share.error.unsupported_file_type")));
}

void ShareViewController::startUpload(const QUrl &url)
{
    // A pipe would hold the window at "Preparing file…" for as long as
    // nothing writes to it; like a folder or a device, it is refused before
    // anything is read. The window names the file, not its folders, which
    // could take more lines than it has.
    const QString path = url.toLocalFile();
    if (const std::optional<FileError> refusal = notRegularFile(path)) {
        m_viewModel->setState(ShareState::error(shownText(refusal->description())));
        return;
    }
    // The task runs on by itself; its outcome is the model's state.
    m_viewModel->uploadFile(url);
}

void ShareViewController::cancelRequest()
{
    if (!m_context)
        return;
    m_context.reset();
    Q_EMIT requestCancelled(cancellationError());
}

void ShareViewController::completeRequest()
{
    if (!m_context)
        return;
    m_context.reset();
    Q_EMIT requestCompleted();
}

bool ShareViewController::eventFilter(QObject *watched, QEvent *event)
{
    // Closing the window after a success is how most users leave it, and a
    // file manager would read a cancellation as a failed share; before a
    // success, it is the user walking away from the request.
    if (watched == m_view.get() && event->type() == QEvent::Close) {
        if (m_viewModel->state().kind() == ShareState::Kind::success)
            completeRequest();
        else
            cancelRequest();
    }
    return QObject::eventFilter(watched, event);
}

} // namespace sendova
