#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a Qt signal on the thread's event loop. The
// handler only writes the signal number into a pipe; all the work happens
// when the event loop reads it. One instance per process.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    // False when the pipe or the handlers could not be set up.
    bool isActive() const { return m_notifier != nullptr; }

signals:
    void received(int signalNumber);

private:
    void readPipe();

    std::unique_ptr<QSocketNotifier> m_notifier;
};
