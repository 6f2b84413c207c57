// A static text control turned into a link: drawn underlined in the link
// colour, with the hand cursor and a tooltip over its text, opened with the
// shell's "open" verb by a click, Enter or the space bar.
#ifndef RUNTIME_HYPERLINK_CONTROL_WIN32_H
#define RUNTIME_HYPERLINK_CONTROL_WIN32_H

#include <windows.h>

#include "support/wide_string.h"

class HyperlinkControl {
public:
    HyperlinkControl() = default;
    ~HyperlinkControl();
    HyperlinkControl(const HyperlinkControl&) = delete;
    HyperlinkControl& operator=(const HyperlinkControl&) = delete;

    // Takes over the static control; its own text is what the link shows
    // and opens. False when the control cannot be taken over.
    bool attach(HWND control);
    // Restores the control (also done on destruction and when the control
    // is destroyed).
    void detach();

    bool visited() const { return visited_; }
    const WideString& target() const { return target_; }

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void paint(HDC dc);
    // The text's rectangle in client coordinates, as painted.
    RECT textRect();
    bool overText(LPARAM point);
    UINT drawFlags() const;
    void createTooltip();
    void open();

    HWND control_ = nullptr;
    WNDPROC original_ = nullptr;
    HWND tooltip_ = nullptr;
    HFONT underlined_ = nullptr;  // owned
    HFONT baseFont_ = nullptr;    // the static control's font when the underlined one was made
    COLORREF linkColour_ = RGB(0, 0, 255);
    COLORREF visitedColour_ = RGB(128, 0, 128);
    bool visited_ = false;
    bool pressed_ = false;
    WideString target_;
};

// The link and visited colours from the current user's settings, each left
// as given when its value is missing or malformed.
void readLinkColours(COLORREF& link, COLORREF& visited);

#endif
