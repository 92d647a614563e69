#pragma once

// The Qt widgets behind a Form and its controls (the members the core
// forwards to are in runtime/backend.h). Toolkit-internal.

#include "runtime/form.h"

#include <QFrame>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace rt::detail {

// Plays a picture's frames on a widget while it is shown.
class FramePlayer {
public:
    explicit FramePlayer(QWidget* owner);
    void setPicture(Picture picture);
    const Picture& picture() const { return m_picture; }
    const QImage* frame() const;
    int frameIndex() const { return m_index; }
    void pause();
    void resume();

private:
    void advance();
    QWidget* m_owner;
    QTimer m_timer;
    Picture m_picture;
    int m_index = 0;
};

// A widget that shows a picture, playing its frames while it is shown. It
// has no Click of its own, and keeps clicks on it from reaching the window.
class PictureView : public QWidget {
public:
    explicit PictureView(QWidget* parent);
    FramePlayer& player() { return m_player; }
    const FramePlayer& player() const { return m_player; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    FramePlayer m_player;
};

// Where the pictures and the Earth live: the area inside the box's border.
class PictureClient : public PictureView {
public:
    PictureClient(QWidget* parent, QColor background);

    // Where a scenery of this size is drawn, in the client's coordinates.
    QRect sceneryRect(QSize picture) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const QPixmap& scaledFrame(const QImage& frame, QSize size);
    QColor m_background;
    QPixmap m_scaled; // the frame shown last, scaled for the screen
    qint64 m_scaledFrom = 0;
};

// What a screen reader is told a picture box or an image shows: its own
// line, then the picture's file name, or that it holds none.
QString describeShowing(const QString& what, const Picture& picture);

// The picture box's focus ring: drawn over its 2-pixel border, dark enough
// to stand out from the teal background, the border and the window around.
inline constexpr QRgb focusRingColour = qRgb(0, 26, 102);

class PictureBoxWidget : public QFrame {
public:
    PictureBoxWidget(QWidget* parent, const ControlRow& row);
    PictureClient* client() const { return m_client; }
    const Picture& picture() const { return m_client->player().picture(); }
    void setPicture(Picture picture);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void pictureChanged();
    PictureClient* m_client;
    QString m_description;
};

// Return and keypad Enter press a focused button, as Space does.
class CommandButtonWidget : public QPushButton {
public:
    CommandButtonWidget(QWidget* parent, const ControlRow& row);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

class ImageWidget : public PictureView {
public:
    ImageWidget(QWidget* parent, const ControlRow& row);
    const Picture& picture() const { return player().picture(); }
    void setPicture(Picture picture);
    void moveTo(int x, int y) { move(x, y); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void pictureChanged();
    const QPixmap& scaledFrame(int index);
    bool m_stretch;
    std::vector<QPixmap> m_scaled; // one per frame, for the current size
    QSize m_scaledFor;
    qreal m_scaledRatio = 0;
    QString m_description;
};

class FormWidget : public QWidget {
public:
    explicit FormWidget(const FormLayout& layout);

    QWidget* control(std::string_view name) const;
    PictureBoxWidget* pictureBox(std::string_view name) const;
    ImageWidget* image(std::string_view name) const;
    int outerWidth() const { return frameGeometry().width(); }
    int outerHeight() const { return frameGeometry().height(); }
    void setClickHandler(Handler handler) { m_click = std::move(handler); }
    void setButtonHandler(std::string_view button, Handler handler);
    void setTimerHandler(std::string_view timer, Handler handler);
    void startTimers();

    // Show and Hide: a window shown again comes back where it was, frame
    // included, at the size it had; only its first Show leaves the placing
    // to the window system.
    void showInPlace();
    void hideKeepingPlace();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // A click on the background, or Ctrl+Tab: the window's Click handler.
    void runClick();
    bool isNormal() const;

    struct TimerSlot {
        QTimer* timer;
        Handler handler;
    };
    std::map<std::string, QWidget*, std::less<>> m_controls;
    std::map<std::string, TimerSlot, std::less<>> m_timers;
    Handler m_click;
    bool m_pressed = false;
    // Where the window was, client geometry, while neither maximised nor
    // minimised: where it comes back, or returns to when a maximised window
    // that was hidden is restored.
    std::optional<QRect> m_place;
};

} // namespace rt::detail
