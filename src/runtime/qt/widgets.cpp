#include "runtime/qt/widgets.h"

#include "runtime/backend.h"
#include "runtime/handler.h"
#include "runtime/qt/picture_data.h"
#include "runtime/scenery.h"
#include "runtime/twips.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>
#include <QString>
#include <QWindow>

#include <algorithm>
#include <stdexcept>

namespace rt::detail {

namespace {

int px(int twips) {
    return twips / twipsPerPixel;
}

QRect pixelRect(const ControlRow& row) {
    return {px(row.left), px(row.top), px(row.width), px(row.height)};
}

QString text(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// Stored colours keep red in the low byte.
QColor storedColour(std::uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xff), static_cast<int>((bgr >> 8) & 0xff),
                  static_cast<int>((bgr >> 16) & 0xff));
}

bool isPrimary(const QMouseEvent* event) {
    return event->button() == Qt::LeftButton;
}

// A picture box is one picture to a screen reader, the Earth inside it: the
// area within its border, where the Earth moves, is the box itself, not a
// node of its own with nothing to say.
class AccessiblePictureBox : public QAccessibleWidget {
public:
    explicit AccessiblePictureBox(PictureBoxWidget* box)
        : QAccessibleWidget(box, QAccessible::Graphic) {}

    int childCount() const override { return static_cast<int>(inside().size()); }
    QAccessibleInterface* child(int index) const override {
        const QList<QWidget*> controls = inside();
        if (index < 0 || index >= controls.size())
            return nullptr;
        return QAccessible::queryAccessibleInterface(controls[index]);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (!child)
            return -1;
        return static_cast<int>(inside().indexOf(qobject_cast<QWidget*>(child->object())));
    }

private:
    QList<QWidget*> inside() const {
        return static_cast<PictureBoxWidget*>(widget())->client()->findChildren<QWidget*>(
            Qt::FindDirectChildrenOnly);
    }
};

// A control inside a picture box answers to the box as its parent.
class AccessibleImage : public QAccessibleWidget {
public:
    explicit AccessibleImage(ImageWidget* image)
        : QAccessibleWidget(image, QAccessible::Graphic) {}

    QAccessibleInterface* parent() const override {
        if (auto* client = dynamic_cast<PictureClient*>(widget()->parentWidget()))
            return QAccessible::queryAccessibleInterface(client->parentWidget());
        return QAccessibleWidget::parent();
    }
};

// Screen readers: a window is a window (not a bare client area), and a
// picture box or an image is a picture.
QAccessibleInterface* accessibleControl(const QString&, QObject* object) {
    if (auto* form = dynamic_cast<FormWidget*>(object))
        return new QAccessibleWidget(form, QAccessible::Window);
    if (auto* box = dynamic_cast<PictureBoxWidget*>(object))
        return new AccessiblePictureBox(box);
    if (auto* image = dynamic_cast<ImageWidget*>(object))
        return new AccessibleImage(image);
    return nullptr;
}

void describe(QWidget* widget, const ControlRow& row) {
    if (!row.accessibleName.empty())
        widget->setAccessibleName(text(row.accessibleName));
    if (!row.description.empty())
        widget->setAccessibleDescription(text(row.description));
}

} // namespace

QString describeShowing(const QString& what, const Picture& picture) {
    if (picture.isNull())
        return what + QStringLiteral("；尚未载入图片");
    const QString name = QString::fromStdString(picture.fileName());
    const qsizetype cut = std::max(name.lastIndexOf(u'\\'), name.lastIndexOf(u'/'));
    return what + QStringLiteral("；显示图片 %1").arg(name.mid(cut + 1));
}

// --- FramePlayer ------------------------------------------------------------

FramePlayer::FramePlayer(QWidget* owner)
    : m_owner(owner) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::CoarseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, owner, [this] { advance(); });
}

void FramePlayer::setPicture(Picture picture) {
    m_picture = std::move(picture);
    m_index = 0;
    m_timer.stop();
    resume();
    m_owner->update();
}

const QImage* FramePlayer::frame() const {
    if (m_picture.isNull())
        return nullptr;
    return &m_picture.data()->frames[static_cast<size_t>(m_index)];
}

void FramePlayer::pause() {
    m_timer.stop();
}

void FramePlayer::resume() {
    if (m_picture.frameCount() > 1 && m_owner->isVisible() && !m_timer.isActive())
        m_timer.start(m_picture.data()->delays[static_cast<size_t>(m_index)]);
}

void FramePlayer::advance() {
    m_index = (m_index + 1) % m_picture.frameCount();
    m_owner->update();
    resume();
}

// --- PictureBox -------------------------------------------------------------

PictureView::PictureView(QWidget* parent)
    : QWidget(parent)
    , m_player(this) {}

void PictureView::mousePressEvent(QMouseEvent* event) {
    event->accept(); // no Click of its own; the window must not get it either
}

void PictureView::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

void PictureView::showEvent(QShowEvent*) {
    player().resume();
}

void PictureView::hideEvent(QHideEvent*) {
    player().pause();
}

PictureClient::PictureClient(QWidget* parent, QColor background)
    : PictureView(parent)
    , m_background(background) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QRect PictureClient::sceneryRect(QSize picture) const {
    const QRect box = parentWidget()->rect().translated(-pos());
    const Area area = sceneryArea(box.width(), box.height(), picture.width(), picture.height());
    return QRect(box.x() + area.x, box.y() + area.y, area.width, area.height);
}

const QPixmap& PictureClient::scaledFrame(const QImage& frame, QSize size) {
    const qreal ratio = devicePixelRatioF();
    if (m_scaledFrom != frame.cacheKey() || m_scaled.deviceIndependentSize().toSize() != size ||
        m_scaled.devicePixelRatio() != ratio) {
        const QSize device = (QSizeF(size) * ratio).toSize();
        m_scaled =
            QPixmap::fromImage(frame.size() == device ? frame
                                                      : frame.scaled(device, Qt::IgnoreAspectRatio,
                                                                     Qt::SmoothTransformation));
        m_scaled.setDevicePixelRatio(ratio);
        m_scaledFrom = frame.cacheKey();
    }
    return m_scaled;
}

void PictureClient::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // The background colour shows through a picture's transparent parts.
    painter.fillRect(event->rect(), m_background);
    if (const QImage* frame = player().frame()) {
        // The picture's own size sets the cover; its kept frame is drawn there.
        const Picture& picture = player().picture();
        const QRect area = sceneryRect(QSize(picture.width(), picture.height()));
        painter.drawPixmap(area.topLeft(), scaledFrame(*frame, area.size()));
    }
}

PictureBoxWidget::PictureBoxWidget(QWidget* parent, const ControlRow& row)
    : QFrame(parent)
    , m_client(new PictureClient(this, storedColour(row.backColor))) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setFocusPolicy(Qt::StrongFocus);
    setGeometry(pixelRect(row));
    m_client->setGeometry(contentsRect());
    describe(this, row);
    m_description = accessibleDescription();
    pictureChanged();
}

void PictureBoxWidget::setPicture(Picture picture) {
    m_client->player().setPicture(std::move(picture));
    pictureChanged();
}

void PictureBoxWidget::pictureChanged() {
    setAccessibleDescription(describeShowing(m_description, m_client->player().picture()));
}

void PictureBoxWidget::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (!hasFocus())
        return;
    QPainter painter(this);
    for (const QRect& r : QRegion(rect()).subtracted(contentsRect()))
        painter.fillRect(r, QColor(focusRingColour));
}

void PictureBoxWidget::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    m_client->setGeometry(contentsRect());
}

void PictureBoxWidget::mousePressEvent(QMouseEvent* event) {
    event->accept(); // Qt gives it the focus; the window must not get the click
}

void PictureBoxWidget::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

// --- CommandButton ----------------------------------------------------------

CommandButtonWidget::CommandButtonWidget(QWidget* parent, const ControlRow& row)
    : QPushButton(detail::text(row.caption), parent) {
    setAutoDefault(false);
    setFocusPolicy(Qt::StrongFocus);
    setGeometry(pixelRect(row));
    describe(this, row);
}

void CommandButtonWidget::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && modifiers == Qt::NoModifier) {
        event->accept();
        if (!event->isAutoRepeat())
            click();
        return;
    }
    QPushButton::keyPressEvent(event);
}

// --- Image ------------------------------------------------------------------

ImageWidget::ImageWidget(QWidget* parent, const ControlRow& row)
    : PictureView(parent)
    , m_stretch(row.stretch) {
    setGeometry(pixelRect(row));
    describe(this, row);
    m_description = accessibleDescription();
    setAccessibleDescription(describeShowing(m_description, player().picture()));
}

void ImageWidget::setPicture(Picture picture) {
    player().setPicture(std::move(picture));
    pictureChanged();
}

void ImageWidget::pictureChanged() {
    m_scaled.clear();
    if (!m_stretch && !player().picture().isNull())
        resize(player().picture().width(), player().picture().height());
    setAccessibleDescription(describeShowing(m_description, player().picture()));
}

const QPixmap& ImageWidget::scaledFrame(int index) {
    const qreal ratio = devicePixelRatioF();
    if (m_scaledFor != size() || m_scaledRatio != ratio ||
        m_scaled.size() != static_cast<size_t>(player().picture().frameCount())) {
        m_scaled.assign(static_cast<size_t>(player().picture().frameCount()), QPixmap());
        m_scaledFor = size();
        m_scaledRatio = ratio;
    }
    QPixmap& slot = m_scaled[static_cast<size_t>(index)];
    if (slot.isNull()) {
        const QSize device = (QSizeF(size()) * ratio).toSize();
        slot = QPixmap::fromImage(
            player().frame()->scaled(device, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        slot.setDevicePixelRatio(ratio);
    }
    return slot;
}

void ImageWidget::paintEvent(QPaintEvent*) {
    if (!player().frame())
        return;
    QPainter painter(this);
    // A large picture is kept smaller than its own size, at which an image
    // that does not stretch shows it.
    if (m_stretch || player().frame()->size() != size())
        painter.drawPixmap(QPoint(0, 0), scaledFrame(player().frameIndex()));
    else
        painter.drawImage(QPoint(0, 0), *player().frame());
}

// --- Form -------------------------------------------------------------------

FormWidget::FormWidget(const FormLayout& layout) {
    static const bool accessible = (QAccessible::installFactory(accessibleControl), true);
    (void)accessible;
    setObjectName(text(layout.name));
    setWindowTitle(text(layout.caption));
    setAccessibleName(text(layout.caption));
    setAccessibleDescription(text(layout.description));
    resize(px(layout.clientWidth), px(layout.clientHeight));

    // The keyboard's way to the background click, from any control.
    auto* toOther = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this);
    toOther->setContext(Qt::WindowShortcut);
    // Held down, it switches once: the key's repeats would flip the windows
    // back and forth for as long as it is held.
    toOther->setAutoRepeat(false);
    connect(toOther, &QShortcut::activated, this, [this] { runClick(); });

    std::vector<std::pair<int, QWidget*>> focusOrder;
    for (const ControlRow& row : layout.controls) {
        QWidget* parent = this;
        if (row.parent != layout.name) {
            auto* box = dynamic_cast<PictureBoxWidget*>(control(row.parent));
            if (!box)
                throw std::logic_error("a control's parent must be its window or a picture box");
            parent = box->client();
        }
        QWidget* widget = nullptr;
        switch (row.kind) {
        case ControlClass::CommandButton:
            widget = new CommandButtonWidget(parent, row);
            break;
        case ControlClass::PictureBox:
            widget = new PictureBoxWidget(parent, row);
            break;
        case ControlClass::Image:
            widget = new ImageWidget(parent, row);
            break;
        case ControlClass::Timer: {
            auto* timer = new QTimer(this);
            timer->setObjectName(text(row.name));
            timer->setTimerType(Qt::PreciseTimer);
            timer->setInterval(row.interval);
            TimerSlot& slot = m_timers[std::string(row.name)];
            slot.timer = timer;
            connect(timer, &QTimer::timeout, this,
                    [this, &slot] { runHandler(slot.handler, this); });
            continue;
        }
        }
        widget->setObjectName(text(row.name));
        m_controls.emplace(std::string(row.name), widget);
        if (row.tabIndex >= 0)
            focusOrder.emplace_back(row.tabIndex, widget);
    }

    std::sort(focusOrder.begin(), focusOrder.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 1; i < focusOrder.size(); ++i)
        setTabOrder(focusOrder[i - 1].second, focusOrder[i].second);
    if (!focusOrder.empty())
        focusOrder.front().second->setFocus(Qt::OtherFocusReason);
}

QWidget* FormWidget::control(std::string_view name) const {
    const auto it = m_controls.find(name);
    return it == m_controls.end() ? nullptr : it->second;
}

PictureBoxWidget* FormWidget::pictureBox(std::string_view name) const {
    return dynamic_cast<PictureBoxWidget*>(control(name));
}

ImageWidget* FormWidget::image(std::string_view name) const {
    return dynamic_cast<ImageWidget*>(control(name));
}

void FormWidget::setButtonHandler(std::string_view button, Handler handler) {
    auto* widget = dynamic_cast<QPushButton*>(control(button));
    if (!widget)
        throw std::logic_error("no such button: " + std::string(button));
    connect(widget, &QPushButton::clicked, this,
            [this, handler = std::move(handler)] { runHandler(handler, this); });
}

void FormWidget::setTimerHandler(std::string_view timer, Handler handler) {
    named(m_timers, timer, "timer").handler = std::move(handler);
}

void FormWidget::startTimers() {
    for (auto& [name, slot] : m_timers)
        if (slot.timer->interval() > 0)
            slot.timer->start();
}

void FormWidget::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (isPrimary(event))
        m_pressed = childAt(event->position().toPoint()) == nullptr;
}

void FormWidget::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (!isPrimary(event) || !m_pressed)
        return;
    m_pressed = false;
    const QPoint at = event->position().toPoint();
    if (rect().contains(at) && childAt(at) == nullptr)
        runClick();
}

void FormWidget::runClick() {
    if (m_click)
        runHandler(m_click, this);
}

void FormWidget::showInPlace() {
    // A maximised window is left to the window system, which brings it back
    // maximised; given a size of ours it may lose track of its own.
    if (m_place && !isVisible() && isNormal()) {
        setGeometry(*m_place);
        // Through the window too, so that the window system is told the
        // place rather than left to choose one.
        if (QWindow* window = windowHandle())
            window->setGeometry(*m_place);
    }
    show();
}

void FormWidget::hideKeepingPlace() {
    if (isVisible() && isNormal())
        m_place = geometry();
    hide();
}

bool FormWidget::isNormal() const {
    return !(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized));
}

// A maximised window keeps the place it had before, so that after being
// hidden and shown it still restores to it.
void FormWidget::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (isVisible() && isNormal())
        m_place = geometry();
}

void FormWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (isVisible() && isNormal())
        m_place = geometry();
}

void FormWidget::closeEvent(QCloseEvent* event) {
    // Closing either window by its frame ends the program, as its exit
    // button does: otherwise the other window could be left hidden, the
    // program running with nothing on screen.
    event->accept();
    runHandler([] { endProgram(); }, this);
}

} // namespace rt::detail
