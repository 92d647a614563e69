#pragma once

// The Win32 windows behind a Form and its controls (the members the core
// forwards to are in runtime/backend.h): a top-level window with the
// system's own frame, BUTTONs, and a picture box that draws its scenery and
// the images inside it itself, as an Image is a control without a window of
// its own. Toolkit-internal.

#include "runtime/cadence.h"
#include "runtime/form.h"
#include "runtime/win32/unicode.h"

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace rt::detail {

// Device pixels for device-independent ones (1/96 inch), at a window's DPI.
struct Scale {
    int dpi = 96;
    int operator()(int dip) const { return MulDiv(dip, dpi, 96); }
};

// Which frame of a picture is shown, and when the next one is due.
class FramePlayer {
public:
    void setPicture(Picture picture, ULONGLONG now);
    const Picture& picture() const { return m_picture; }
    int frameIndex() const { return m_index; }
    // Moves on to the frame whose time has come; true when it changed.
    bool advance(ULONGLONG now);
    // When the next frame is due; 0 for a still picture.
    ULONGLONG due() const { return m_due; }

private:
    Picture m_picture;
    int m_index = 0;
    ULONGLONG m_due = 0;
};

class PictureBoxWidget;

class ImageWidget {
public:
    ImageWidget(PictureBoxWidget& box, const ControlRow& row);
    ~ImageWidget();
    ImageWidget(const ImageWidget&) = delete;
    ImageWidget& operator=(const ImageWidget&) = delete;
    const Picture& picture() const { return m_player.picture(); }
    void setPicture(Picture picture);
    void moveTo(int x, int y); // device-independent pixels in the box's client area
    FramePlayer& player() { return m_player; }
    // Where it is drawn, in device pixels of the box's client area.
    RECT rect(const Scale& scale) const;
    void draw(HDC dc, const Scale& scale) const;

private:
    PictureBoxWidget& m_box;
    bool m_stretch;
    int m_left, m_top, m_width, m_height; // device-independent pixels
    FramePlayer m_player;
    mutable HBITMAP m_bitmap = nullptr; // the frame shown last, as GDI draws it
    mutable const void* m_bitmapOf = nullptr;
};

class PictureBoxWidget {
public:
    PictureBoxWidget(HWND form, const ControlRow& row);
    ~PictureBoxWidget();
    PictureBoxWidget(const PictureBoxWidget&) = delete;
    PictureBoxWidget& operator=(const PictureBoxWidget&) = delete;

    HWND hwnd() const { return m_hwnd; }
    const Picture& picture() const { return m_player.picture(); }
    void setPicture(Picture picture);
    ImageWidget& addImage(const ControlRow& row);
    // Redraws what lies under `rect` (device pixels of the client area).
    void redraw(const RECT& rect);
    void scheduleFrames();
    Scale scale() const;
    void place(const Scale& scale); // at its stored place, for this DPI

    static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

private:
    void paint(HDC dc);
    void drawScenery(HDC dc);
    void nextFrames();
    const ControlRow& m_row;
    HWND m_hwnd;
    COLORREF m_background;
    FramePlayer m_player;
    std::vector<std::unique_ptr<ImageWidget>> m_images;
    // The scenery's frame scaled for the box, drawn last.
    HBITMAP m_scaled = nullptr;
    SIZE m_scaledSize{};
    const void* m_scaledFrom = nullptr;
};

class FormWidget {
public:
    explicit FormWidget(const FormLayout& layout);
    ~FormWidget();
    FormWidget(const FormWidget&) = delete;
    FormWidget& operator=(const FormWidget&) = delete;

    HWND hwnd() const { return m_hwnd; }
    void showInPlace();
    void hideKeepingPlace();
    bool isVisible() const;
    int outerWidth() const;
    int outerHeight() const;

    PictureBoxWidget* pictureBox(std::string_view name) const;
    ImageWidget* image(std::string_view name) const;
    void setClickHandler(Handler handler) { m_click = std::move(handler); }
    void setButtonHandler(std::string_view button, Handler handler);
    void setTimerHandler(std::string_view timer, Handler handler);
    void startTimers();

    // A click on the background, or Ctrl+Tab: the window's Click handler.
    void runClick();
    // The window behind a handle of the program's, or null.
    static FormWidget* of(HWND hwnd);

    static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

private:
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void placeControls();
    void tick(UINT_PTR id);

    struct TimerSlot {
        UINT_PTR id;
        int interval;
        Handler handler;
        Cadence cadence;
    };
    struct Button {
        HWND hwnd;
        const ControlRow* row;
        Handler handler;
    };
    const FormLayout& m_layout;
    HWND m_hwnd = nullptr;
    HFONT m_font = nullptr;
    std::map<std::string, Button, std::less<>> m_buttons;
    std::map<std::string, std::unique_ptr<PictureBoxWidget>, std::less<>> m_boxes;
    std::map<std::string, ImageWidget*, std::less<>> m_images;
    std::map<std::string, TimerSlot, std::less<>> m_timers;
    Handler m_click;
    bool m_pressed = false;
    bool m_shownOnce = false;
};

// The DPI a window is drawn at.
Scale scaleOf(HWND hwnd);

// The font of the program's Chinese text at a DPI.
HFONT uiFont(const Scale& scale);

// The performance counter, in milliseconds.
double clockMs();

// A message of the loop that is one of a form's keys: Tab and Shift+Tab go
// through the controls, Return and Space press a button, Ctrl+Tab is the
// background click. True when it was handled so.
bool dialogKey(MSG& message);

} // namespace rt::detail
