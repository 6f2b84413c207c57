// The splash screen: the launcher's own window on a thread of its own, or
// the runtime's splash library.
#ifndef SPLASH_SPLASH_H
#define SPLASH_SPLASH_H

#include <stddef.h>
#include <stdint.h>

#include "support/wide_string.h"

class Launcher;

// The launcher's own splash window object. The window itself belongs to the
// splash thread; the launcher thread creates the object before that thread
// starts and deletes it after the thread has ended.
class SplashWindow {
public:
    virtual ~SplashWindow() = default;
};

// The drop shadow only for exactly "true".
bool splashShadowWanted(const WideString& shadow);
// The runtime's splash library is tried first when the preference is "Yes"
// in any letter case and the runtime has the library.
bool tryRuntimeSplash(const WideString& preference, const WideString& libraryPath);

// Shows the splash configured in the "Display" section of the settings file
// (never in built-in settings), through the runtime's library or the
// launcher's own window, without waiting for it. Nothing that goes wrong
// here stops the launch: it goes on without a splash.
void startSplash(Launcher& launcher);

// The launcher's own window: makes the window object and starts the splash
// thread. False (with no object left behind) when the thread cannot start.
bool startSplashWindow(Launcher& launcher);

// The owner of an error box: messageOwner. While the splash thread is still
// making its window, the report waits for it (about a second at most), so
// that the box is owned by the splash instead of being covered by it.
void* errorBoxOwner(Launcher& launcher);

// Takes the launcher's own splash window down: stops the splash thread and
// deletes the window object. A second call does nothing. messageOwner is
// left as it is.
void closeSplash(Launcher& launcher);

// Geometry and image checks of the splash window.
struct SplashRect {
    int32_t left, top, right, bottom;
};
// Centred on a screen of the given size; each edge by a signed division that
// truncates toward zero, so an image larger than the screen gets negative
// edges.
SplashRect centredSplashRect(int32_t screenWidth, int32_t screenHeight, int32_t width, int32_t height);
// HIMETRIC (hundredths of a millimetre) to pixels at the given pixels per
// inch, rounded to the nearest pixel.
int32_t himetricToPixels(int32_t himetric, int32_t pixelsPerInch);
// The eight bytes every PNG file begins with.
bool hasPngSignature(const uint8_t* bytes, size_t length);
// Larger image files are not read (and an empty one has nothing to show).
const uint64_t kSplashImageLimit = 64ull * 1024 * 1024;
bool splashImageSizeAccepted(uint64_t size);

#endif
