#pragma once

#include <QLabel>

namespace platform {

// A label that acts on a click of the left button, drawn as a link in the theme's link
// colour. It takes the keyboard focus, and Enter or Space act as a click; screen readers
// see a link named by its text.
class LinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit LinkLabel(const QString& text, QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

} // namespace platform
