#pragma once

// A window of the program and its controls, as the handlers see them, on
// either toolkit. A Form is built from its layout table; handlers are bound to it by
// control name and event.

#include "runtime/layout.h"
#include "runtime/picture.h"

#include <functional>
#include <memory>
#include <string_view>

namespace rt {

namespace detail {
class FormWidget;
class PictureBoxWidget;
class ImageWidget;
} // namespace detail

using Handler = std::function<void()>;

class PictureBox {
public:
    Picture picture() const;
    // Shows the picture at once, scaled smoothly to cover the box with its
    // aspect kept and centred (one of the box's own size pixel for pixel);
    // the box keeps its size.
    void setPicture(Picture picture);

private:
    friend class Form;
    explicit PictureBox(detail::PictureBoxWidget* widget)
        : m_widget(widget) {}
    detail::PictureBoxWidget* m_widget;
};

class Image {
public:
    Picture picture() const;
    // Shows the picture at once, scaled to the image's size when it stretches.
    void setPicture(Picture picture);
    // Moves the image's top-left corner, in twips; its size stays. Raises
    // Overflow for a position no window can show.
    void move(float left, double top);

private:
    friend class Form;
    explicit Image(detail::ImageWidget* widget)
        : m_widget(widget) {}
    detail::ImageWidget* m_widget;
};

class Form {
public:
    explicit Form(const FormLayout& layout);
    virtual ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    std::string_view name() const { return m_layout.name; }

    // Modeless, no owner. The window is loaded already (see load()).
    void show();
    // Only makes the window invisible: its controls, state and timers stay.
    void hide();
    bool isVisible() const;

    // The window's outer size in twips: frame and title bar included where
    // the window system reports them, else the client size.
    float width() const;
    float height() const;

    PictureBox pictureBox(std::string_view control) const;
    Image image(std::string_view control) const;

    // Handlers run inside the handler boundary: an error ends the handler,
    // is reported, and the program goes on.
    void onLoad(Handler handler);
    void onClick(Handler handler); // a click on the window's own background
    void onClick(std::string_view button, Handler handler);
    void onTimer(std::string_view timer, Handler handler);

    // Runs the Load handler, then starts the timers. Called once per
    // instance by the window registry, before the window is first shown.
    void load();

    // The backend's window, for the toolkit and for tests.
    detail::FormWidget* widget() const;

private:
    const FormLayout& m_layout;
    std::unique_ptr<detail::FormWidget> m_widget;
    Handler m_load;
    bool m_loaded = false;
};

} // namespace rt
