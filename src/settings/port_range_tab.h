#pragma once

#include <QString>
#include <QWidget>

class PortMonitor;
class QLabel;
class QLineEdit;

// The "Ports" tab: the inclusive port range the menu shows. The bounds live in
// the settings store under "minPort" and "maxPort" and mean what the settings
// table says (the default while a key is absent, broken, or 0 or less; reading
// never writes). A committed new bound above 0 is stored; the monitor follows
// the store and scans once. Showing the tab hands both bounds to the monitor
// without a scan. While From is above To a line says that no port can match.
class PortRangeTab : public QWidget {
    Q_OBJECT
public:
    explicit PortRangeTab(PortMonitor& monitor, QWidget* parent = nullptr);

    // The bound as the tab shows it: the stored value, or the default.
    qint64 minPort() const;
    qint64 maxPort() const;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Bound {
        QString key;
        QLineEdit* field = nullptr;
    };

    qint64 value(const Bound& bound) const;
    void display(const Bound& bound);
    void commit(const Bound& bound);
    void storeChanged(const QString& key);
    void updateWarning();

    PortMonitor& m_monitor;
    Bound m_min;
    Bound m_max;
    QLabel* m_warning = nullptr;
};
