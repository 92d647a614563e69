#include "runtime/win32/widgets.h"

#include "runtime/backend.h"
#include "runtime/cadence.h"
#include "runtime/handler.h"
#include "runtime/scenery.h"
#include "runtime/twips.h"
#include "runtime/win32/picture_data.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace rt::detail {

namespace {

constexpr wchar_t formClass[] = L"OrbitaleForm";
constexpr wchar_t boxClass[] = L"OrbitalePictureBox";
constexpr UINT_PTR frameTimer = 1;
constexpr int firstButtonId = 100;

int dip(int twips) {
    return twips / twipsPerPixel;
}

// Stored colours are the system's own, 0x00BBGGRR.
COLORREF storedColour(std::uint32_t bgr) {
    return static_cast<COLORREF>(bgr & 0xffffff);
}

} // namespace

Scale scaleOf(HWND hwnd) {
    const UINT dpi = hwnd ? GetDpiForWindow(hwnd) : 0;
    return Scale{dpi ? static_cast<int>(dpi) : 96};
}

namespace {} // namespace

// The interface's Chinese text in a CJK font the system has: Microsoft
// YaHei UI where present, SimSun otherwise, and elsewhere (under Wine, say)
// whatever font the system maps Chinese text to.
HFONT uiFont(const Scale& scale) {
    LOGFONTW font{};
    font.lfHeight = -MulDiv(9, scale.dpi, 72);
    font.lfCharSet = GB2312_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    HDC screen = GetDC(nullptr);
    for (const wchar_t* face : {L"Microsoft YaHei UI", L"SimSun"}) {
        LOGFONTW probe{};
        probe.lfCharSet = DEFAULT_CHARSET;
        wcscpy_s(probe.lfFaceName, face);
        bool found = false;
        EnumFontFamiliesExW(
            screen, &probe,
            [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM seen) {
                *reinterpret_cast<bool*>(seen) = true;
                return 0;
            },
            reinterpret_cast<LPARAM>(&found), 0);
        if (found) {
            wcscpy_s(font.lfFaceName, face);
            break;
        }
    }
    ReleaseDC(nullptr, screen);
    return CreateFontIndirectW(&font);
}

namespace {

// A frame's pixels as a top-down 32-bit DIB: premultiplied ARGB words are
// what GDI's alpha blending takes.
BITMAPINFO frameInfo(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

const PictureData::Frame* frameOf(const Picture& picture, int index) {
    if (picture.isNull() || index >= picture.frameCount())
        return nullptr;
    return &picture.data()->frames[static_cast<std::size_t>(index)];
}

void registerClasses() {
    static const bool registered = [] {
        HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSEXW form{};
        form.cbSize = sizeof form;
        form.lpfnWndProc = FormWidget::procedure;
        form.hInstance = instance;
        form.hIcon = LoadIconW(instance, L"IDI_ICON1");
        form.hIconSm = static_cast<HICON>(LoadImageW(instance, L"IDI_ICON1", IMAGE_ICON,
                                                     GetSystemMetrics(SM_CXSMICON),
                                                     GetSystemMetrics(SM_CYSMICON), 0));
        form.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        form.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        form.lpszClassName = formClass;
        RegisterClassExW(&form);
        WNDCLASSEXW box{};
        box.cbSize = sizeof box;
        box.style = CS_HREDRAW | CS_VREDRAW;
        box.lpfnWndProc = PictureBoxWidget::procedure;
        box.hInstance = instance;
        box.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        box.lpszClassName = boxClass;
        RegisterClassExW(&box);
        return true;
    }();
    (void)registered;
}

} // namespace

double clockMs() {
    static const double perMs = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / perMs;
}

// --- FramePlayer ------------------------------------------------------------

void FramePlayer::setPicture(Picture picture, ULONGLONG now) {
    m_picture = std::move(picture);
    m_index = 0;
    m_due =
        m_picture.frameCount() > 1 ? now + static_cast<ULONGLONG>(m_picture.data()->delays[0]) : 0;
}

bool FramePlayer::advance(ULONGLONG now) {
    if (!m_due || now < m_due)
        return false;
    m_index = (m_index + 1) % m_picture.frameCount();
    const auto delay =
        static_cast<ULONGLONG>(m_picture.data()->delays[static_cast<std::size_t>(m_index)]);
    // A window that was hidden for a while goes on from now, not from when
    // it stopped being drawn.
    m_due = std::max(m_due + delay, now + 1);
    return true;
}

// --- Image ------------------------------------------------------------------

ImageWidget::ImageWidget(PictureBoxWidget& box, const ControlRow& row)
    : m_box(box)
    , m_stretch(row.stretch)
    , m_left(dip(row.left))
    , m_top(dip(row.top))
    , m_width(dip(row.width))
    , m_height(dip(row.height)) {}

RECT ImageWidget::rect(const Scale& scale) const {
    return RECT{scale(m_left), scale(m_top), scale(m_left + m_width), scale(m_top + m_height)};
}

void ImageWidget::setPicture(Picture picture) {
    const Scale scale = m_box.scale();
    const RECT before = rect(scale);
    m_player.setPicture(std::move(picture), GetTickCount64());
    // A new picture's frame may stand where the old one's was in memory.
    m_bitmapOf = nullptr;
    if (!m_stretch && !m_player.picture().isNull()) {
        m_width = m_player.picture().width();
        m_height = m_player.picture().height();
    }
    m_box.redraw(before);
    m_box.redraw(rect(scale));
    m_box.scheduleFrames();
}

void ImageWidget::moveTo(int x, int y) {
    const Scale scale = m_box.scale();
    const RECT before = rect(scale);
    m_left = x;
    m_top = y;
    m_box.redraw(before);
    m_box.redraw(rect(scale));
}

void ImageWidget::draw(HDC dc, const Scale& scale) const {
    const PictureData::Frame* frame = frameOf(m_player.picture(), m_player.frameIndex());
    if (!frame)
        return;
    const RECT to = rect(scale);
    // The frame in a DIB of its own size, made when the frame changes, not
    // for every move: blended with its alpha and scaled to the image's size.
    if (m_bitmapOf != frame) {
        if (m_bitmap)
            DeleteObject(m_bitmap);
        BITMAPINFO info = frameInfo(frame->width, frame->height);
        void* bits = nullptr;
        m_bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        m_bitmapOf = m_bitmap ? frame : nullptr;
        if (!m_bitmap)
            return;
        std::copy(frame->pixels.begin(), frame->pixels.end(), static_cast<std::uint32_t*>(bits));
    }
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(source, m_bitmap);
    const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    SetStretchBltMode(dc, HALFTONE);
    AlphaBlend(dc, to.left, to.top, to.right - to.left, to.bottom - to.top, source, 0, 0,
               frame->width, frame->height, blend);
    SelectObject(source, old);
    DeleteDC(source);
}

ImageWidget::~ImageWidget() {
    if (m_bitmap)
        DeleteObject(m_bitmap);
}

// --- PictureBox -------------------------------------------------------------

PictureBoxWidget::PictureBoxWidget(HWND form, const ControlRow& row)
    : m_row(row)
    , m_background(storedColour(row.backColor)) {
    const std::wstring name = wide(row.accessibleName);
    m_hwnd = CreateWindowExW(WS_EX_CLIENTEDGE, boxClass, name.c_str(),
                             WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS |
                                 (row.tabIndex >= 0 ? WS_TABSTOP : 0),
                             0, 0, 1, 1, form, nullptr, GetModuleHandleW(nullptr), this);
    place(scaleOf(form));
}

PictureBoxWidget::~PictureBoxWidget() {
    if (m_scaled)
        DeleteObject(m_scaled);
}

Scale PictureBoxWidget::scale() const {
    return scaleOf(m_hwnd);
}

void PictureBoxWidget::place(const Scale& scale) {
    SetWindowPos(m_hwnd, nullptr, scale(dip(m_row.left)), scale(dip(m_row.top)),
                 scale(dip(m_row.width)), scale(dip(m_row.height)), SWP_NOZORDER | SWP_NOACTIVATE);
}

void PictureBoxWidget::setPicture(Picture picture) {
    m_player.setPicture(std::move(picture), GetTickCount64());
    // A new picture's frame may stand where the old one's was in memory.
    m_scaledFrom = nullptr;
    InvalidateRect(m_hwnd, nullptr, FALSE);
    scheduleFrames();
}

ImageWidget& PictureBoxWidget::addImage(const ControlRow& row) {
    return *m_images.emplace_back(std::make_unique<ImageWidget>(*this, row));
}

void PictureBoxWidget::redraw(const RECT& rect) {
    InvalidateRect(m_hwnd, &rect, FALSE);
}

// One timer for every animation in the box, set for whichever frame is due
// first.
void PictureBoxWidget::scheduleFrames() {
    ULONGLONG due = m_player.due();
    for (const auto& image : m_images)
        if (image->player().due() && (!due || image->player().due() < due))
            due = image->player().due();
    if (!due) {
        KillTimer(m_hwnd, frameTimer);
        return;
    }
    const ULONGLONG now = GetTickCount64();
    SetTimer(m_hwnd, frameTimer, due > now ? static_cast<UINT>(due - now) : USER_TIMER_MINIMUM,
             nullptr);
}

void PictureBoxWidget::nextFrames() {
    const ULONGLONG now = GetTickCount64();
    if (m_player.advance(now))
        InvalidateRect(m_hwnd, nullptr, FALSE);
    const Scale scale = this->scale();
    for (const auto& image : m_images)
        if (image->player().advance(now)) {
            const RECT r = image->rect(scale);
            redraw(r);
        }
    scheduleFrames();
}

void PictureBoxWidget::drawScenery(HDC dc) {
    const PictureData::Frame* frame = frameOf(m_player.picture(), m_player.frameIndex());
    if (!frame)
        return;
    // The area is the box's own, border included, as on every toolkit; the
    // client area starts inside the border.
    RECT window;
    GetWindowRect(m_hwnd, &window);
    POINT origin{0, 0};
    ClientToScreen(m_hwnd, &origin);
    const int borderX = origin.x - window.left, borderY = origin.y - window.top;
    const Scale scale = this->scale();
    const Area area =
        sceneryArea(window.right - window.left, window.bottom - window.top,
                    scale(m_player.picture().width()), scale(m_player.picture().height()));
    const SIZE size{area.width, area.height};
    if (!m_scaled || m_scaledFrom != frame || m_scaledSize.cx != size.cx ||
        m_scaledSize.cy != size.cy) {
        if (m_scaled)
            DeleteObject(m_scaled);
        BITMAPINFO to = frameInfo(size.cx, size.cy);
        void* bits = nullptr;
        m_scaled = CreateDIBSection(dc, &to, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!m_scaled)
            return;
        HDC scaled = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(scaled, m_scaled);
        SetStretchBltMode(scaled, HALFTONE);
        SetBrushOrgEx(scaled, 0, 0, nullptr);
        const BITMAPINFO from = frameInfo(frame->width, frame->height);
        StretchDIBits(scaled, 0, 0, size.cx, size.cy, 0, 0, frame->width, frame->height,
                      frame->pixels.data(), &from, DIB_RGB_COLORS, SRCCOPY);
        SelectObject(scaled, old);
        DeleteDC(scaled);
        m_scaledFrom = frame;
        m_scaledSize = size;
    }
    HDC scaled = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(scaled, m_scaled);
    BitBlt(dc, area.x - borderX, area.y - borderY, size.cx, size.cy, scaled, 0, 0, SRCCOPY);
    SelectObject(scaled, old);
    DeleteDC(scaled);
}

// Drawn whole into a bitmap first, so that the moving Earth never flickers.
void PictureBoxWidget::paint(HDC target) {
    RECT client;
    GetClientRect(m_hwnd, &client);
    HDC dc = CreateCompatibleDC(target);
    HBITMAP buffer = CreateCompatibleBitmap(target, client.right, client.bottom);
    HGDIOBJ old = SelectObject(dc, buffer);
    HBRUSH background = CreateSolidBrush(m_background);
    FillRect(dc, &client, background);
    DeleteObject(background);
    drawScenery(dc);
    const Scale scale = this->scale();
    for (const auto& image : m_images)
        image->draw(dc, scale);
    if (GetFocus() == m_hwnd) {
        RECT ring = client;
        InflateRect(&ring, -1, -1);
        DrawFocusRect(dc, &ring);
    }
    BitBlt(target, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    SelectObject(dc, old);
    DeleteObject(buffer);
    DeleteDC(dc);
}

LRESULT CALLBACK PictureBoxWidget::procedure(HWND hwnd, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* box = reinterpret_cast<PictureBoxWidget*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!box)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    switch (message) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        box->paint(dc);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_TIMER:
        if (wParam == frameTimer)
            box->nextFrames();
        return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    case WM_LBUTTONDOWN:
        // No Click of its own; it takes the focus, as a picture box does.
        SetFocus(hwnd);
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

// --- Form -------------------------------------------------------------------

namespace {
constexpr DWORD formStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
}

FormWidget::FormWidget(const FormLayout& layout)
    : m_layout(layout) {
    registerClasses();
    const std::wstring caption = wide(layout.caption);
    m_hwnd =
        CreateWindowExW(WS_EX_CONTROLPARENT, formClass, caption.c_str(), formStyle, CW_USEDEFAULT,
                        CW_USEDEFAULT, 100, 100, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    if (!m_hwnd)
        throw std::runtime_error("the system made no window");

    // Made in focus order, which is the order Tab goes through them.
    std::vector<const ControlRow*> rows;
    for (const ControlRow& row : layout.controls)
        rows.push_back(&row);
    std::stable_sort(rows.begin(), rows.end(), [](const ControlRow* a, const ControlRow* b) {
        return (a->tabIndex < 0 ? INT_MAX : a->tabIndex) <
               (b->tabIndex < 0 ? INT_MAX : b->tabIndex);
    });
    int id = firstButtonId;
    for (const ControlRow* row : rows) {
        switch (row->kind) {
        case ControlClass::CommandButton: {
            const std::wstring text = wide(row->caption);
            HWND button = CreateWindowExW(
                0, L"BUTTON", text.c_str(),
                WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON | (row->tabIndex >= 0 ? WS_TABSTOP : 0), 0, 0,
                1, 1, m_hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)),
                GetModuleHandleW(nullptr), nullptr);
            m_buttons.emplace(std::string(row->name), Button{button, row, {}});
            break;
        }
        case ControlClass::PictureBox:
            m_boxes.emplace(std::string(row->name),
                            std::make_unique<PictureBoxWidget>(m_hwnd, *row));
            break;
        case ControlClass::Image:
            break; // inside its box, below
        case ControlClass::Timer:
            m_timers.emplace(std::string(row->name),
                             TimerSlot{static_cast<UINT_PTR>(id++), row->interval, {}, {}});
            break;
        }
    }
    for (const ControlRow& row : layout.controls) {
        if (row.kind != ControlClass::Image)
            continue;
        const auto box = m_boxes.find(row.parent);
        if (box == m_boxes.end())
            throw std::logic_error("an image must be inside a picture box");
        m_images.emplace(std::string(row.name), &box->second->addImage(row));
    }
    placeControls();
    for (const ControlRow* row : rows)
        if (row->tabIndex >= 0) {
            if (auto button = m_buttons.find(row->name); button != m_buttons.end())
                SetFocus(button->second.hwnd);
            else if (auto box = m_boxes.find(row->name); box != m_boxes.end())
                SetFocus(box->second->hwnd());
            break;
        }
}

FormWidget::~FormWidget() {
    if (m_hwnd) {
        SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, 0);
        DestroyWindow(m_hwnd);
    }
    if (m_font)
        DeleteObject(m_font);
}

// The window at its stored client size and every control at its stored
// place, for the DPI of the screen it is on.
void FormWidget::placeControls() {
    const Scale scale = scaleOf(m_hwnd);
    HFONT font = uiFont(scale);
    for (auto& [name, button] : m_buttons) {
        const ControlRow& row = *button.row;
        SetWindowPos(button.hwnd, nullptr, scale(dip(row.left)), scale(dip(row.top)),
                     scale(dip(row.width)), scale(dip(row.height)), SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(button.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    for (auto& [name, box] : m_boxes)
        box->place(scale);
    if (m_font)
        DeleteObject(m_font);
    m_font = font;
    RECT frame{0, 0, scale(dip(m_layout.clientWidth)), scale(dip(m_layout.clientHeight))};
    AdjustWindowRectExForDpi(&frame, formStyle, FALSE, WS_EX_CONTROLPARENT,
                             static_cast<UINT>(scale.dpi));
    SetWindowPos(m_hwnd, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

FormWidget* FormWidget::of(HWND hwnd) {
    if (!hwnd)
        return nullptr;
    HWND root = GetAncestor(hwnd, GA_ROOT);
    wchar_t name[32] = {};
    if (!root || !GetClassNameW(root, name, 32) || std::wstring_view(name) != formClass)
        return nullptr;
    return reinterpret_cast<FormWidget*>(GetWindowLongPtrW(root, GWLP_USERDATA));
}

void FormWidget::showInPlace() {
    // The system keeps a hidden window's place and size: shown again, it
    // comes back where it was. Only the first Show leaves the place to the
    // system, which chose it when the window was made.
    ShowWindow(m_hwnd, m_shownOnce ? SW_SHOW : SW_SHOWNORMAL);
    m_shownOnce = true;
    UpdateWindow(m_hwnd);
}

void FormWidget::hideKeepingPlace() {
    ShowWindow(m_hwnd, SW_HIDE);
}

bool FormWidget::isVisible() const {
    return IsWindowVisible(m_hwnd) != FALSE;
}

// The frame and the title bar are in the window's rectangle; the orbit
// counts them. In device-independent pixels, as every size above.
int FormWidget::outerWidth() const {
    RECT r;
    GetWindowRect(m_hwnd, &r);
    return MulDiv(r.right - r.left, 96, scaleOf(m_hwnd).dpi);
}

int FormWidget::outerHeight() const {
    RECT r;
    GetWindowRect(m_hwnd, &r);
    return MulDiv(r.bottom - r.top, 96, scaleOf(m_hwnd).dpi);
}

PictureBoxWidget* FormWidget::pictureBox(std::string_view name) const {
    const auto it = m_boxes.find(name);
    return it == m_boxes.end() ? nullptr : it->second.get();
}

ImageWidget* FormWidget::image(std::string_view name) const {
    const auto it = m_images.find(name);
    return it == m_images.end() ? nullptr : it->second;
}

void FormWidget::setButtonHandler(std::string_view button, Handler handler) {
    named(m_buttons, button, "button").handler = std::move(handler);
}

void FormWidget::setTimerHandler(std::string_view timer, Handler handler) {
    named(m_timers, timer, "timer").handler = std::move(handler);
}

void FormWidget::startTimers() {
    const double now = clockMs();
    for (auto& [name, slot] : m_timers)
        if (slot.interval > 0) {
            slot.cadence = Cadence(now, slot.interval);
            SetTimer(m_hwnd, slot.id, static_cast<UINT>(slot.interval), nullptr);
        }
}

void FormWidget::tick(UINT_PTR id) {
    for (auto& [name, slot] : m_timers) {
        if (slot.id != id)
            continue;
        if (slot.cadence.take(clockMs()))
            runHandler(slot.handler, this);
        SetTimer(m_hwnd, slot.id, slot.cadence.wait(clockMs()), nullptr);
        return;
    }
}

void FormWidget::runClick() {
    if (m_click)
        runHandler(m_click, this);
}

LRESULT CALLBACK FormWidget::procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* form = reinterpret_cast<FormWidget*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!form)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    form->m_hwnd = hwnd; // known from the window's first message on
    return form->handle(message, wParam, lParam);
}

LRESULT FormWidget::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        // Return, which the dialog keys send as the window's default
        // command, presses the focused button, as Space does.
        HWND from = reinterpret_cast<HWND>(lParam);
        if (id == IDOK && !from)
            from = GetFocus();
        for (auto& [name, button] : m_buttons)
            if (button.hwnd == from && (HIWORD(wParam) == BN_CLICKED || id == IDOK)) {
                runHandler(button.handler, this);
                return 0;
            }
        return 0;
    }
    case WM_TIMER:
        tick(static_cast<UINT_PTR>(wParam));
        return 0;
    case WM_LBUTTONDOWN:
        // Only the background gets here: every control takes its own clicks.
        m_pressed = true;
        SetCapture(m_hwnd);
        return 0;
    case WM_LBUTTONUP: {
        const bool pressed = m_pressed;
        m_pressed = false;
        ReleaseCapture();
        RECT client;
        GetClientRect(m_hwnd, &client);
        const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        if (pressed && PtInRect(&client, at) && ChildWindowFromPoint(m_hwnd, at) == m_hwnd)
            runClick();
        return 0;
    }
    case WM_CAPTURECHANGED:
        m_pressed = false;
        return 0;
    case WM_DPICHANGED: {
        // Moved to a screen of another DPI: the same twips, its pixels.
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(m_hwnd, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        placeControls();
        return 0;
    }
    case WM_CLOSE:
        // Closing either window by its frame ends the program, as its exit
        // button does: otherwise the other window could be left hidden, the
        // program running with nothing on screen.
        runHandler([] { endProgram(); }, this);
        return 0;
    default:
        return DefWindowProcW(m_hwnd, message, wParam, lParam);
    }
}

// --- Keys --------------------------------------------------------------------

bool dialogKey(MSG& message) {
    FormWidget* form = FormWidget::of(message.hwnd);
    if (!form)
        return false;
    const bool repeat = (message.lParam & (1 << 30)) != 0;
    if (message.message == WM_KEYDOWN && message.wParam == VK_TAB && GetKeyState(VK_CONTROL) < 0) {
        // Once for a key held down.
        if (!repeat)
            form->runClick();
        return true;
    }
    // A held Return presses the button once, not once for each of the
    // keyboard's repeats: each press may load a picture.
    if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN && repeat)
        return true;
    return IsDialogMessageW(form->hwnd(), &message) != FALSE;
}

} // namespace rt::detail
