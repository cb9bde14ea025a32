#pragma once

// A real monitor and settings store behind the settings window, with a scanner
// that only records what it is asked. Events from the allowlist, the store and
// the scanner land in one list, so tests can check the order of an edit's
// change, save and scan.

#include "config/settings_store.h"
#include "monitor/port_monitor.h"
#include "settings/settings_window.h"
#include "support/fake_source.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QLocale>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

struct ScanRecord {
    QStringList events; // "allowlist", "stored <key>", "scan"
    QList<qint64> scanMin;
    QList<qint64> scanMax;
    QList<QSet<QString>> scanAllowlist;
};

// Every request is recorded and answered at once with an empty list, so each
// monitor.scan() reaches the source.
class RecordingSource : public FakeSource {
public:
    RecordingSource(ScanRecord& record)
        : FakeSource(std::make_shared<FakeSourceState>()), m_record(record) {}

    bool scan(ScanFilter filter, Done done) override {
        m_record.events.append(QStringLiteral("scan"));
        m_record.scanMin.append(filter.minPort);
        m_record.scanMax.append(filter.maxPort);
        m_record.scanAllowlist.append(filter.allowlist.value_or(QSet<QString>{}));
        done({});
        return true;
    }
    bool isScanning() const override { return false; }

private:
    ScanRecord& m_record;
};

inline Registry recordingRegistry(ScanRecord& record) {
    return [&record](const settings::Values&) {
        return QList<SourceSpec>{{SourceId::of(SourceId::Kind::Proc),
                                  [&record] { return std::make_unique<RecordingSource>(record); }}};
    };
}

class SettingsTest : public ::testing::Test {
protected:
    SettingsTest() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        // Connected before the monitor follows the store: the store's event
        // comes first, then the monitor's scan.
        QObject::connect(&store, &SettingsStore::changed, [this](const QString& key) {
            record.events.append(QStringLiteral("stored ") + key);
        });
        monitor = std::make_unique<PortMonitor>(store, recordingRegistry(record));
    }
    ~SettingsTest() override {
        window.reset();
        QLocale::setDefault(QLocale::c());
    }

    SettingsWindow& openWindow() {
        if (!window)
            window = std::make_unique<SettingsWindow>(store);
        window->open();
        return *window;
    }

    template <typename T> T* child(const char* name) const {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    int scanCount() const { return int(record.scanMin.size()); }
    bool settingsFileWritten() const { return QFile::exists(settingsPath); }

    QTemporaryDir dir;
    QString settingsPath = dir.filePath(QStringLiteral("settings.json"));
    SettingsStore store{settingsPath};
    ScanRecord record;
    std::unique_ptr<PortMonitor> monitor;
    std::unique_ptr<SettingsWindow> window;
};

// Replaces the field's text the way the user does: typing over a selection,
// or pasting for text with tabs and other characters that have no key.
inline void typeOver(QLineEdit* field, const QString& text) {
    field->selectAll();
    const bool typeable = std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.unicode() >= 0x20 && c.unicode() < 0x7f;
    });
    if (text.isEmpty())
        QTest::keyClick(field, Qt::Key_Backspace);
    else if (typeable)
        QTest::keyClicks(field, text);
    else
        field->insert(text);
}
