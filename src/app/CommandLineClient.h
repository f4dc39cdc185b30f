#pragma once

#include <QObject>
#include <QStringList>

#include <QCoroTask>

#include <memory>

namespace sendova {

class AppViewModel;

// `sendova <command> …`: the same configuration, keychain, workflow and
// recent uploads as the tray program, without a display.
//
// Exit codes: 0 done, 1 failed, 2 not configured or wrong usage, 130
// interrupted.
class CommandLineClient : public QObject
{
    Q_OBJECT

public:
    enum ExitCode { success = 0, failure = 1, usage = 2, interrupted = 130 };

    // True when the arguments name a command of this client rather than
    // files or a link for the tray program.
    static bool handles(const QStringList &arguments);

    explicit CommandLineClient(QObject *parent = nullptr);
    ~CommandLineClient() override;

    // arguments without the program name.
    QCoro::Task<int> run(QStringList arguments);

    // Ctrl-C: stops the running upload as the cancel button would.
    void interrupt();

private:
    QCoro::Task<int> upload(QStringList arguments);
    QCoro::Task<int> login(QStringList arguments);
    QCoro::Task<int> setup(QStringList arguments);
    QCoro::Task<int> status();
    int recent();
    int logout();
    int notConfigured();
    void showProgress();
    QCoro::Task<> waitForNotifications();

    std::unique_ptr<AppViewModel> m_model;
    bool m_interrupted = false;
    bool m_progressShown = false;
};

} // namespace sendova
