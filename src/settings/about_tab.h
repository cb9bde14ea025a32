#pragma once

#include <QWidget>

// The "About" tab: the program's symbol, name, version, what it is for and who
// made it. Static: it reads no model and no setting.
class AboutTab : public QWidget {
    Q_OBJECT
public:
    explicit AboutTab(QWidget* parent = nullptr);
};
