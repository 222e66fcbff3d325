#pragma once

#include <QWidget>

#include <functional>

namespace corvane {

// What OBS holds as the Corvane dock from the module's load on: a bare panel that asks for
// its content (the Dock) the first time OBS measures or shows it. OBS measures a dock just
// before showing it, and on its first run before the window appears, to centre it; the
// content is there for both, so the dock is never seen empty or sized for nothing.
class DockHost : public QWidget {
    Q_OBJECT
public:
    // `fill` is expected to call setContent; it is asked at most until it has.
    explicit DockHost(std::function<void()> fill, QWidget *parent = nullptr);

    // Takes `content` as the panel's only child, once.
    void setContent(QWidget *content);
    QWidget *content() const { return m_content; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void fillIfEmpty() const;

    std::function<void()> m_fill;
    QWidget *m_content = nullptr;
};

} // namespace corvane
