#include "runtime/form.h"

#include "runtime/error.h"
#include "runtime/handler.h"
#include "runtime/twips.h"
#include "widgets.h" // the backend's

#include <stdexcept>
#include <string>

namespace rt {

namespace {

template <typename W> W* found(W* control, std::string_view name) {
    if (!control)
        throw std::logic_error("no such control: " + std::string(name));
    return control;
}

} // namespace

// --- controls ---------------------------------------------------------------

Picture PictureBox::picture() const {
    return m_widget->picture();
}

void PictureBox::setPicture(Picture picture) {
    m_widget->setPicture(std::move(picture));
}

Picture Image::picture() const {
    return m_widget->picture();
}

void Image::setPicture(Picture picture) {
    m_widget->setPicture(std::move(picture));
}

void Image::move(float left, double top) {
    const auto x = twipsToPixels(left);
    const auto y = twipsToPixels(top);
    if (!x || !y)
        throw Error(ErrorNumber::Overflow);
    m_widget->moveTo(*x, *y);
}

// --- Form -------------------------------------------------------------------

Form::Form(const FormLayout& layout)
    : m_layout(layout)
    , m_widget(std::make_unique<detail::FormWidget>(layout)) {}

Form::~Form() = default;

void Form::show() {
    m_widget->showInPlace();
}

void Form::hide() {
    m_widget->hideKeepingPlace();
}

bool Form::isVisible() const {
    return m_widget->isVisible();
}

float Form::width() const {
    return static_cast<float>(pixelsToTwips(m_widget->outerWidth()));
}

float Form::height() const {
    return static_cast<float>(pixelsToTwips(m_widget->outerHeight()));
}

PictureBox Form::pictureBox(std::string_view control) const {
    return PictureBox(found(m_widget->pictureBox(control), control));
}

Image Form::image(std::string_view control) const {
    return Image(found(m_widget->image(control), control));
}

void Form::onLoad(Handler handler) {
    m_load = std::move(handler);
}

void Form::onClick(Handler handler) {
    m_widget->setClickHandler(std::move(handler));
}

void Form::onClick(std::string_view button, Handler handler) {
    m_widget->setButtonHandler(button, std::move(handler));
}

void Form::onTimer(std::string_view timer, Handler handler) {
    m_widget->setTimerHandler(timer, std::move(handler));
}

void Form::load() {
    if (m_loaded)
        return;
    m_loaded = true;
    // A Load that fails still leaves a window: it is reported, and the
    // window goes on without what the handler did not get to do.
    if (m_load)
        runHandler(m_load, m_widget.get());
    m_widget->startTimers();
}

detail::FormWidget* Form::widget() const {
    return m_widget.get();
}

} // namespace rt
