#pragma once

// A PortMonitor over a fake source, with its notices and stop controller
// posting into a recording notifier, and a settings store in a temporary
// folder.

#include "config/settings_store.h"
#include "monitor/change_notices.h"
#include "monitor/port_monitor.h"
#include "monitor/stop_controller.h"
#include "support/fake_source.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

inline std::vector<std::string> toStd(const QStringList& list) {
    std::vector<std::string> out;
    for (const QString& s : list)
        out.push_back(s.toStdString());
    return out;
}

inline std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

inline std::vector<std::string> describe(const QList<ListeningPort>& ports) {
    std::vector<std::string> out;
    for (const ListeningPort& p : ports)
        out.push_back(
            QStringLiteral("%1 %2 %3").arg(p.port).arg(p.pid).arg(p.process).toStdString());
    return out;
}

inline std::vector<std::string> names(const QSet<QString>& set) {
    return sorted(toStd(QStringList(set.begin(), set.end())));
}

inline const ListeningPort node3000{3000, 101, QStringLiteral("node")};
inline const ListeningPort vite5173{5173, 102, QStringLiteral("node")};
inline const ListeningPort python8000{8000, 103, QStringLiteral("python3")};
inline const ListeningPort ruby9000{9000, 104, QStringLiteral("ruby")};

class PortMonitorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    void TearDown() override {
        stops.reset();
        notices.reset();
        monitor.reset();
    }

    QString settingsPath() const {
        return m_dir.filePath(QStringLiteral("harborwatch/settings.json"));
    }

    void writeSettings(const QByteArray& json) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(settingsPath()).absolutePath()));
        QFile file(settingsPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(json);
    }

    // A monitor over a fresh store read from settingsPath(). Notifications are
    // recorded in `posts` ("title: body"), with the list published at that
    // moment; `events` interleaves them with "published" for portsChanged.
    PortMonitor& makeMonitor() {
        stops.reset();
        notices.reset();
        monitor.reset();
        store = std::make_unique<SettingsStore>(settingsPath());
        scanner = std::make_shared<FakeSourceState>();
        monitor = std::make_unique<PortMonitor>(*store, fakeRegistry(scanner));
        const auto notify = [this](const QString& title, const QString& body) {
            const QString post = title + QStringLiteral(": ") + body;
            posts.append(post);
            events.append(post);
            listAtNotify.append(monitor->ports());
        };
        notices = std::make_unique<ChangeNotices>(*monitor, notify);
        stops = std::make_unique<StopController>(*monitor, notify);
        QObject::connect(monitor.get(), &PortMonitor::portsChanged,
                         [this] { events.append(QStringLiteral("published")); });
        return *monitor;
    }

    // Starts a scan through scan() and completes it with `ports`.
    void scanWith(const QList<ListeningPort>& ports) {
        monitor->scan();
        ASSERT_TRUE(scanner->completeWith(ports));
    }

    std::vector<std::string> takePosts() {
        std::vector<std::string> out = toStd(posts);
        posts.clear();
        events.clear();
        listAtNotify.clear();
        return out;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsStore> store;
    std::shared_ptr<FakeSourceState> scanner;
    std::unique_ptr<PortMonitor> monitor;
    std::unique_ptr<ChangeNotices> notices;
    std::unique_ptr<StopController> stops;
    QStringList posts;
    QStringList events;
    QList<QList<ListeningPort>> listAtNotify;
};
