// The splash screen: the launcher's own window on a thread of its own, or
// the runtime's splash library.
#ifndef SPLASH_SPLASH_H
#define SPLASH_SPLASH_H

class Launcher;

// The launcher's own splash window object. The window itself belongs to the
// splash thread; the launcher thread creates the object before that thread
// starts and deletes it after the thread has ended.
class SplashWindow {
public:
    virtual ~SplashWindow() = default;
};

// Takes the launcher's own splash window down: stops the splash thread and
// deletes the window object. A second call does nothing. messageOwner is
// left as it is.
void closeSplash(Launcher& launcher);

#endif
