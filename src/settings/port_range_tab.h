#pragma once

#include <QString>
#include <QWidget>

class PortMonitor;
class QLineEdit;

// The "Ports" tab: the inclusive port range the menu shows. The bounds live in
// the settings store under "minPort" and "maxPort" (3000 and 9999 while a key is
// absent; reading never writes the default). A committed new bound is stored,
// handed to the monitor and followed by one scan. Showing the tab hands both
// bounds to the monitor without a scan.
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
        qint64 fallback;
        void (PortMonitor::*apply)(qint64);
        QLineEdit* field = nullptr;
    };

    qint64 value(const Bound& bound) const;
    void display(const Bound& bound);
    void commit(const Bound& bound);
    void storeChanged(const QString& key);

    PortMonitor& m_monitor;
    Bound m_min;
    Bound m_max;
};
