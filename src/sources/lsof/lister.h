#pragma once

#include <QByteArray>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

// How one run of the open-files lister ended, beyond "it printed its listing".
enum class ListerError {
    None,          // the listing is in `text` (the lister exited with status 0 or 1)
    NotFound,      // no lister at the configured path
    FailedToStart, // the file is there but could not be run
    TimedOut,      // it did not finish in time; it was killed and reaped
    Crashed,       // it was killed by a signal
    InvalidOutput, // its output is not valid UTF-8
    ErrorStatus,   // it exited with a status other than 0 or 1: its listing may be cut short
};

// The reason in plain words, for the menu's failure line.
QString describeListerError(ListerError error);

struct ListerResult {
    QString text;
    ListerError error = ListerError::None;

    bool ok() const { return error == ListerError::None; }
};

struct ListerCommand {
    QString program; // absolute path; empty when no lister was found
    QStringList arguments;
    int timeoutMs = 10'000;
    // When set, every run takes the first runnable of these absolute paths
    // instead of `program`, so a lister installed (or removed) while the
    // program runs is noticed at the next run.
    QStringList lookIn = {};
};

// The first of `candidates` that exists and is executable, or an empty string.
QString findExecutable(const QStringList& candidates);

// The system's lister, asked for listening TCP sockets with numeric ports and
// addresses and untruncated command names.
ListerCommand defaultListerCommand();

// Strict UTF-8: no replacement characters, no partial result.
std::optional<QString> decodeUtf8Strict(const QByteArray& bytes);

// Runs the lister without blocking the calling thread: the result arrives
// through the callback, from the event loop of the thread that started it. At
// most one lister process runs at a time; destroying the object kills and reaps
// a run that is still going, without calling its callback. Each run has its own
// process group, which is killed whenever the run ends, so that nothing the
// lister started outlives it.
class Lister {
public:
    using Done = std::function<void(ListerResult)>;

    explicit Lister(ListerCommand command);
    ~Lister();
    Lister(const Lister&) = delete;
    Lister& operator=(const Lister&) = delete;

    const ListerCommand& command() const { return m_command; }
    bool isRunning() const { return m_process != nullptr; }

    // Starts a run and returns true, or returns false while one is running.
    bool start(Done done);

    // The same run, waited for on the calling thread. For tests and tools.
    ListerResult runBlocking() const;

private:
    void finish(QProcess* process, ListerResult result);

    ListerCommand m_command;
    QProcess* m_process = nullptr;
    QPointer<QProcess> m_retired; // finished, waiting for deleteLater()
    QByteArray m_output;
    bool m_timedOut = false;
    Done m_done;
};
