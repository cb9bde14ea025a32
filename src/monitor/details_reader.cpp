#include "monitor/details_reader.h"

DetailsReader::DetailsReader(Read read)
    : m_read(std::move(read)), m_worker(std::make_unique<QObject>()),
      m_receiver(std::make_unique<QObject>()) {
    m_thread.setObjectName(QStringLiteral("details"));
}

DetailsReader::~DetailsReader() {
    m_thread.quit();
    m_thread.wait();
    // The thread has ended: nothing posts to the receiver any more, and its
    // destruction discards what was posted.
}

bool DetailsReader::read(QList<ListeningPort> ports, Done done) {
    if (m_reading)
        return false;
    m_reading = true;
    if (!m_thread.isRunning()) {
        m_worker->moveToThread(&m_thread);
        m_thread.start(QThread::LowPriority);
    }
    QObject* receiver = m_receiver.get();
    QMetaObject::invokeMethod(m_worker.get(), [this, receiver, read = m_read,
                                               ports = std::move(ports), done = std::move(done)] {
        Batch batch;
        batch.reserve(ports.size());
        for (const ListeningPort& port : ports)
            batch.append({port, read(port)});
        QMetaObject::invokeMethod(receiver, [this, done, batch = std::move(batch)] {
            m_reading = false;
            done(batch);
        });
    });
    return true;
}
