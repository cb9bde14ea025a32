#pragma once

#include "config/settings.h"

#include <QString>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class SettingsStore;

// The "Ports" tab: the inclusive port range the menu shows. The bounds live in
// the settings store under "minPort" and "maxPort" and mean what the settings
// table says (the default while a key is absent, broken, or 0 or less; reading
// never writes). A committed new bound above 0 is stored; the monitor follows
// the store and scans once. While From is above To a line says that no port
// can match.
//
// Its General section holds "Start at login", which writes or removes the
// autostart entry (platform/autostart.h) running this program's file. It shows
// whether the entry starts the program, read anew each time the tab appears,
// so an entry made, hidden or removed by hand shows as it is.
class PortRangeTab : public QWidget {
    Q_OBJECT
public:
    explicit PortRangeTab(SettingsStore& store, QWidget* parent = nullptr);

    // The bound as the tab shows it: the stored value, or the default.
    qint64 minPort() const;
    qint64 maxPort() const;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Bound {
        const settings::Key<qint64>& key;
        QLineEdit* field = nullptr;
    };

    qint64 value(const Bound& bound) const;
    void display(const Bound& bound);
    void commit(const Bound& bound);
    void storeChanged(const QString& key);
    void updateWarning();
    void showStartAtLogin();
    void setStartAtLogin(bool enabled);

    SettingsStore& m_store;
    Bound m_min;
    Bound m_max;
    QLabel* m_warning = nullptr;
    QCheckBox* m_startAtLogin = nullptr;
    QLabel* m_startAtLoginError = nullptr;
};
