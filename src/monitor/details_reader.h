#pragma once

#include "core/listening_port.h"
#include "core/server_details.h"

#include <QList>
#include <QObject>
#include <QThread>

#include <functional>
#include <memory>
#include <utility>

// Reads the details of servers on a thread of its own, one batch at a time, so
// that the file system is never touched on the interface thread. The results
// arrive on the thread that created the reader, through its event loop.
class DetailsReader {
public:
    using Read = std::function<ServerDetails(const ListeningPort&)>;
    using Batch = QList<std::pair<ListeningPort, ServerDetails>>;
    using Done = std::function<void(Batch)>;

    explicit DetailsReader(Read read);
    // Waits for a batch being read; its results are dropped.
    ~DetailsReader();
    DetailsReader(const DetailsReader&) = delete;
    DetailsReader& operator=(const DetailsReader&) = delete;

    bool isReading() const { return m_reading; }
    // Starts reading `ports` and returns true, or returns false while a batch
    // is being read.
    bool read(QList<ListeningPort> ports, Done done);

private:
    Read m_read;
    QThread m_thread;
    std::unique_ptr<QObject> m_worker;   // lives on m_thread
    std::unique_ptr<QObject> m_receiver; // lives on the creating thread
    bool m_reading = false;
};
